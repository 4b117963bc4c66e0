#include "pvrdisk/fs/consistency_check.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

// Owners are numbered from kOwnerDirectory on, one for each chain that claims a cluster: at
// most one per data cluster, so a 16-bit number holds them all.
constexpr uint16_t kNoOwner = 0;
constexpr uint16_t kOwnerDirectory = 1;

// The large buffers of a check, kept from one check to the next: a disk is checked over and
// over (after every test, for every input of the fuzzer), and fresh buffers each time would
// cost more than the check of a small disk itself. Every check overwrites what it reads.
struct CheckBuffers {
    std::unique_ptr<uint16_t[]> table{new uint16_t[kTableSectors * kSectorSize / 2]};
    std::unique_ptr<uint16_t[]> owner{new uint16_t[0x10000]};
    std::vector<std::vector<uint8_t>> directories;  // one for each depth
};

CheckBuffers& Buffers() {
    static thread_local CheckBuffers buffers;
    return buffers;
}

class DiskChecker {
  public:
    DiskChecker(const pcfm_blkdrv& driver, uint64_t disk_sectors)
        : driver_(driver),
          disk_sectors_(disk_sectors),
          owner_(Buffers().owner.get()),
          claimed_(0x10000, false),
          folder_seen_(0x10000, false),
          directory_buffers_(Buffers().directories),
          table_(Buffers().table.get()) {}

    CheckReport Run();

  private:
    bool ReadSectors(uint64_t first, uint32_t count, uint8_t* into);
    void Report(Damage kind, std::string text) {
        report_.findings.push_back({kind, std::move(text)});
    }
    bool ClusterOnDisk(uint32_t cluster) const { return cluster <= last_cluster_on_disk_; }
    void CheckDirectory(uint32_t cluster, uint32_t parent, const std::string& path, int depth);
    void CheckEntry(const pcfm_entry& entry, const std::string& path);
    // Walks a chain, claiming its clusters; returns its length.
    uint32_t WalkChain(uint32_t first, const std::string& path, uint32_t* last);
    void CheckUnownedClusters();

    const pcfm_blkdrv& driver_;
    uint64_t disk_sectors_;
    CheckReport report_;
    // The chain that claimed each cluster, valid where `claimed_` is set: only the entries of
    // clusters that chains reach are written, so a disk with few files costs little to check.
    uint16_t OwnerOf(uint32_t cluster) const {
        return claimed_[cluster] ? owner_[cluster] : kNoOwner;
    }
    uint16_t* owner_;
    std::vector<bool> claimed_;
    // Folders by cluster, each checked once however many entries name it: a disk whose folders
    // name each other over and over is still checked in time linear in its size.
    std::vector<bool> folder_seen_;
    std::vector<std::vector<uint8_t>>& directory_buffers_;
    uint16_t* table_;
    uint32_t fat_start_ = 0;
    uint32_t data_start_ = 0;
    uint32_t sectors_per_cluster_ = 0;
    uint64_t bytes_per_cluster_ = 0;
    uint32_t last_cluster_on_disk_ = kHighestCluster;
    uint16_t next_owner_ = kOwnerDirectory + 1;
};

std::string Name(const pcfm_entry& entry) {
    std::string name(reinterpret_cast<const char*>(entry.name),
                     strnlen(reinterpret_cast<const char*>(entry.name), 32));
    const size_t extension = strnlen(reinterpret_cast<const char*>(entry.extension), 3);
    if (extension > 0)
        name += "." + std::string(reinterpret_cast<const char*>(entry.extension), extension);
    return name;
}

bool IsDotName(const pcfm_entry& entry, int dots) {
    uint8_t expected[32] = {};
    std::memset(expected, '.', static_cast<size_t>(dots));
    return std::memcmp(entry.name, expected, 32) == 0 && entry.extension[0] == 0;
}

