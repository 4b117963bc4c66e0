// The in-memory allocation table: mapping file positions to sectors, contiguous runs,
// allocating and freeing chains, writing changed table sectors back, free and total space.
//
// Everything read from the table is checked before it addresses the disk or the table: a
// link outside 1..0xFFFE, or a walk longer than the clusters there are, is a broken chain.
#include <algorithm>
#include <bitset>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

constexpr uint32_t kEntriesPerTableSector = kSectorSize / 2;
// Freeing stops at a value above the end marker minus 8, as the receiver's own code does.
constexpr uint32_t kFreeWalkStop = kEndOfChain - 8;

void MarkDirty(pcfm_file* file, uint32_t cluster) {
    const uint32_t sector = cluster / kEntriesPerTableSector;
    file->dirty_low = std::min(file->dirty_low, sector);
    file->dirty_high = std::max(file->dirty_high, sector);
}

void SetLink(pcfm_file* file, uint32_t cluster, uint16_t value) {
    file->volume->table[cluster] = value;
    MarkDirty(file, cluster);
}

bool Writable(const pcfm_file* file) {
    return (file->mode & kModeWrite) != 0;
}

uint32_t g_chain_generation = 1;

// Walks the whole chain from the entry once. A cluster is sound while it is a data cluster,
// marked used, and met for the first time; the walk stops at the first that is not, or at the
// end marker.
void CheckChain(pcfm_file* file) {
    static std::bitset<kHighestCluster + 1> seen;
    seen.reset();
    const pcfm_volume* volume = file->volume;
    uint32_t cluster = pcfm_chain_start(file);
    uint32_t sound = 0;
    bool ended = cluster == 0;
    while (!ended && pcfm_is_data_cluster(cluster) && !seen[cluster] &&
           volume->table[cluster] != 0) {
        seen.set(cluster);
        ++sound;
        const uint32_t next = volume->table[cluster];
        if (next == kEndOfChain)
            ended = true;
        else
            cluster = next;
    }
    const uint64_t needed =
        (file->entry->size + volume->bytes_per_cluster - 1) / volume->bytes_per_cluster;
    file->sound_clusters = sound;
    file->chain_intact = ended && sound >= needed;
    file->chain_generation = g_chain_generation;
}

}  // namespace

bool pcfm_is_data_cluster(uint32_t cluster) {
    return cluster >= 1 && cluster <= kHighestCluster;
}

uint64_t pcfm_cluster_sector(const pcfm_volume* volume, uint32_t cluster) {
    return static_cast<uint64_t>(cluster) * volume->sectors_per_cluster + volume->data_start;
}

uint32_t pcfm_chain_start(const pcfm_file* file) {
    return file->chain_detached ? 0 : file->entry->first_cluster;
}

void pcfm_count_run(pcfm_file* file, uint32_t clusters_wanted) {
    if (clusters_wanted == 0) clusters_wanted = 0xFFFF;
    if (file->cluster == 0) {
        file->run = 0;
        return;
    }
    const uint16_t* table = file->volume->table;
    uint32_t cluster = file->cluster;
    uint32_t run = 1;
    while (run < clusters_wanted && cluster < kHighestCluster && table[cluster] == cluster + 1) {
        ++cluster;
        ++run;
    }
    file->run = run;
}

int pcfm_allocate(pcfm_file* file, uint32_t clusters_wanted, uint32_t* allocated) {
    uint16_t* table = file->volume->table;
    pcfm_entry* entry = file->entry;
    uint32_t previous = file->cluster;
    uint32_t taken = 0;
    bool contiguous = true;
    for (uint32_t search = previous + 1; taken < clusters_wanted; ++search) {
        while (search <= kHighestCluster && table[search] != 0) ++search;
        if (search > kHighestCluster) break;
        SetLink(file, search, kEndOfChain);
        if (pcfm_chain_start(file) != 0) {
            SetLink(file, previous, static_cast<uint16_t>(search));
            if (taken == 0) ++file->ordinal;
        } else {
            entry->first_cluster = search;
            file->chain_detached = false;
        }
        entry->last_cluster = search;
        if (taken == 0) {
            file->cluster = search;
            file->run = 1;
        } else if (contiguous && search == previous + 1) {
            ++file->run;
        } else {
            contiguous = false;
        }
        previous = search;
        ++taken;
    }
    if (allocated != nullptr) *allocated = taken;
    return taken == 0 ? EDISKFULL : 0;
}

