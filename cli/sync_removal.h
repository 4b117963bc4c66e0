// Deleting a file of the sync record: only inside the target folder, never through a
// symbolic link, and only while it is the file sync wrote.
#pragma once

#include <string>

#include "cli/sync_state.h"

enum class SyncRemoval {
    kRemoved,
    kMissing,  // nothing of that name: the record may go
    kChanged,  // there, but not as sync left it (size, time, or not a regular file): kept
    kFailed,   // a step that is a link or no folder, or the delete failed: `error` says which
};

// The state of the recorded file `relative` below `target_folder` (kRemoved meaning it is
// unchanged), without deleting it.
SyncRemoval InspectRecordedFile(const std::string& target_folder, const std::string& relative,
                                const SyncRecord& record, std::string* error);
// Deletes it when it is unchanged.
SyncRemoval RemoveRecordedFile(const std::string& target_folder, const std::string& relative,
                               const SyncRecord& record, std::string* error);
