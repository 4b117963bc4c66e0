// Mounts a mutated receiver disk given in brief (compact_disk.h), lists its folders (each
// once, by its cluster), reads every file, and makes, writes, renames and deletes entries, some
// through two handles on one file and some by paths longer than a path may be. Nothing may
// crash, hang or trip a sanitizer. Whatever the disk holds: a path over 511 bytes is refused
// and changes nothing, and a remove or rename changes the entry its path names and no other.
// On a disk the checker finds clean, what is written (through one handle or two) reads back
// the same, and the checker still finds the disk clean afterwards.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fs/compact_disk.h"
#include "fuzz/fs/memory_disk.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/fs/pcfm_internal.h"

namespace {

constexpr uint64_t kSectorLimit = 1ull << 32;
constexpr size_t kMaxListedPaths = 24;
constexpr uint64_t kReadBudget = 128u << 10;
// Folders are listed once each, and this many at most.
constexpr size_t kMaxListedFolders = 16;
constexpr uint16_t kListedEntries = 32;
constexpr size_t kIdentifiedPaths = 8;

void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::vector<uint32_t> folder_clusters;  // every folder listed, by its cluster
};

std::string Join(const std::string& folder, const pcfm_dirent& entry) {
    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    path += entry.name;
    if (entry.extension[0] != 0) path += std::string(".") + entry.extension;
    return path;
}

bool Listed(const Listing& listing, uint32_t cluster) {
    for (uint32_t seen : listing.folder_clusters)
        if (seen == cluster) return true;
    return false;
}

void ListTree(const std::string& folder, Listing* listing) {
    if (listing->folder_clusters.size() >= kMaxListedFolders) return;
    pcfm_file* directory = pcfm_open(folder.c_str(), "d");
    if (directory == nullptr) return;
    const uint32_t cluster = directory->is_root ? 0 : directory->entry->first_cluster;
    if (Listed(*listing, cluster)) {
        pcfm_close(directory);
        return;
    }
    listing->folder_clusters.push_back(cluster);
    pcfm_dirent entry{};
    std::vector<std::string> subfolders;
    // The first entries and the last ones: each read scans the directory from its start.
    for (uint16_t index = 0; index < 512; index = index == kListedEntries ? 505 : index + 1) {
        entry.index = index;
        if (pcfm_readdir(directory, &entry) != 0) {
            if (index < 505) index = 504;
            continue;
        }
        if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) continue;
        const std::string path = Join(folder, entry);
        if (entry.attributes & kAttrDirectory) {
            if (listing->folders.size() < kMaxListedPaths) listing->folders.push_back(path);
            subfolders.push_back(path);
        } else if (listing->files.size() < kMaxListedPaths) {
            listing->files.push_back(path);
        }
    }
    pcfm_close(directory);
    for (const std::string& sub : subfolders) ListTree(sub, listing);
}

// Which entry a path names.
struct Identity {
    bool found = false;
    bool root = false;
    uint32_t directory = 0;
    uint32_t index = 0;
    bool operator==(const Identity& other) const {
        return found == other.found && root == other.root && directory == other.directory &&
               index == other.index;
    }
};

Identity Identify(const std::string& path) {
    pcfm_file* file = pcfm_open(path.c_str(), "r");
    if (file == nullptr && pcfm_errno == EWRONGKIND) file = pcfm_open(path.c_str(), "d");
    if (file == nullptr) return {};
    const Identity identity{true, file->is_root, file->directory_cluster, file->entry_index};
    pcfm_close(file);
    return identity;
}

struct Named {
    std::string path;
    Identity identity;
};

// The first few files and folders: enough to see an operation act on the wrong entry.
std::vector<Named> IdentifySome(const Listing& listing) {
    std::vector<Named> named;
    for (const auto* paths : {&listing.files, &listing.folders})
        for (size_t i = 0; i < paths->size() && i < kIdentifiedPaths; ++i)
            named.push_back({(*paths)[i], Identify((*paths)[i])});
    return named;
}

// Every path that named another entry than those `changed` names it still.
void ExpectOthersUnchanged(const std::vector<Named>& before, const std::vector<Identity>& changed,
                           const std::string& operations) {
    for (const Named& named : before) {
        if (!named.identity.found) continue;
        bool was_changed = false;
        for (const Identity& identity : changed) was_changed |= named.identity == identity;
        if (!was_changed && !(Identify(named.path) == named.identity))
            Fail(operations + " changed what " + named.path + " names");
    }
}

void ReadAll(const std::string& path, uint64_t* budget) {
    pcfm_file* file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) return;
    static uint8_t chunk[70000];
    while (*budget > 0) {
        const size_t want = std::min<uint64_t>(sizeof chunk, *budget);
        const size_t got = pcfm_read(chunk, 1, want, file);
        if (got == 0) break;
        *budget -= got;
    }
    uint64_t offset = 513;
    pcfm_seek(file, &offset, 0);
    pcfm_read(chunk, 7, 100, file);
    pcfm_close(file);
}

