// tessel sync: the receiver folder's new and grown files copied into a PC folder, equal ones
// kept, and with --delete the copies sync made of files since gone from the receiver deleted.
#include <cstdio>
#include <set>

#include "app/log.h"
#include "app/preferences.h"
#include "cli/commands.h"
#include "cli/human_size.h"
#include "cli/sync_plan.h"
#include "cli/sync_removal.h"
#include "cli/sync_state.h"
#include "platform/log_files.h"
#include "transfer/transfer_space.h"

namespace {

int Failed(const std::string& text) {
    EndProgressLine();
    std::fprintf(stderr, "tessel: %s\n", Visible(text).c_str());
    LogLine("Error: " + text, 1);
    return 1;
}

std::string ReceiverFolderPath(const std::string& typed) {
    std::string path = NormalizeFolderPath(typed);
    for (char& c : path)
        if (c == '/') c = '\\';
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

bool Copies(SyncAction action) {
    return action == SyncAction::kNew || action == SyncAction::kGrown ||
           action == SyncAction::kReplace;
}

void PrintStep(const SyncStep& step) {
    if (step.action == SyncAction::kForget) return;
    std::printf("%-7s %s%s\n", SyncActionWord(step.action), Visible(step.relative).c_str(),
                step.reason.empty() ? "" : (" (" + Visible(step.reason) + ")").c_str());
}

// The folders of the plan and the files whose steps `take` selects, in the plan's order, so
// that each folder comes before what it holds.
template <typename Take>
CDirList CopyList(const SyncPlan& plan, Take take) {
    CDirList list;
    size_t step = 0;
    for (const CDirEntry& entry : plan.gathered) {
        if (!entry.isFile) {
            list.Add(entry);
            continue;
        }
        if (take(plan.steps[step++].action)) list.Add(entry);
    }
    return list;
}

class SyncRun {
  public:
    SyncRun(const std::string& source, const std::string& target, const CopyOptions& copy)
        : source_(source), target_(target), copy_(copy) {}

    // Copies one batch; with `keep_unresumable` an existing target the engine would not
    // resume is kept. Records what was written, and the partial targets of `own_targets` (the
    // files sync made or owned before) that a stop or failure left; false when the run must
    // end.
    bool CopyBatch(CDirList list, bool keep_unresumable, const std::set<std::string>& own_targets,
                   SyncRecords* records) {
        bool any = false;
        for (const CDirEntry& entry : list) any = any || entry.isFile;
        if (!any) return true;
        box_.ResetLists();
        box_.progress = TerminalProgress;
        box_.wait_limit_ms = copy_.wait_seconds * 1000;
        box_.keep_unresumable = keep_unresumable;
        const bool ok = box_.CopyFiles(&list, source_, target_);
        FinishProgressLine(ok);
        for (const CDirEntry& copied : box_.copied)
            for (const auto& [relative, record] : WrittenFiles(copied, source_, target_))
                (*records)[relative] = record;
        // A partial target sync wrote is its own: the next run resumes or replaces it.
        for (const CDirEntry& entry : list) {
            if (!entry.isFile || own_targets.count(entry.targetPath) == 0) continue;
            bool done = false;
            for (const CDirEntry& copied : box_.copied)
                done = done || copied.fullPath == entry.fullPath;
            if (done) continue;
            for (const auto& [relative, record] : WrittenFiles(entry, source_, target_))
                (*records)[relative] = record;
        }
        for (const std::string& failure : box_.failures) failed_ = Failed("not copied: " + failure);
        return !box_.stopped && !box_.TransferEnded();
    }

    bool Fits(CDirList list) {
        TransferSpace space;
        if (!CheckTransferSpace(box_, &list, source_, target_, &space) || space.fits) return true;
        failed_ = Failed("not enough free space on the PC for " + target_ + ": " +
                         HumanSize(space.needed_bytes) + " needed, " + HumanSize(space.free_bytes) +
                         " free; nothing copied " + "(--no-space-check copies anyway)");
        return false;
    }

    CSyncBoxManager& Box() { return box_; }
    bool stopped() const { return box_.stopped; }
    int failed_ = 0;

  private:
    CSyncBoxManager box_;
    std::string source_, target_;
    CopyOptions copy_;
};

}  // namespace

int SyncFolder(const std::string& receiver_folder, const std::string& pc_folder,
               const CopyOptions& copy, const SyncOptions& options) {
    const std::string target = NormalizePcFolderPath(pc_folder);
    if (!platform::CanEnterFolder(target)) return Failed(target + " is no folder on this PC");
    const std::string source = ReceiverFolderPath(receiver_folder);
    SyncRun run(source, target, copy);
    if (!run.Box().ReadDir(source)) return Failed(source + " is no folder on the receiver");
    SyncRecords records;
    std::string error;
    if (!LoadSyncState(target, &records, &error)) return Failed(error);
    const SyncRecords loaded = records;

    SyncPlan plan;
    PlanSync(run.Box(), source, target, records, options.delete_gone, &plan);
    for (const GatherProblem& problem : plan.problems)
        run.failed_ = Failed("not copied: " + problem.path + ": " + problem.reason);
    size_t counts[static_cast<int>(SyncAction::kForget) + 1] = {};
    for (const SyncStep& step : plan.steps) {
        PrintStep(step);
        ++counts[static_cast<int>(step.action)];
        if (step.action == SyncAction::kDiffers)
            run.failed_ = Failed("kept " + target + "/" + step.relative + ": " + step.reason +
                                 "; move it away to copy the source again");
        if (step.action == SyncAction::kFailed)
            run.failed_ = Failed("not copied: " + step.source.fullPath + ": " + step.reason);
    }
    const CDirList first = CopyList(
        plan, [](SyncAction a) { return a == SyncAction::kNew || a == SyncAction::kGrown; });
    const CDirList second = CopyList(plan, [](SyncAction a) { return a == SyncAction::kReplace; });
    const bool fits = !copy.check_space || run.Fits(CopyList(plan, Copies));
    std::fflush(stdout);
    if (options.dry_run) {
        std::printf("dry run: nothing changed\n");
        return run.failed_;
    }

    std::set<std::string> own_targets;
    for (const SyncStep& step : plan.steps)
        if (step.action == SyncAction::kNew || step.action == SyncAction::kReplace)
            own_targets.insert(step.source.targetPath);
    bool going_on = fits && run.CopyBatch(first, true, own_targets, &records);
    // Sync's own untouched copies may be written over.
    going_on = going_on && run.CopyBatch(second, false, own_targets, &records);
    size_t deleted = 0;
    for (const SyncStep& step : plan.steps) {
        if (step.action == SyncAction::kForget) records.erase(step.relative);
        // A copy recorded before sync noted sources, equal to this folder's file, is its own.
        if (step.action == SyncAction::kEqual)
            for (const auto& [relative, record] : WrittenFiles(step.source, source, target)) {
                const auto found = records.find(relative);
                if (found != records.end() && found->second.source.empty() &&
                    found->second.size == record.size && found->second.modified == record.modified)
                    found->second.source = source;
            }
        if (step.action != SyncAction::kDelete || !going_on) continue;
        switch (RemoveRecordedFile(target, step.relative, step.record, &error)) {
            case SyncRemoval::kRemoved:
                ++deleted;
                [[fallthrough]];
            case SyncRemoval::kMissing:
                records.erase(step.relative);
                break;
            case SyncRemoval::kChanged:
                run.failed_ = Failed("not deleted: " + step.relative + ": it changed meanwhile");
                break;
            case SyncRemoval::kFailed:
                run.failed_ = Failed("not deleted: " + error);
                break;
        }
    }
    if (records != loaded && !SaveSyncState(target, records, &error)) run.failed_ = Failed(error);
    if (run.stopped()) return Failed("stopped; the same sync goes on where it stopped");
    // The counts are those of the plan: shown only when all of it was done.
    if (!going_on || run.failed_) return 1;
    std::printf("%zu new, %zu grown, %zu replaced, %zu equal, %zu deleted, %zu kept\n",
                counts[static_cast<int>(SyncAction::kNew)],
                counts[static_cast<int>(SyncAction::kGrown)],
                counts[static_cast<int>(SyncAction::kReplace)],
                counts[static_cast<int>(SyncAction::kEqual)], deleted,
                counts[static_cast<int>(SyncAction::kKeep)]);
    return 0;
}
