// What `tessel sync` does to bring a PC folder in step with a receiver folder, decided
// before anything is written: one step per receiver file and per recorded file whose source
// is gone.
#pragma once

#include <string>
#include <vector>

#include "cli/sync_state.h"
#include "panes/dir_entry.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"

enum class SyncAction {
    kNew,      // no PC file yet: copied
    kGrown,    // the PC file is the start of the source: resumed
    kReplace,  // sync's own copy, untouched since, of a source that changed: copied again
    kEqual,    // same size and time: kept
    kDiffers,  // a PC file that is neither equal, nor resumable, nor sync's own: kept, a failure
    kFailed,   // the source could not be examined
    kDelete,   // sync's own copy, untouched since, whose source is gone: deleted with --delete
    kKeep,     // a recorded file whose source is gone, kept (`reason` says why)
    kForget,   // a recorded file that is no longer there: only its record goes
};

struct SyncStep {
    SyncAction action = SyncAction::kNew;
    std::string relative;  // the PC file, relative to the target folder
    std::string reason;
    CDirEntry source;   // the receiver file, for the copying actions
    SyncRecord record;  // what sync wrote, for the recorded files
};

struct SyncPlan {
    // The receiver folders and files below the source folder, each folder before its
    // contents, with their planned PC targets.
    CDirList gathered;
    GatherProblems problems;
    // One step per file of `gathered`, in its order, then one per recorded file whose source
    // is gone.
    std::vector<SyncStep> steps;
};

// The receiver's manager, able to tell before a copy whether it would resume a target.
class CSyncBoxManager : public CBoxFunctionMgr {
  public:
    // Whether CopyFiles would resume the planned target of `entry`; `failure` is set when
    // the source could not be read.
    bool WouldResume(const CDirEntry& entry);
};

// Plans the sync of `receiver_folder`'s contents into `target_folder`, whose record is
// `records`; with `delete_gone` sync's unchanged copies of vanished sources are deleted.
void PlanSync(CSyncBoxManager& box, const std::string& receiver_folder,
              const std::string& target_folder, const SyncRecords& records, bool delete_gone,
              SyncPlan* plan);

// The PC files a receiver file copied from the folder `source` is now held in (a split copy in
// parts), each with what it holds now, relative to the target folder.
SyncRecords WrittenFiles(const CDirEntry& entry, const std::string& source,
                         const std::string& target_folder);

// "new", "grown", ... as the plan's lines show the action.
const char* SyncActionWord(SyncAction action);