constexpr size_t kMaxPattern = 65536;

// Bytes seed, seed + 13, seed + 26, ... (at most kMaxPattern), from one block: the pattern
// repeats every 256 bytes, and 197 undoes the step of 13 (13 * 197 = 1 modulo 256).
std::string_view Pattern(size_t size, uint8_t seed) {
    static const auto block = [] {
        std::vector<char> bytes(kMaxPattern + 256);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13);
        return bytes;
    }();
    return {block.data() + (seed * 197u) % 256, std::min(size, kMaxPattern)};
}

void ExpectReadsBack(const std::string& path, uint64_t at, std::string_view data) {
    pcfm_file* file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) Fail("written file " + path + " cannot be opened again");
    static std::string back;
    back.resize(data.size());
    const int sought = pcfm_seek(file, &at, 0);
    const size_t got = sought == 0 ? pcfm_read(back.data(), 1, back.size(), file) : 0;
    pcfm_close(file);
    if (got != data.size() || back != data)
        Fail(path + " at " + std::to_string(at) + " does not read back what was written");
}

// Writes `data` at `offset` (or at the end for "ab"), and checks it reads back when `strict`.
void WriteAndVerify(const std::string& path, const char* mode, uint64_t offset,
                    std::string_view data, bool strict) {
    pcfm_file* file = pcfm_open(path.c_str(), mode);
    if (file == nullptr) return;
    uint64_t start = offset;
    if (mode[0] == 'a') {
        pcfm_tell(file, &start);
    } else if (pcfm_seek(file, &start, 0) != 0) {
        pcfm_seek(file, &start, 2);
        pcfm_tell(file, &start);
    }
    const size_t written = pcfm_write(data.data(), 1, data.size(), file);
    const bool closed = pcfm_close(file) == 0;
    if (strict && written == data.size() && closed) ExpectReadsBack(path, start, data);
}

// Two handles on one file: the first writes inside it, the second at its end as the first
// left it. Both writes must be there afterwards.
void WriteThroughTwoHandles(const std::string& path, const uint8_t* choice, bool strict) {
    pcfm_file* first = pcfm_open(path.c_str(), "+b");
    pcfm_file* second = pcfm_open(path.c_str(), "+b");
    const std::string_view inside = Pattern(300 + choice[0] * 5, choice[1]);
    const std::string_view appended = Pattern(40000 + choice[2] * 11, choice[3]);
    uint64_t inside_at = choice[4] * 61u;
    uint64_t end = 0;
    if (pcfm_seek(first, &inside_at, 0) != 0) inside_at = 0;
    pcfm_seek(first, &inside_at, 0);
    const bool first_ok = pcfm_write(inside.data(), 1, inside.size(), first) == inside.size();
    pcfm_seek(second, &end, 2);
    pcfm_tell(second, &end);
    const bool second_ok =
        pcfm_write(appended.data(), 1, appended.size(), second) == appended.size();
    const bool closed = pcfm_close(first) == 0 && pcfm_close(second) == 0;
    if (!strict || first == nullptr || second == nullptr || !closed || !first_ok || !second_ok)
        return;
    // The second wrote at the end, beyond what the first wrote unless the first ran past it.
    if (inside_at + inside.size() <= end) ExpectReadsBack(path, inside_at, inside);
    ExpectReadsBack(path, end, appended);
}

// A path over 511 bytes that would name `path` if its ".\" steps were left out.
std::string TooLong(const std::string& path) {
    std::string padded = "C:\\";
    while (padded.size() + path.size() - 3 <= kMaxPathBytes) padded += ".\\";
    return padded + path.substr(3);
}

void RefuseTooLong(const std::string& path, const std::string& operation, int result) {
    if (result != -1 || pcfm_errno != EBADNAME)
        Fail(operation + " of a path over 511 bytes was not refused: " + path);
}

// A path over 511 bytes is refused by every operation.
void ExerciseLongPaths(const std::vector<Named>& named, const uint8_t* choice) {
    if (!named.empty()) {
        const std::string& path = named[choice[0] % named.size()].path;
        const std::string too_long = TooLong(path);
        RefuseTooLong(too_long, "remove", pcfm_remove(too_long.c_str()));
        RefuseTooLong(too_long, "rmdir", pcfm_rmdir(too_long.c_str()));
        RefuseTooLong(too_long, "mkdir", pcfm_mkdir(too_long.c_str()));
        RefuseTooLong(too_long, "rename", pcfm_rename(too_long.c_str(), "C:\\fz\\long"));
        RefuseTooLong(too_long, "rename to", pcfm_rename(path.c_str(), (too_long + "x").c_str()));
        if (pcfm_open(too_long.c_str(), "wb") != nullptr || pcfm_errno != EBADNAME)
            Fail("open of a path over 511 bytes was not refused");
    }
}

// Removes `path`: the entry it named must be gone. The entry it named, or {}.
Identity RemoveExactly(const std::string& path) {
    const Identity victim = Identify(path);
    if (pcfm_remove(path.c_str()) == 0 && victim.found && Identify(path) == victim)
        Fail("remove of " + path + " left its entry");
    return victim;
}