bool DiskChecker::ReadSectors(uint64_t first, uint32_t count, uint8_t* into) {
    if (first + count > UINT32_MAX) return false;
    pcfm_blkreq request{};
    if (count == 1) {
        request.buffer = nullptr;
        request.count = 1;
        if (driver_.read(static_cast<uint32_t>(first), &request) != 0) return false;
        std::memcpy(into, request.sector, kSectorSize);
        return true;
    }
    request.buffer = into;
    request.count = static_cast<uint16_t>(count);
    return driver_.read(static_cast<uint32_t>(first), &request) == 0;
}

CheckReport DiskChecker::Run() {
    uint8_t boot[kSectorSize];
    if (!ReadSectors(0, 1, boot)) {
        Report(Damage::kUnreadable, "the boot sector cannot be read");
        return report_;
    }
    static const uint8_t kSignature[4] = {0x55, 0xAA, 0x55, 0xAA};
    if (std::memcmp(boot, kSignature, 4) != 0)
        Report(Damage::kBootSector, "boot signature 55 AA 55 AA missing");
    const uint32_t bytes_per_sector = boot[64] | boot[65] << 8;
    fat_start_ = boot[66] | boot[67] << 8;
    const uint32_t table_sectors = boot[68] | boot[69] << 8;
    sectors_per_cluster_ = boot[70] | boot[71] << 8;
    if (bytes_per_sector != kSectorSize || fat_start_ < 10 || table_sectors != kTableSectors ||
        sectors_per_cluster_ < kDirectorySectors) {
        Report(Damage::kBootSector,
               "boot parameters: " + std::to_string(bytes_per_sector) +
                   " bytes per sector, table at " + std::to_string(fat_start_) + " of " +
                   std::to_string(table_sectors) + " sectors, " +
                   std::to_string(sectors_per_cluster_) + " sectors per cluster");
        return report_;
    }
    data_start_ = fat_start_ + kTableSectors;
    bytes_per_cluster_ = uint64_t{sectors_per_cluster_} * kSectorSize;
    if (disk_sectors_ != 0) {
        const uint64_t clusters =
            disk_sectors_ > data_start_ ? (disk_sectors_ - data_start_) / sectors_per_cluster_ : 0;
        if (clusters == 0) {
            Report(Damage::kBootSector, "the disk ends before its root directory");
            return report_;
        }
        last_cluster_on_disk_ =
            static_cast<uint32_t>(std::min<uint64_t>(clusters - 1, kHighestCluster));
    }
    if (!ReadSectors(fat_start_, kTableSectors, reinterpret_cast<uint8_t*>(table_))) {
        Report(Damage::kUnreadable, "the allocation table cannot be read");
        return report_;
    }
    owner_[0] = kOwnerDirectory;
    claimed_[0] = true;
    CheckDirectory(0, 0, "C:", 0);
    CheckUnownedClusters();
    return report_;
}

