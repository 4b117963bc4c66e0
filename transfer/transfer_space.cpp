#include "transfer/transfer_space.h"

#include <algorithm>
#include <set>

#include "platform/pc_files.h"
#include "platform/pc_volumes.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "transfer/box_function_mgr.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_connection.h"
#include "transfer/receiver_names.h"
#include "transfer/transfer_limits.h"
#include "transfer/win_function_mgr.h"

namespace {

// The clusters the receiver's allocation table reaches beyond the root's (1 to 0xFFFE).
constexpr uint64_t kReceiverClusters = 65533;
// Parts looked for after the first of a split PC copy.
constexpr int kMaxParts = 100;

uint64_t RoundUp(uint64_t bytes, uint64_t unit) {
    return unit == 0 ? bytes : (bytes + unit - 1) / unit * unit;
}

// The side a transfer writes to, as far as its space goes.
class TargetSide {
  public:
    TargetSide(bool receiver, uint64_t unit) : receiver_(receiver), unit_(unit) {}

    char Separator() const { return receiver_ ? '\\' : '/'; }
    // The path without doubled or trailing separators (the root, C:\, keeps its own).
    std::string Normal(const std::string& path) const {
        std::string normal = receiver_ ? CollapseBackslashes(path) : CollapseSlashes(path);
        while (normal.size() > 1 && normal.back() == Separator() &&
               !(receiver_ && normal.size() == 3))
            normal.pop_back();
        return normal;
    }

    bool FolderExists(const std::string& path) const {
        if (!receiver_) {
            platform::PcFileInfo info;
            return platform::InspectPcPath(path, &info) &&
                   info.kind == platform::PcKind::kDirectory;
        }
        pcfm_file* folder = pcfm_open(ToBox(path).c_str(), "d");
        if (folder == nullptr) return false;
        pcfm_close(folder);
        return true;
    }

    // What the file's target will take once written: whole units, and for a split copy a unit
    // more for each further part, as each part ends in a unit of its own (a part holds more
    // than kSplitLimit bytes unless it is the last, so there are no more parts than counted).
    uint64_t Allocation(const CDirEntry& entry) const {
        const uint64_t parts = entry.targetSplit ? entry.size / (kSplitLimit + 1) + 1 : 1;
        return RoundUp(entry.size, unit_) + (parts - 1) * unit_;
    }

    // What the file's existing target holds now; the copy writes over it or continues it.
    // Something that is no regular file gives nothing back (the copy refuses it).
    uint64_t Held(const CDirEntry& entry) const {
        if (receiver_) {
            CRawFile existing;
            if (!existing.Open(ToBox(entry.targetPath).c_str(),
                               CFile::modeRead | CFile::typeBinary))
                return 0;
            const uint64_t length = existing.GetLength();
            existing.Close();
            return RoundUp(length, unit_);
        }
        uint64_t held = 0;
        const int parts = entry.targetSplit ? kMaxParts : 1;
        for (int k = 0; k < parts; ++k) {
            const std::string path =
                entry.targetSplit ? SplitPartPath(entry.targetPath, k) : entry.targetPath;
            platform::PcFileInfo info;
            if (!platform::InspectPcPath(path, &info) || info.kind != platform::PcKind::kRegular)
                break;
            held += RoundUp(info.size, unit_);
        }
        return held;
    }

    std::string FolderTarget(const CDirEntry& folder, const std::string& source_base,
                             const std::string& target) const {
        return receiver_ ? CWinFunctionMgr::BoxFolderTarget(folder, source_base, target)
                         : CBoxFunctionMgr::PcFolderTarget(folder, source_base, target);
    }

    // Whether the copy leaves the file alone: its PC side is the file that holds the
    // receiver's disk, which is never read or written as a file of a transfer.
    bool Untouched(const CDirEntry& entry) const {
        const ReceiverConnection* receiver = ActiveReceiver();
        platform::PcFileInfo info;
        return receiver != nullptr &&
               platform::InspectPcPath(receiver_ ? entry.fullPath : entry.targetPath, &info) &&
               receiver->IsBackingFile(info);
    }