int pcfm_map_position(pcfm_file* file, uint32_t clusters_wanted, uint64_t* first_sector,
                      uint64_t* sectors) {
    const pcfm_volume* volume = file->volume;
    const uint16_t* table = volume->table;
    const uint64_t wanted_ordinal = file->position / volume->bytes_per_cluster;
    const uint32_t offset = static_cast<uint32_t>(file->position % volume->bytes_per_cluster);
    if (pcfm_entry_removed(file)) return ENOTFOUND;  // its clusters are free or another's
    if (wanted_ordinal >= kMaxChainClusters) return Writable(file) ? EDISKFULL : EBADCHAIN;

    // Start again from the entry when the position lies behind the cursor, when chains were
    // freed since the handle last walked (its cursor may name clusters another file has now),
    // and when another handle on the same entry gave the file its first cluster.
    const bool stale = file->chain_generation != g_chain_generation;
    if (wanted_ordinal < file->ordinal || stale || (file->cluster == 0 && file->ordinal != 0) ||
        (file->cluster == 0 && pcfm_chain_start(file) != 0)) {
        file->cluster = pcfm_chain_start(file);
        file->ordinal = 0;
        file->run = 0;
    }
    if (stale) CheckChain(file);
    if (Writable(file)) {
        // Extending or overwriting a damaged chain would write into clusters that are not
        // the file's: nothing is written.
        if (!file->chain_intact) return EBADCHAIN;
    } else if (wanted_ordinal >= file->sound_clusters) {
        CheckChain(file);  // another handle may have lengthened the chain since
        if (wanted_ordinal >= file->sound_clusters) return EBADCHAIN;
    }
    if (file->cluster != 0 && !pcfm_is_data_cluster(file->cluster)) return EBADCHAIN;
    if (file->cluster == 0) {
        if (!Writable(file)) return EBADCHAIN;
        const int error = pcfm_allocate(file, clusters_wanted, nullptr);
        if (error != 0) return error;
    }
    while (file->ordinal < wanted_ordinal) {
        const uint32_t next = table[file->cluster];
        if (next == kEndOfChain) {
            if (!Writable(file)) return EBADCHAIN;
            const uint32_t missing = static_cast<uint32_t>(wanted_ordinal - file->ordinal - 1);
            const int error = pcfm_allocate(file, missing + clusters_wanted, nullptr);
            if (error != 0) return error;
            continue;
        }
        if (!pcfm_is_data_cluster(next) || table[next] == 0) return EBADCHAIN;
        file->run = file->run > 1 && next == file->cluster + 1 ? file->run - 1 : 0;
        file->cluster = next;
        ++file->ordinal;
    }
    if (file->run == 0) pcfm_count_run(file, clusters_wanted);
    // A run read in one go ends where the sound part of a damaged chain does.
    if (!Writable(file) && file->run > file->sound_clusters - file->ordinal)
        file->run = file->sound_clusters - file->ordinal;

    const uint32_t sector_in_cluster = offset / volume->bytes_per_sector;
    *first_sector = pcfm_cluster_sector(volume, file->cluster) + sector_in_cluster;
    *sectors = static_cast<uint64_t>(file->run) * volume->sectors_per_cluster - sector_in_cluster;
    return 0;
}

void pcfm_chains_changed() {
    ++g_chain_generation;
}

void pcfm_free_chain(pcfm_file* file) {
    pcfm_chains_changed();
    uint32_t cluster = pcfm_chain_start(file);
    for (uint32_t steps = 0; pcfm_is_data_cluster(cluster) && steps < kMaxChainClusters; ++steps) {
        const uint32_t next = file->volume->table[cluster];
        SetLink(file, cluster, 0);
        // The end marker ends the chain; so do a free entry and a value outside the data
        // clusters, which only a damaged table holds.
        if (next == 0 || next > kFreeWalkStop) break;
        cluster = next;
    }
    file->cluster = 0;
    file->ordinal = 0;
    file->run = 0;
    if (file->mode & kModeNoCreate) {
        file->chain_detached = true;
    } else {
        file->entry->first_cluster = 0;
    }
    file->entry->size = 0;
}

int pcfm_transfer(pcfm_file* file, bool write, uint8_t* buffer, uint64_t first_sector,
                  uint32_t sectors) {
    pcfm_blkreq& request = file->request;
    request.device = file->device;
    request.buffer = buffer;
    request.count = static_cast<uint16_t>(sectors);
    const int result = write ? file->driver->write(static_cast<uint32_t>(first_sector), &request)
                             : file->driver->read(static_cast<uint32_t>(first_sector), &request);
    file->last_result = result;
    return result;
}

int pcfm_write_back(pcfm_file* file) {
    const pcfm_entry* entry = file->entry;
    uint32_t low = 0;
    uint32_t high = kTableSectors - 1;
    const bool entry_range_valid = entry->last_cluster >= kEntriesPerTableSector &&
                                   entry->last_cluster <= kHighestCluster &&
                                   entry->first_cluster <= entry->last_cluster;
    if (entry_range_valid) {
        low = entry->first_cluster / kEntriesPerTableSector;
        high = entry->last_cluster / kEntriesPerTableSector;
        if (file->dirty_low <= file->dirty_high) {
            low = std::min(low, file->dirty_low);
            high = std::max(high, file->dirty_high);
        }
    }
    uint8_t* table = reinterpret_cast<uint8_t*>(file->volume->table);
    int result = pcfm_transfer(file, true, table + low * kSectorSize, file->volume->fat_start + low,
                               high - low + 1);
    if (result == 0) {
        file->dirty_low = UINT32_MAX;
        file->dirty_high = 0;
        result = pcfm_write_entry(file);
    }
    file->error = result;
    return result;
}

uint32_t pcfm_free_space(pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return 0;
    }
    const uint16_t* table = file->volume->table;
    uint32_t free_clusters = 0;
    for (uint32_t cluster = 0; cluster <= kHighestCluster; ++cluster)
        if (table[cluster] == 0) ++free_clusters;
    return free_clusters * file->volume->sectors_per_cluster;
}

uint32_t pcfm_total_space(pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return 0;
    }
    return file->volume->bytes_per_cluster / 1024 * (file->volume->highest_cluster - 1);
}
