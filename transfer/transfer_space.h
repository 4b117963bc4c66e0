// The room a planned transfer needs on its target, weighed against the target's free space
// before the first byte is written, so that a copy that cannot fit is not begun.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "panes/dir_entry.h"
#include "transfer/function_mgr.h"

struct TransferSpace {
    // The most the target holds beyond what it holds now, at any point of the transfer.
    uint64_t needed_bytes = 0;
    uint64_t free_bytes = 0;
    bool fits = true;
};

// The volume a transfer writes to: its free bytes and the unit it allocates files in.
struct TargetVolume {
    uint64_t free_bytes = 0;
    uint64_t unit_bytes = 0;
};
// Reads the volume that holds `target_folder`; false when it cannot be read.
using TargetVolumeReader =
    std::function<bool(const std::string& target_folder, TargetVolume* volume)>;

// The target volume of a transfer by `source` as it is now: the receiver's disk (free
// clusters, cluster size) when the PC manager copies, the PC volume when the receiver's does.
bool ReadTargetVolume(const CFunctionMgr& source, const std::string& target_folder,
                      TargetVolume* volume);

// Whether `files` (the list the overwrite check left) copied by `source` from below
// `source_base` into `target_folder` fit on the target. Every file takes whole allocation
// units (a split PC copy per part); an existing target, overwritten or resumed, gives back
// what it holds, so a resume needs only the rest; each target folder not there yet takes a
// unit. Plans the targets first (files planned already keep theirs). False, with `space`
// untouched, when the target volume cannot be read.
bool CheckTransferSpace(CFunctionMgr& source, CDirList* files, const std::string& source_base,
                        const std::string& target_folder, TransferSpace* space);
// The same, with the target volume read by `read_volume`.
bool CheckTransferSpace(CFunctionMgr& source, CDirList* files, const std::string& source_base,
                        const std::string& target_folder, const TargetVolumeReader& read_volume,
                        TransferSpace* space);
