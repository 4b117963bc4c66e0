// Mounts a mutated receiver disk from memory, lists every directory, reads every file, and
// makes, writes, renames and deletes a few entries. Nothing may crash, hang or trip a
// sanitizer; and on a disk the checker finds clean, what is written reads back the same and
// the checker still finds the disk clean afterwards.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fs/memory_disk.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/pcfm.h"

namespace {

constexpr uint64_t kSectorLimit = 1ull << 32;
constexpr size_t kMaxListedPaths = 48;
constexpr uint64_t kReadBudget = 4u << 20;
// Hostile directories can name each other over and over; the walk visits this many at most.
constexpr int kMaxListedFolders = 64;

struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    int visited = 0;
};

std::string Join(const std::string& folder, const pcfm_dirent& entry) {
    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    path += entry.name;
    if (entry.extension[0] != 0) path += std::string(".") + entry.extension;
    return path;
}

void ListTree(const std::string& folder, int depth, Listing* listing) {
    if (++listing->visited > kMaxListedFolders) return;
    pcfm_file* directory = pcfm_open(folder.c_str(), "d");
    if (directory == nullptr) return;
    pcfm_dirent entry{};
    std::vector<std::string> subfolders;
    // Entries 0 to 127 and the last ones: each read scans the directory from its start.
    for (uint16_t index = 0; index < 512; index = index == 127 ? 500 : index + 1) {
        entry.index = index;
        if (pcfm_readdir(directory, &entry) != 0) {
            if (index < 500) index = 499;
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
    if (depth < 6)
        for (const std::string& sub : subfolders) ListTree(sub, depth + 1, listing);
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

std::string Pattern(size_t size, uint8_t seed) {
    std::string data(size, 0);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 13);
    return data;
}

// Writes `data` at `offset` (or at the end for "ab") and checks it reads back when `strict`.
void WriteAndVerify(const std::string& path, const char* mode, uint64_t offset,
                    const std::string& data, bool strict) {
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
    pcfm_close(file);
    if (!strict || written != data.size()) return;
    file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "written file %s cannot be opened again: %d\n", path.c_str(),
                     pcfm_errno);
        std::abort();
    }
    std::string back(data.size(), 0);
    pcfm_seek(file, &start, 0);
    const size_t got = pcfm_read(back.data(), 1, back.size(), file);
    pcfm_close(file);
    if (got != data.size() || back != data) {
        std::fprintf(stderr, "%s at %llu does not read back what was written\n", path.c_str(),
                     static_cast<unsigned long long>(start));
        std::abort();
    }
}

void Exercise(const Listing& listing, const uint8_t* choice, bool strict) {
    pcfm_mkdir("C:\\fz");
    WriteAndVerify("C:\\fz\\new.bin", "wb", 0, Pattern(1500 + choice[0] * 7, choice[1]), strict);
    WriteAndVerify("C:\\fz\\empty", "wb", 0, std::string(), strict);
    if (!listing.files.empty()) {
        const std::string& victim = listing.files[choice[2] % listing.files.size()];
        WriteAndVerify(victim, "+b", choice[3] * 97u, Pattern(700, choice[4]), strict);
        WriteAndVerify(victim, "ab", 0, Pattern(100 + choice[5], choice[6]), strict);
        const std::string& moved = listing.files[choice[7] % listing.files.size()];
        pcfm_rename(moved.c_str(), "C:\\fz\\moved.bin");
        pcfm_remove(listing.files[choice[8] % listing.files.size()].c_str());
    }
    if (!listing.folders.empty()) {
        const std::string& folder = listing.folders[choice[9] % listing.folders.size()];
        pcfm_rename(folder.c_str(), (folder + "\\inside").c_str());
        pcfm_rmdir(folder.c_str());
        pcfm_mkdir((folder + "\\sub").c_str());
        pcfm_rename(folder.c_str(), "C:\\renamed");
    }
    pcfm_rename("C:\\fz\\new.bin", "C:\\top.bin");
    pcfm_rmdir("C:\\fz");
    pcfm_remove("C:\\fz\\empty");
    pcfm_rmdir("C:\\fz");
    pcfm_file* handles[11] = {};
    for (pcfm_file*& handle : handles) handle = pcfm_open("C:\\", "d");
    for (pcfm_file* handle : handles) pcfm_close(handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 512) return 0;
    fuzzing::SetMemoryDisk(data, size, kSectorLimit);
    const bool clean_before = CheckReceiverDisk(fuzzing::memory_block_driver, 0).Clean();
    pcfm_set_block_driver(&fuzzing::memory_block_driver);
    if (OV_FILE_init() == 0) {
        Listing listing;
        ListTree("C:\\", 0, &listing);
        uint64_t budget = kReadBudget;
        for (const std::string& file : listing.files) ReadAll(file, &budget);
        // Choices come from boot-sector bytes the file system does not use.
        Exercise(listing, data + 128, clean_before);
        pcfm_release();
        const CheckReport after = CheckReceiverDisk(fuzzing::memory_block_driver, 0);
        if (clean_before && !after.Clean()) {
            std::fprintf(stderr, "a clean disk was damaged:\n%s", FormatCheckReport(after).c_str());
            std::abort();
        }
    } else {
        pcfm_release();
    }
    fuzzing::ClearMemoryDisk();
    return 0;
}