void DiskChecker::CheckDirectory(uint32_t cluster, uint32_t parent, const std::string& path,
                                 int depth) {
    ++report_.directories;
    folder_seen_[cluster] = true;
    // One buffer for each depth, kept for the directories that follow at that depth.
    if (directory_buffers_.size() <= static_cast<size_t>(depth))
        directory_buffers_.emplace_back(kDirectoryBytes);
    std::vector<uint8_t>& directory = directory_buffers_[static_cast<size_t>(depth)];
    if (!ReadSectors(uint64_t{cluster} * sectors_per_cluster_ + data_start_, kDirectorySectors,
                     directory.data())) {
        Report(Damage::kUnreadable,
               path + ": directory cluster " + std::to_string(cluster) + " cannot be read");
        return;
    }
    const auto* entries = reinterpret_cast<const pcfm_entry*>(directory.data());
    uint32_t first_live = 0;
    if (cluster != 0) {
        const pcfm_entry& dot = entries[0];
        const pcfm_entry& dot_dot = entries[1];
        if (!IsDotName(dot, 1) || !(dot.attributes & kAttrDirectory) ||
            dot.first_cluster != cluster)
            Report(Damage::kDotEntries,
                   path + ": entry 0 is not \".\" naming the directory itself");
        // ".." names the directory itself on the receiver's disks; its parent is also sound.
        if (!IsDotName(dot_dot, 2) || !(dot_dot.attributes & kAttrDirectory) ||
            (dot_dot.first_cluster != cluster && dot_dot.first_cluster != parent))
            Report(Damage::kDotEntries,
                   path + ": entry 1 is not \"..\" naming the directory or its parent");
        first_live = 2;
    }
    for (uint32_t index = first_live; index < kDirectoryEntries; ++index) {
        const pcfm_entry& entry = entries[index];
        if (entry.name[0] == 0) break;
        if (entry.name[0] == kDeletedMark || (entry.attributes & kAttrVolumeLabel)) continue;
        const std::string entry_path = path + "\\" + Name(entry);
        if (IsDotName(entry, 1) || IsDotName(entry, 2)) {
            Report(Damage::kDotEntries,
                   entry_path + ": a \".\" or \"..\" entry at index " + std::to_string(index));
            continue;
        }
        const bool folder = (entry.attributes & kAttrDirectory) != 0;
        if (folder && entry.first_cluster <= kHighestCluster && folder_seen_[entry.first_cluster]) {
            Report(Damage::kDirectoryLoop, entry_path + ": names folder cluster " +
                                               std::to_string(entry.first_cluster) +
                                               (entry.first_cluster == 0 ? " (the root)" : "") +
                                               ", which is reached through another entry as well");
            continue;
        }
        CheckEntry(entry, entry_path);
        if (folder && pcfm_is_data_cluster(entry.first_cluster) && depth < 256)
            CheckDirectory(entry.first_cluster, cluster, entry_path, depth + 1);
    }
}

void DiskChecker::CheckEntry(const pcfm_entry& entry, const std::string& path) {
    const bool directory = (entry.attributes & kAttrDirectory) != 0;
    if (!directory) ++report_.files;
    if (entry.attributes & 0xC0)
        Report(Damage::kBadEntry,
               path + ": unknown attribute bits " + std::to_string(entry.attributes));
    if (entry.name[0] < 0x20) Report(Damage::kBadEntry, path + ": name starts with a control byte");
    for (uint8_t byte : entry.name)
        if (byte == '\\' || byte == '/') {
            Report(Damage::kBadEntry, path + ": name holds a path separator");
            break;
        }
    if (entry.size >= (1ull << 35))
        Report(Damage::kBadEntry,
               path + ": size " + std::to_string(entry.size) + " reaches 32 GiB");
    if ((entry.date >> 5 & 0x0F) > 12 || (entry.time >> 11) > 23 || (entry.time >> 5 & 0x3F) > 59 ||
        (entry.time & 0x1F) > 29)
        Report(Damage::kBadEntry, path + ": impossible time stamp");
    if (directory && entry.size != 0) Report(Damage::kBadEntry, path + ": a directory with a size");
    if (entry.first_cluster == 0) {
        if (directory)
            Report(Damage::kBadEntry, path + ": a directory without a cluster");
        else if (entry.size != 0)
            Report(Damage::kChainLength,
                   path + ": " + std::to_string(entry.size) + " bytes without clusters");
        return;
    }
    uint32_t last = 0;
    const uint32_t length = WalkChain(entry.first_cluster, path, &last);
    if (length == 0) return;
    const uint64_t needed =
        directory ? 1 : (entry.size + bytes_per_cluster_ - 1) / bytes_per_cluster_;
    if (length != needed)
        Report(Damage::kChainLength, path + ": chain of " + std::to_string(length) +
                                         " clusters, the size needs " + std::to_string(needed));
    if (last != 0 && entry.last_cluster != last)
        Report(Damage::kBadEntry, path + ": last cluster field " +
                                      std::to_string(entry.last_cluster) + ", the chain ends at " +
                                      std::to_string(last));
}

