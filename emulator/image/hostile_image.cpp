#include "emulator/image/hostile_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "emulator/image/folder_filler.h"
#include "emulator/image/receiver_image.h"
#include "pvrdisk/pcfm.h"

namespace image {

namespace {

constexpr uint32_t kTableSectors = 256;
constexpr uint16_t kEndOfChain = 0xFFFF;
constexpr uint32_t kEntryBytes = 64;
constexpr uint32_t kEntriesPerDirectory = 512;
constexpr uint32_t kBeyondTheTable = 0x10000;
constexpr int kLongLevels = 16;
constexpr int kNestLevels = 6;
constexpr int kNestEntries = 40;

// Field offsets of the 64-byte directory entry.
constexpr uint32_t kNameField = 0;
constexpr uint32_t kFirstClusterField = 48;
constexpr uint32_t kLastClusterField = 52;

std::string Pad32(char letter) {
    return std::string(32, letter);
}

// The image seen as raw bytes: entries are found by their stored name and patched in place.
class RawImage {
  public:
    explicit RawImage(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        uint8_t boot[kSectorSize] = {};
        ok_ = fd_ >= 0 && pread(fd_, boot, sizeof boot, 0) == sizeof boot;
        fat_start_ = boot[66] | boot[67] << 8;
        sectors_per_cluster_ = boot[70] | boot[71] << 8;
        ok_ = ok_ && sectors_per_cluster_ != 0;
    }
    ~RawImage() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return ok_; }

    uint16_t Link(uint32_t cluster) {
        uint8_t bytes[2] = {};
        Read(TableOffset(cluster), bytes, 2);
        return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    }
    void SetLink(uint32_t cluster, uint16_t value) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
        Write(TableOffset(cluster), bytes, 2);
    }
    // The offset of the entry reached by `path` (stored names, no extension) from the root;
    // 0 when a component is missing.
    uint64_t Entry(const std::vector<std::string>& path) {
        uint32_t directory = 0;
        uint64_t offset = 0;
        for (const std::string& name : path) {
            offset = Find(directory, name);
            if (offset == 0) return 0;
            directory = Field32(offset, kFirstClusterField);
        }
        return offset;
    }
    uint32_t FirstCluster(const std::vector<std::string>& path) {
        const uint64_t offset = Entry(path);
        return offset == 0 ? 0 : Field32(offset, kFirstClusterField);
    }
    void Rename(uint64_t entry, const std::string& name) {
        uint8_t field[35] = {};
        std::memcpy(field, name.data(), std::min<size_t>(name.size(), 32));
        Write(entry + kNameField, field, sizeof field);
    }
    void SetClusters(uint64_t entry, uint32_t first, uint32_t last) {
        SetField32(entry, kFirstClusterField, first);
        SetField32(entry, kLastClusterField, last);
    }
    std::string EntryBytes(uint64_t entry) {
        std::string bytes(kEntryBytes, '\0');
        Read(entry, bytes.data(), kEntryBytes);
        return bytes;
    }
    void PutEntry(uint32_t directory, uint32_t index, const std::string& bytes) {
        Write(EntryOffset(directory, index), bytes.data(), kEntryBytes);
    }
    // Frees every cluster of the chain from `first` (a sound chain).
    void FreeChain(uint32_t first) {
        for (uint32_t cluster = first; cluster >= 1 && cluster < kEndOfChain;) {
            const uint32_t next = Link(cluster);
            SetLink(cluster, 0);
            cluster = next;
        }
    }
    // The `n`th cluster of a sound chain, counting from 0.
    uint32_t Nth(uint32_t first, int n) {
        for (; n > 0; --n) first = Link(first);
        return first;
    }
    uint32_t HighestFreeCluster() {
        for (uint32_t cluster = 0xFFFE; cluster >= 1; --cluster)
            if (Link(cluster) == 0) return cluster;
        return 0;
    }

