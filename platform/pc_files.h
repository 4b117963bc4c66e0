// The PC's files as the transfer engine needs them: what a path is, folder listings, folders
// made, renames that never replace unasked, file times, the volume's file system and free
// space, and local calendar time. The engine reaches the PC's files only through here (and
// CFile), so that it builds for every platform this layer has.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

enum class PcKind { kMissing, kRegular, kDirectory, kSymbolicLink, kOther };

struct PcFileInfo {
    PcKind kind = PcKind::kMissing;
    uint64_t size = 0;
    int64_t modified = 0;  // seconds since 1970
    // Identity of the file: two paths name one file when both are equal.
    uint64_t device = 0;
    uint64_t inode = 0;
};

// What the path names, without following a symbolic link at its end. False (kind kMissing)
// when it cannot be examined; `error` then says why.
bool InspectPcPath(const std::string& path, PcFileInfo* info, std::string* error = nullptr);
// The same, following links: what a program opening the path would get.
bool InspectPcTarget(const std::string& path, PcFileInfo* info, std::string* error = nullptr);
// Whether two infos name one file.
bool SameFile(const PcFileInfo& a, const PcFileInfo& b);

// The names in a folder ("." and ".." left out), in the order the folder lists them.
bool ListPcFolder(const std::string& path, std::vector<std::string>* names, std::string* error);

// Makes one folder; true when it exists afterwards as a folder.
bool MakePcFolder(const std::string& path, std::string* error);

// Renames `from` to `to` only when `to` does not exist; false with the reason otherwise
// (`*cross_device` set when the two lie on different volumes).
bool RenamePcNoReplace(const std::string& from, const std::string& to, std::string* error,
                       bool* cross_device);
// Renames `from` to `to`, replacing `to` in one step.
bool RenamePcReplace(const std::string& from, const std::string& to, std::string* error,
                     bool* cross_device);
bool RemovePcFile(const std::string& path, std::string* error);

// Sets the last-access and last-write time of an open file (its descriptor).
bool SetOpenFileTime(int descriptor, int64_t time);

// The name of the file system that holds `path` ("ext4", "vfat", ...), empty when unknown.
std::string PcFileSystemName(const std::string& path);
// Bytes free to this user on the volume holding `path`; false when unknown.
bool PcFreeBytes(const std::string& path, uint64_t* bytes);

// Local calendar fields of a time (seconds since 1970); false when it has none.
bool LocalCalendar(int64_t time, std::tm* local);
// The error text of an operating-system error number.
std::string ErrorText(int error_number);

}  // namespace platform
