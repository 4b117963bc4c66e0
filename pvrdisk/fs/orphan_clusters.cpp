#include "pvrdisk/fs/orphan_clusters.h"

#include <algorithm>
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

constexpr uint32_t kEntriesPerTableSector = kSectorSize / 2;

// Marks every cluster that a chain of an entry below the root holds; false when a folder
// cannot be read. Each folder is read once, by its cluster.
bool MarkHeldClusters(pcfm_file* file, std::vector<bool>* held) {
    const uint16_t* table = file->volume->table;
    std::vector<bool> visited(kHighestCluster + 1, false);
    std::vector<uint32_t> folders{0};
    visited[0] = true;
    while (!folders.empty()) {
        const uint32_t folder = folders.back();
        folders.pop_back();
        int error = 0;
        const uint8_t* bytes = pcfm_get_directory(file, folder, &error);
        if (bytes == nullptr) return false;
        std::vector<pcfm_entry> entries(kDirectoryEntries);
        std::memcpy(entries.data(), bytes, kDirectoryBytes);
        for (const pcfm_entry& entry : entries) {
            if (entry.name[0] == 0) break;
            if (entry.name[0] == kDeletedMark || pcfm_is_dot_name(entry)) continue;
            uint32_t cluster = entry.first_cluster;
            for (uint32_t steps = 0;
                 pcfm_is_data_cluster(cluster) && !(*held)[cluster] && steps < kMaxChainClusters;
                 ++steps) {
                (*held)[cluster] = true;
                cluster = table[cluster];
            }
            const uint32_t first = entry.first_cluster;
            if ((entry.attributes & kAttrDirectory) && pcfm_is_data_cluster(first) &&
                !visited[first]) {
                visited[first] = true;
                folders.push_back(first);
            }
        }
    }
    return true;
}

}  // namespace

std::vector<uint32_t> HeldChain(const pcfm_file* file) {
    std::vector<uint32_t> chain;
    if (file == nullptr || !pcfm_valid(file)) return chain;
    const uint16_t* table = file->volume->table;
    std::vector<bool> seen(kHighestCluster + 1, false);
    for (uint32_t cluster = pcfm_chain_start(file);
         pcfm_is_data_cluster(cluster) && !seen[cluster] && chain.size() < kMaxChainClusters;
         cluster = table[cluster]) {
        seen[cluster] = true;
        chain.push_back(cluster);
    }
    return chain;
}

int ReclaimOrphans(pcfm_file* writer, const std::vector<uint32_t>& clusters) {
    if (clusters.empty() || !pcfm_valid(writer) || !(writer->open_flags & kModeWrite)) return 0;
    uint16_t* table = writer->volume->table;
    // Only when one of them is marked used is the disk's every chain looked at.
    if (std::none_of(clusters.begin(), clusters.end(), [&](uint32_t cluster) {
            return pcfm_is_data_cluster(cluster) && table[cluster] != 0;
        }))
        return 0;
    std::vector<bool> held(kHighestCluster + 1, false);
    if (!MarkHeldClusters(writer, &held)) return -1;
    int freed = 0;
    for (const uint32_t cluster : clusters) {
        if (!pcfm_is_data_cluster(cluster) || table[cluster] == 0 || held[cluster]) continue;
        table[cluster] = 0;
        const uint32_t sector = cluster / kEntriesPerTableSector;
        writer->dirty_low = std::min(writer->dirty_low, sector);
        writer->dirty_high = std::max(writer->dirty_high, sector);
        ++freed;
    }
    return freed;
}