  private:
    uint64_t TableOffset(uint32_t cluster) const {
        return uint64_t{fat_start_} * kSectorSize + 2ull * cluster;
    }
    uint64_t EntryOffset(uint32_t directory, uint32_t index) const {
        return (uint64_t{fat_start_} + kTableSectors + uint64_t{directory} * sectors_per_cluster_) *
                   kSectorSize +
               uint64_t{index} * kEntryBytes;
    }
    uint64_t Find(uint32_t directory, const std::string& name) {
        // "name.ext" is stored as the name and the extension field.
        uint8_t wanted[35] = {};
        const size_t dot = name.rfind('.');
        const size_t name_bytes = dot != std::string::npos && dot > 0 ? dot : name.size();
        std::memcpy(wanted, name.data(), std::min<size_t>(name_bytes, 32));
        if (name_bytes < name.size())
            std::memcpy(wanted + 32, name.data() + dot + 1,
                        std::min<size_t>(name.size() - dot - 1, 3));
        for (uint32_t index = 0; index < kEntriesPerDirectory; ++index) {
            uint8_t entry[kEntryBytes];
            const uint64_t offset = EntryOffset(directory, index);
            Read(offset, entry, sizeof entry);
            if (entry[0] == 0) break;
            if (std::memcmp(entry, wanted, sizeof wanted) == 0) return offset;
        }
        return 0;
    }
    uint32_t Field32(uint64_t entry, uint32_t field) {
        uint8_t bytes[4] = {};
        Read(entry + field, bytes, 4);
        return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }
    void SetField32(uint64_t entry, uint32_t field, uint32_t value) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                  static_cast<uint8_t>(value >> 16),
                                  static_cast<uint8_t>(value >> 24)};
        Write(entry + field, bytes, 4);
    }
    void Read(uint64_t offset, void* into, size_t size) {
        if (pread(fd_, into, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
            ok_ = false;
    }
    void Write(uint64_t offset, const void* from, size_t size) {
        if (pwrite(fd_, from, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
            ok_ = false;
    }

    int fd_;
    bool ok_ = false;
    uint32_t fat_start_ = 0;
    uint32_t sectors_per_cluster_ = 0;
};

std::string LongLevelName(int level) {
    return Pad32(static_cast<char>('A' + level));
}

// The library's part: everything made as sound files and folders, with short stand-in names
// where the real name could not be given through a path.
bool MakeSoundEntries(std::string* error) {
    const std::string cluster_file(100000, 'x');
    bool ok = WriteReceiverFile("C:\\shared.bin", std::string(70000, 's'), error) &&
              pcfm_mkdir("C:\\long") == 0;
    std::string long_path = "C:\\long";
    for (int level = 0; ok && level < kLongLevels; ++level) {
        long_path += "\\l" + std::to_string(level);
        ok = pcfm_mkdir(long_path.c_str()) == 0;
    }
    ok = ok && WriteReceiverFile(long_path + "\\deep.txt", "deep\n", error) &&
         WriteReceiverFile("C:\\long\\" + Pad32('n') + ".txt", "name of 32 bytes\n", error) &&
         pcfm_mkdir("C:\\chains") == 0 &&
         WriteReceiverFile("C:\\chains\\intact.bin", std::string(100000, 'i'), error);
    for (const char* name :
         {"ends_early.bin", "zero_link.bin", "into_free.bin", "out_of_range.bin", "loop.bin"})
        ok = ok && WriteReceiverFile(std::string("C:\\chains\\") + name, cluster_file, error);
    ok = ok && WriteReceiverFile("C:\\chains\\no_cluster.bin", std::string(1000, 'b'), error) &&
         pcfm_mkdir("C:\\names") == 0 &&
         WriteReceiverFile("C:\\names\\ab", std::string(1000, 'a'), error);
    for (char letter = 'c'; ok && letter <= 'h'; ++letter)
        ok = WriteReceiverFile(std::string("C:\\names\\n") + letter, std::string(1000, letter),
                               error);
    ok = ok && pcfm_mkdir("C:\\names\\up") == 0 &&
         WriteReceiverFile("C:\\names\\up\\escape.txt", "escape\n", error) &&
         pcfm_mkdir("C:\\graphs") == 0 && pcfm_mkdir("C:\\graphs\\p1") == 0 &&
         pcfm_mkdir("C:\\graphs\\p1\\child") == 0 &&
         WriteReceiverFile("C:\\graphs\\p1\\child\\kid.txt", "kid\n", error) &&
         pcfm_mkdir("C:\\graphs\\p2") == 0 && pcfm_mkdir("C:\\graphs\\p2\\child") == 0 &&
         pcfm_mkdir("C:\\graphs\\self") == 0 && pcfm_mkdir("C:\\graphs\\self\\again") == 0 &&
         pcfm_mkdir("C:\\graphs\\up") == 0 && pcfm_mkdir("C:\\graphs\\up\\root") == 0 &&
         pcfm_mkdir("C:\\graphs\\nest") == 0;
    std::string nest = "C:\\graphs\\nest";
    for (int level = 0; ok && level < kNestLevels; ++level) {
        nest += "\\d00";
        ok = pcfm_mkdir(nest.c_str()) == 0;
    }
    ok = ok && WriteReceiverFile(nest + "\\leaf.txt", "leaf\n", error);
    if (!ok && error->empty())
        *error = "the library failed with error " + std::to_string(pcfm_errno);
    return ok;
}

void DamageChains(RawImage& disk) {
    const auto first = [&](const char* name) { return disk.FirstCluster({"chains", name}); };
    // Each file has 4 clusters, c0 to c3.
    uint32_t c0 = first("ends_early.bin");
    disk.FreeChain(disk.Nth(c0, 1));
    disk.SetLink(c0, kEndOfChain);
    disk.SetClusters(disk.Entry({"chains", "ends_early.bin"}), c0, c0);

    c0 = first("zero_link.bin");
    disk.FreeChain(disk.Nth(c0, 1));
    disk.SetLink(c0, 0);

    c0 = first("into_free.bin");
    uint32_t c1 = disk.Nth(c0, 1);
    disk.FreeChain(disk.Nth(c0, 2));
    disk.SetLink(c1, static_cast<uint16_t>(disk.HighestFreeCluster()));

    const uint64_t out_of_range = disk.Entry({"chains", "out_of_range.bin"});
    disk.FreeChain(first("out_of_range.bin"));
    disk.SetClusters(out_of_range, kBeyondTheTable, kBeyondTheTable);

    c0 = first("loop.bin");
    const uint32_t c2 = disk.Nth(c0, 2);
    disk.FreeChain(disk.Nth(c0, 3));
    disk.SetLink(c2, static_cast<uint16_t>(c0));

    const uint64_t no_cluster = disk.Entry({"chains", "no_cluster.bin"});
    disk.FreeChain(first("no_cluster.bin"));
    disk.SetClusters(no_cluster, 0, 0);
}

void NameTheUnaddressable(RawImage& disk) {
    const struct {
        const char* stand_in;
        std::string name;
    } names[] = {{"nc", std::string("ab\x05zz")},
                 {"nd", std::string("\x05"
                                    "ab")},
                 {"ne", "a\\b"},
                 {"nf", "a/b"},
                 {"ng", "."},
                 {"nh", ".."},
                 {"up", "..\\..\\up"}};
    for (const auto& entry : names) disk.Rename(disk.Entry({"names", entry.stand_in}), entry.name);
}

void RenameLongLevels(RawImage& disk) {
    std::vector<std::string> path = {"long"};
    for (int level = 0; level < kLongLevels; ++level) {
        path.push_back("l" + std::to_string(level));
        disk.Rename(disk.Entry(path), LongLevelName(level));
        path.back() = LongLevelName(level);
    }
}

// Points a folder entry at `target` and frees the cluster it had.
void Redirect(RawImage& disk, const std::vector<std::string>& path, uint32_t target) {
    const uint64_t entry = disk.Entry(path);
    disk.FreeChain(disk.FirstCluster(path));
    disk.SetClusters(entry, target, target);
}

void LinkGraphs(RawImage& disk) {
    Redirect(disk, {"graphs", "p2", "child"}, disk.FirstCluster({"graphs", "p1", "child"}));
    Redirect(disk, {"graphs", "self", "again"}, disk.FirstCluster({"graphs", "self"}));
    Redirect(disk, {"graphs", "up", "root"}, 0);
    std::vector<std::string> path = {"graphs", "nest"};
    for (int level = 0; level < kNestLevels; ++level) {
        const uint32_t directory = disk.FirstCluster(path);
        path.push_back("d00");
        std::string entry = disk.EntryBytes(disk.Entry(path));
        // "d00" was made first, after "." and "..": entries 3 onwards are free.
        for (int copy = 1; copy < kNestEntries; ++copy) {
            char name[4];
            std::snprintf(name, sizeof name, "d%02d", copy);
            std::memcpy(entry.data(), name, 3);
            disk.PutEntry(directory, static_cast<uint32_t>(2 + copy), entry);
        }
    }
}

}  // namespace

bool FillHostileContent(const std::string& image_path, std::string* error) {
    if (const int mounted = MountReceiverImage(image_path); mounted != 0) {
        *error = "cannot mount " + image_path + ": error " + std::to_string(mounted);
        UnmountReceiverImage();
        return false;
    }
    const bool made = MakeSoundEntries(error);
    UnmountReceiverImage();
    if (!made) return false;
    RawImage disk(image_path);
    if (!disk.ok()) {
        *error = "cannot open " + image_path;
        return false;
    }
    DamageChains(disk);
    NameTheUnaddressable(disk);
    RenameLongLevels(disk);
    LinkGraphs(disk);
    if (!disk.ok()) *error = "cannot write " + image_path;
    return disk.ok();
}

}  // namespace image
