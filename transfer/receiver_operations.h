// Operations on the receiver's disk that both the windows and the command line offer, beside
// the managers' own: folders made and removed, recordings renamed after their programme title.
#pragma once

#include <string>
#include <vector>

#include "panes/dir_entry.h"
#include "transfer/function_mgr.h"

// Makes folder `name` in `parent`, the name made plain ASCII as new receiver folders are
// named. The new folder's path, or empty with `error` set.
std::string MakeReceiverFolder(const std::string& parent, const std::string& name,
                               std::string* error);
// Removes an empty folder; false with `error` set.
bool RemoveReceiverFolder(const std::string& path, std::string* error);

struct EpgRenaming {
    std::string path;      // the recording
    std::string new_name;  // empty when it was not renamed
    std::string reason;    // why not
};
// Renames each recording (.TP0) of `recordings` after the programme title stored in it; a
// name taken already gets "-01" to "-99". One result per file of the list.
std::vector<EpgRenaming> EpgRenameRecordings(CFunctionMgr& receiver, const CDirList& recordings);