    uint64_t Unit() const { return unit_; }

  private:
    bool receiver_;
    uint64_t unit_;
};

// The folders below `target` the copy makes that are not there yet: every folder of the list,
// and every folder a file goes into.
uint64_t NewFolderUnits(const TargetSide& side, const CDirList& files,
                        const std::string& source_base, const std::string& target) {
    const std::string base = side.Normal(target);
    std::set<std::string> folders;
    for (const CDirEntry& entry : files) {
        if (!entry.isFile) {
            folders.insert(side.Normal(side.FolderTarget(entry, source_base, target)));
            continue;
        }
        std::string path = side.Normal(entry.targetPath);
        if (path.compare(0, base.size(), base) != 0) continue;
        for (size_t cut = path.rfind(side.Separator());
             cut != std::string::npos && cut > base.size(); cut = path.rfind(side.Separator())) {
            path.resize(cut);
            folders.insert(path);
        }
    }
    uint64_t units = 0;
    for (const std::string& folder : folders)
        if (!side.FolderExists(folder)) ++units;
    return units;
}

}  // namespace

bool ReadTargetVolume(const CFunctionMgr& source, const std::string& target_folder,
                      TargetVolume* volume) {
    if (dynamic_cast<const CBoxFunctionMgr*>(&source) != nullptr) {
        uint64_t free_bytes = 0, total_bytes = 0, unit = 0;
        if (!platform::PcVolumeSpace(target_folder, &free_bytes, &total_bytes) ||
            !platform::PcVolumeBlockSize(target_folder, &unit))
            return false;
        *volume = TargetVolume{free_bytes, unit};
        return true;
    }
    ReceiverSpace space;
    if (!QueryReceiverSpace(ActiveReceiver(), &space)) return false;
    pcfm_file* root = pcfm_open("C:\\", "d");
    if (root == nullptr) return false;
    // The total is given in KiB: the cluster's KiB times the clusters of the table.
    const uint64_t cluster_bytes = pcfm_total_space(root) / kReceiverClusters * 1024;
    pcfm_close(root);
    if (cluster_bytes == 0) return false;
    *volume = TargetVolume{space.free_bytes, cluster_bytes};
    return true;
}

bool CheckTransferSpace(CFunctionMgr& source, CDirList* files, const std::string& source_base,
                        const std::string& target_folder, TransferSpace* space) {
    return CheckTransferSpace(
        source, files, source_base, target_folder,
        [&source](const std::string& folder, TargetVolume* volume) {
            return ReadTargetVolume(source, folder, volume);
        },
        space);
}

bool CheckTransferSpace(CFunctionMgr& source, CDirList* files, const std::string& source_base,
                        const std::string& target_folder, const TargetVolumeReader& read_volume,
                        TransferSpace* space) {
    TargetVolume volume;
    if (!read_volume(target_folder, &volume)) return false;
    source.PlanTargets(files, source_base, target_folder);
    const TargetSide side(dynamic_cast<const CBoxFunctionMgr*>(&source) == nullptr,
                          volume.unit_bytes);
    // Folders are made before the files inside them; files are written one after the other,
    // each existing target given back as its copy begins (a resume keeps it and adds the
    // rest). The need is the highest the running total reaches, not only where it ends.
    int64_t running = static_cast<int64_t>(
        NewFolderUnits(side, *files, source_base, target_folder) * side.Unit());
    int64_t peak = std::max<int64_t>(running, 0);
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile || side.Untouched(entry)) continue;
        running +=
            static_cast<int64_t>(side.Allocation(entry)) - static_cast<int64_t>(side.Held(entry));
        peak = std::max(peak, running);
    }
    space->needed_bytes = static_cast<uint64_t>(peak);
    space->free_bytes = volume.free_bytes;
    space->fits = space->needed_bytes <= space->free_bytes;
    return true;
}
