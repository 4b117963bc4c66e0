// A read-only check of a receiver disk through a block-device table: boot parameters, every
// directory with its "." and ".." entries, every chain (in range, without cycles, in one
// chain only, as long as the entry's size says), clusters used by no chain, and entries with
// impossible fields. It never writes and does not need the disk to be mounted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pvrdisk/transport/block_device.h"

enum class Damage {
    kBootSector,      // signature or parameters wrong: nothing else can be checked
    kUnreadable,      // a sector could not be read
    kDotEntries,      // "." or ".." missing or wrong in a directory
    kDirectoryLoop,   // a directory reached twice
    kChainRange,      // a chain leaves the data clusters, the disk, or runs into a free cluster
    kChainCycle,      // a chain comes back to one of its own clusters
    kCrossLinked,     // a cluster in two chains
    kChainLength,     // a chain not as long as the entry's size needs
    kLostClusters,    // clusters marked used that belong to no chain
    kFreeBeyondDisk,  // clusters beyond the end of the disk marked free
    kBadEntry,        // an entry with impossible fields
};

struct CheckFinding {
    Damage kind;
    std::string text;
};

struct CheckReport {
    std::vector<CheckFinding> findings;
    std::vector<std::string> notes;
    uint32_t directories = 0;
    uint32_t files = 0;
    uint32_t used_clusters = 0;
    bool Clean() const { return findings.empty(); }
    bool Has(Damage kind) const;
};

// `disk_sectors` is the size of the disk when known (0 when not): clusters beyond it must be
// marked used and lie in no chain.
CheckReport CheckReceiverDisk(const pcfm_blkdrv& driver, uint64_t disk_sectors);

// The findings, the notes and a last line "clean" or "NOT clean", one per line.
std::string FormatCheckReport(const CheckReport& report);