// Renames `path` to `target`: the entry must have moved. The entry `path` named, or {}.
Identity RenameExactly(const std::string& path, const std::string& target) {
    const Identity moved = Identify(path);
    const bool renamed = pcfm_rename(path.c_str(), target.c_str()) == 0;
    if (renamed && moved.found && (Identify(path) == moved || !Identify(target).found))
        Fail("rename of " + path + " did not move it");
    return moved;
}

// Writes through one handle and through two, in a new folder and in a listed file.
void ExerciseWrites(const Listing& listing, const uint8_t* choice, bool strict) {
    WriteAndVerify("C:\\fz\\new.bin", "wb", 0, Pattern(1500 + choice[0] * 7, choice[1]), strict);
    WriteAndVerify("C:\\fz\\empty", "wb", 0, {}, strict);
    WriteThroughTwoHandles("C:\\fz\\empty", choice + 10, strict);
    if (listing.files.empty()) return;
    const std::string& victim = listing.files[choice[2] % listing.files.size()];
    WriteAndVerify(victim, "+b", choice[3] * 97u, Pattern(700, choice[4]), strict);
    WriteAndVerify(victim, "ab", 0, Pattern(100 + choice[5], choice[6]), strict);
    WriteThroughTwoHandles(victim, choice + 15, strict);
}

// Operations by path that must act on the entry named, or be refused.
void ExerciseNames(const Listing& listing, const uint8_t* choice) {
    const std::vector<Named> before = IdentifySome(listing);
    ExerciseLongPaths(before, choice + 20);
    if (listing.files.empty()) {
        ExpectOthersUnchanged(before, {}, "refused long paths");
        return;
    }
    const std::string& victim = listing.files[choice[2] % listing.files.size()];
    if (pcfm_open((victim + "*").c_str(), "+b") != nullptr) Fail("a pattern opened to write");
    const Identity moved =
        RenameExactly(listing.files[choice[7] % listing.files.size()], "C:\\fz\\moved.bin");
    const Identity removed = RemoveExactly(listing.files[choice[8] % listing.files.size()]);
    ExpectOthersUnchanged(before, {moved, removed}, "long paths, a rename and a remove");
}

void ExerciseFolders(const Listing& listing, const uint8_t* choice) {
    if (listing.folders.empty()) return;
    const std::string& folder = listing.folders[choice[9] % listing.folders.size()];
    pcfm_rename(folder.c_str(), (folder + "\\inside").c_str());
    pcfm_rmdir(folder.c_str());
    pcfm_mkdir((folder + "\\sub").c_str());
    pcfm_rename(folder.c_str(), "C:\\renamed");
}

// The input's choice bytes pick the groups of operations (all when it picks none), so that an
// execution stays short and every group is still reached.
void Exercise(const Listing& listing, const uint8_t* choice, bool strict) {
    const uint8_t groups = (choice[30] & 7) == 0 ? 7 : choice[30] & 7;
    pcfm_mkdir("C:\\fz");
    if (groups & 1) ExerciseWrites(listing, choice, strict);
    if (groups & 2) ExerciseNames(listing, choice);
    if (groups & 4) ExerciseFolders(listing, choice);
    pcfm_rename("C:\\fz\\new.bin", "C:\\top.bin");
    pcfm_rmdir("C:\\fz");
    pcfm_remove("C:\\fz\\empty");
    pcfm_rmdir("C:\\fz");
    // Every handle was closed: all ten slots are free again, and an eleventh is refused.
    pcfm_file* handles[11] = {};
    int opened = 0;
    for (pcfm_file*& handle : handles) opened += (handle = pcfm_open("C:\\", "d")) != nullptr;
    for (pcfm_file* handle : handles) pcfm_close(handle);
    if (opened != 10) Fail(std::to_string(opened) + " handles could be opened instead of 10");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::ResetMemoryDisk(kSectorLimit);
    if (!fuzzing::LoadCompactDisk(data, size)) return 0;
    pcfm_set_block_driver(&fuzzing::memory_block_driver);
    // No release between inputs: each mount reloads the table and the root into the buffers
    // of the last, and the exercise leaves no handle open (it checks that it does not).
    if (OV_FILE_init() == 0) {
        // Mounting reads and writes nothing else, so the disk is still as the input gave it.
        const bool clean_before = CheckReceiverDisk(fuzzing::memory_block_driver, 0).Clean();
        Listing listing;
        ListTree("C:\\", &listing);
        uint64_t budget = kReadBudget;
        for (const std::string& file : listing.files) ReadAll(file, &budget);
        // Choices come from boot-sector bytes the file system does not use.
        Exercise(listing, data + 128, clean_before);
        if (clean_before) {
            const CheckReport after = CheckReceiverDisk(fuzzing::memory_block_driver, 0);
            if (!after.Clean()) Fail("a clean disk was damaged:\n" + FormatCheckReport(after));
        }
    }
    return 0;
}
