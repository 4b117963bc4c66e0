#include "cli/sync_plan.h"

#include <iterator>
#include <set>

#include "cli/sync_removal.h"
#include "platform/pc_files.h"
#include "transfer/name_helpers.h"

namespace {

// Parts looked for after the first of a split copy, as the copy engine does.
constexpr int kMaxParts = 100;

// The PC files a planned target consists of: the one file, or the parts there are of a split
// copy; each with what the path holds.
std::vector<std::pair<std::string, platform::PcFileInfo>> TargetFiles(const CDirEntry& entry) {
    std::vector<std::pair<std::string, platform::PcFileInfo>> files;
    for (int k = 0; k < (entry.targetSplit ? kMaxParts : 1); ++k) {
        const std::string path =
            entry.targetSplit ? SplitPartPath(entry.targetPath, k) : entry.targetPath;
        platform::PcFileInfo info;
        if (!platform::InspectPcPath(path, &info)) break;
        files.emplace_back(path, info);
    }
    return files;
}

std::string Relative(const std::string& path, const std::string& target_folder) {
    const std::string prefix = CollapseSlashes(target_folder + "/");
    return path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : std::string();
}

// Whether sync wrote the file at `relative`, from `source` or before it noted sources, and it
// is as sync left it.
bool RecordHolds(const SyncRecords& records, const std::string& relative,
                 const platform::PcFileInfo& info, const std::string& source) {
    const auto found = records.find(relative);
    return found != records.end() && found->second.size == info.size &&
           found->second.modified == info.modified &&
           (found->second.source.empty() || found->second.source == source);
}

SyncStep PlanFile(CSyncBoxManager& box, const CDirEntry& entry, const std::string& source,
                  const std::string& target_folder, const SyncRecords& records) {
    SyncStep step;
    step.source = entry;
    step.relative = Relative(entry.targetPath, target_folder);
    if (!IsSafeRelativePath(step.relative)) {
        step.action = SyncAction::kFailed;
        step.reason = "its PC name would be that of sync's own record";
        return step;
    }
    const auto files = TargetFiles(entry);
    if (files.empty()) return step;
    uint64_t held = 0;
    bool own = true;
    for (const auto& [path, info] : files) {
        if (info.kind != platform::PcKind::kRegular) {
            step.action = SyncAction::kDiffers;
            step.reason = "not a regular file on the PC";
            return step;
        }
        held += info.size;
        own = own && RecordHolds(records, Relative(path, target_folder), info, source);
    }
    const int64_t apart = files[0].second.modified - entry.time;
    if (held == entry.size && apart >= -1 && apart <= 1) {
        step.action = SyncAction::kEqual;
        return step;
    }
    if (held < entry.size) {
        if (box.WouldResume(entry)) {
            step.action = SyncAction::kGrown;
            return step;
        }
        if (!box.failure.empty()) {
            step.action = SyncAction::kFailed;
            step.reason = box.failure;
            return step;
        }
    }
    if (own) {
        step.action = SyncAction::kReplace;
        return step;
    }
    step.action = SyncAction::kDiffers;
    step.reason = held < entry.size
                      ? "shorter than " + entry.fullPath + " but not its start"
                      : "differs from " + entry.fullPath + " and was not copied by sync";
    return step;
}

SyncStep PlanGone(const std::string& relative, const SyncRecord& record,
                  const std::string& target_folder, bool delete_gone) {
    SyncStep step;
    step.relative = relative;
    step.record = record;
    std::string error;
    switch (InspectRecordedFile(target_folder, relative, record, &error)) {
        case SyncRemoval::kRemoved:
            // A record without its source folder may be of another folder synced here.
            if (record.source.empty()) {
                step.action = SyncAction::kKeep;
                step.reason =
                    "its source is gone, but sync did not note which receiver "
                    "folder it came from";
                break;
            }
            step.action = delete_gone ? SyncAction::kDelete : SyncAction::kKeep;
            if (!delete_gone) step.reason = "its source is gone; --delete deletes it";
            break;
        case SyncRemoval::kMissing:
            step.action = SyncAction::kForget;
            break;
        case SyncRemoval::kChanged:
            step.action = SyncAction::kKeep;
            step.reason = "its source is gone, but it changed since sync copied it";
            break;
        case SyncRemoval::kFailed:
            step.action = SyncAction::kKeep;
            step.reason = error;
            break;
    }
    return step;
}

}  // namespace

bool CSyncBoxManager::WouldResume(const CDirEntry& entry) {
    failure.clear();
    resume_link_lost_ = false;
    std::unique_ptr<CFile> source = OpenSource(entry);
    if (source == nullptr) return false;
    const ResumePlan plan = DecideResume(*source, entry);
    source->Close();
    if (resume_link_lost_) failure = "the receiver's link was lost reading " + entry.fullPath;
    return plan.resume && failure.empty();
}

void PlanSync(CSyncBoxManager& box, const std::string& receiver_folder,
              const std::string& target_folder, const SyncRecords& records, bool delete_gone,
              SyncPlan* plan) {
    GatherReceiverFolder(receiver_folder, &plan->gathered, &plan->problems);
    // Planned once over the whole folder, so that every file gets the name `tessel get` of
    // the folder's contents would give it, run after run.
    box.PlanTargets(&plan->gathered, receiver_folder, target_folder);
    std::set<std::string> wanted;
    for (const CDirEntry& entry : plan->gathered) {
        if (!entry.isFile) continue;
        plan->steps.push_back(PlanFile(box, entry, receiver_folder, target_folder, records));
        for (int k = 0; k < (entry.targetSplit ? kMaxParts : 1); ++k)
            wanted.insert(
                Relative(entry.targetSplit ? SplitPartPath(entry.targetPath, k) : entry.targetPath,
                         target_folder));
    }
    // A folder of the receiver that could not be read may still hold the sources.
    const bool all_read = plan->problems.empty();
    for (const auto& [relative, record] : records) {
        // The files another receiver folder's sync wrote here are that sync's to handle.
        if (wanted.count(relative) != 0 ||
            (!record.source.empty() && record.source != receiver_folder))
            continue;
        SyncStep step = PlanGone(relative, record, target_folder, delete_gone && all_read);
        if (step.action == SyncAction::kKeep && delete_gone && !all_read &&
            step.reason.rfind("its source is gone;", 0) == 0)
            step.reason = "its source may be in a receiver folder that could not be read";
        plan->steps.push_back(step);
    }
}

SyncRecords WrittenFiles(const CDirEntry& entry, const std::string& source,
                         const std::string& target_folder) {
    SyncRecords written;
    for (const auto& [path, info] : TargetFiles(entry))
        if (info.kind == platform::PcKind::kRegular)
            written[Relative(path, target_folder)] = SyncRecord{info.size, info.modified, source};
    return written;
}

const char* SyncActionWord(SyncAction action) {
    // In the order of SyncAction.
    static constexpr const char* kWords[] = {"new",    "grown",  "replace", "equal", "differs",
                                             "failed", "delete", "kept",    "forget"};
    static_assert(std::size(kWords) == static_cast<size_t>(SyncAction::kForget) + 1);
    return kWords[static_cast<size_t>(action)];
}
