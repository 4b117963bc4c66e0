// The record `tessel sync` keeps in its target folder of the files it wrote there, so that
// --delete removes only those, and only while they are as sync left them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// The file's name in the target folder.
inline constexpr const char* kSyncStateName = ".tessel-sync";

struct SyncRecord {
    uint64_t size = 0;
    int64_t modified = 0;  // seconds since 1970
    // The receiver folder the file was copied from ("C:\\Recordings"); empty for a record
    // written before sync noted it. Only a sync of that folder may replace or delete the file.
    std::string source;
    bool operator==(const SyncRecord&) const = default;
};

// Paths relative to the target folder, "/"-separated, to what the file was when sync wrote it.
using SyncRecords = std::map<std::string, SyncRecord>;

// Reads the record of `target_folder`. A missing file is an empty record; a line that cannot
// be read (torn, tampered, or naming a path outside the folder) is left out, the others kept. False
// with `error` set when the file exists but cannot be read as a regular file: the run then must not
// write a new one over it.
bool LoadSyncState(const std::string& target_folder, SyncRecords* records, std::string* error);

// Writes the record to a new file beside the old one and renames it over, so that a run cut
// off at any point leaves the old record or the new one whole.
bool SaveSyncState(const std::string& target_folder, const SyncRecords& records,
                   std::string* error);

// Whether `relative` names a file inside the target folder: no absolute path, no empty, "."
// or ".." step, no NUL byte, and not the record itself.
bool IsSafeRelativePath(const std::string& relative);