uint32_t DiskChecker::WalkChain(uint32_t first, const std::string& path, uint32_t* last) {
    const uint16_t owner = next_owner_;
    uint32_t cluster = first;
    uint32_t length = 0;
    for (;;) {
        if (!pcfm_is_data_cluster(cluster) || !ClusterOnDisk(cluster)) {
            Report(Damage::kChainRange, path + ": chain reaches cluster " +
                                            std::to_string(cluster) + " outside the data area");
            return length;
        }
        if (OwnerOf(cluster) == owner) {
            Report(Damage::kChainCycle,
                   path + ": chain returns to cluster " + std::to_string(cluster));
            return length;
        }
        if (OwnerOf(cluster) != kNoOwner) {
            Report(Damage::kCrossLinked, path + ": cluster " + std::to_string(cluster) +
                                             " belongs to another chain as well");
            return length;
        }
        if (length == 0) ++next_owner_;  // this chain claims its first cluster
        owner_[cluster] = owner;
        claimed_[cluster] = true;
        ++report_.used_clusters;
        ++length;
        const uint32_t next = table_[cluster];
        if (next == kEndOfChain) {
            *last = cluster;
            return length;
        }
        if (next == 0) {
            Report(Damage::kChainRange,
                   path + ": chain runs into free cluster after " + std::to_string(cluster));
            return length;
        }
        cluster = next;
    }
}

void DiskChecker::CheckUnownedClusters() {
    uint32_t lost = 0;
    uint32_t first_lost = 0;
    uint32_t free_beyond = 0;
    uint32_t reserved_from = kHighestCluster + 1;
    if (disk_sectors_ == 0) {
        // Size unknown: a run of ends of chain up to the last cluster, used by no chain, is
        // the part of the table beyond the disk.
        while (reserved_from > 1 && table_[reserved_from - 1] == kEndOfChain &&
               OwnerOf(reserved_from - 1) == kNoOwner)
            --reserved_from;
        if (reserved_from <= kHighestCluster && reserved_from > 1)
            report_.notes.push_back("clusters " + std::to_string(reserved_from) +
                                    " to 65534 are reserved (beyond the end of the disk)");
    }
    const uint32_t beyond = std::min(last_cluster_on_disk_ + 1, reserved_from);
    for (uint32_t cluster = 1; cluster < beyond; ++cluster) {
        // Four free entries at a time: most of a table is free or claimed.
        if (cluster % 4 == 0 && cluster + 4 <= beyond) {
            uint64_t four = 0;
            std::memcpy(&four, table_ + cluster, sizeof four);
            if (four == 0) {
                cluster += 3;
                continue;
            }
        }
        if (table_[cluster] != 0 && OwnerOf(cluster) == kNoOwner && lost++ == 0)
            first_lost = cluster;
    }
    for (uint32_t cluster = beyond; cluster <= kHighestCluster; ++cluster)
        if (table_[cluster] == 0) ++free_beyond;
    if (lost != 0)
        Report(Damage::kLostClusters,
               std::to_string(lost) + " clusters marked used belong to no chain (the first is " +
                   std::to_string(first_lost) + ")");
    if (free_beyond != 0)
        Report(Damage::kFreeBeyondDisk, std::to_string(free_beyond) +
                                            " clusters beyond the end of the disk are marked free");
}

}  // namespace

bool CheckReport::Has(Damage kind) const {
    for (const CheckFinding& finding : findings)
        if (finding.kind == kind) return true;
    return false;
}

CheckReport CheckReceiverDisk(const pcfm_blkdrv& driver, uint64_t disk_sectors) {
    return DiskChecker(driver, disk_sectors).Run();
}

std::string FormatCheckReport(const CheckReport& report) {
    std::string text;
    for (const CheckFinding& finding : report.findings) text += "damage: " + finding.text + "\n";
    for (const std::string& note : report.notes) text += "note: " + note + "\n";
    text += std::to_string(report.directories) + " directories, " + std::to_string(report.files) +
            " files, " + std::to_string(report.used_clusters) + " clusters in chains\n";
    text += report.Clean() ? "clean\n" : "NOT clean\n";
    return text;
}
