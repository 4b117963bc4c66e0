#include "fuzz/fs/compact_disk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "fuzz/fs/memory_disk.h"

namespace fuzzing {

namespace {

constexpr uint32_t kTableSectors = 256;
constexpr size_t kTableBytes = kTableSectors * kSectorSize;
constexpr uint32_t kClusters = 0x10000;

uint32_t Load16(const uint8_t* at) {
    return at[0] | at[1] << 8;
}

void Store16(std::vector<uint8_t>* out, size_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

struct Geometry {
    uint32_t fat_start;
    uint32_t sectors_per_cluster;
    uint64_t ClusterSector(uint32_t cluster) const {
        return fat_start + kTableSectors + uint64_t{cluster} * sectors_per_cluster;
    }
};

Geometry GeometryOf(const uint8_t* boot) {
    return {Load16(boot + 66), Load16(boot + 70)};
}

// Puts `size` bytes at `sector` and on, sector by sector.
bool PutBytes(uint64_t sector, const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size; done += kSectorSize, ++sector) {
        if (sector > UINT32_MAX) return true;  // beyond any disk: reads fail there anyway
        if (!PutSectorBytes(static_cast<uint32_t>(sector), data + done,
                            std::min(size - done, size_t{kSectorSize})))
            return false;
    }
    return true;
}

size_t LastNonzero(const std::vector<uint8_t>& bytes) {
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    return end;
}

}  // namespace

bool LoadCompactDisk(const uint8_t* data, size_t size) {
    if (size < kBootBytes) return false;
    const Geometry geometry = GeometryOf(data);
    PutBytes(0, data, kBootBytes);
    size_t at = kBootBytes;
    if (size - at < 2) return true;
    const size_t table_bytes =
        std::min({size_t{Load16(data + at)} * 2, kTableBytes, size - at - 2});
    at += 2;
    PutBytes(geometry.fat_start, data + at, table_bytes);
    at += table_bytes;
    const size_t cluster_bytes = size_t{geometry.sectors_per_cluster} * kSectorSize;
    while (size - at >= 4 && cluster_bytes != 0) {
        const uint32_t cluster = Load16(data + at);
        const size_t bytes =
            std::min({size_t{Load16(data + at + 2)}, cluster_bytes, size - at - 4});
        at += 4;
        if (!PutBytes(geometry.ClusterSector(cluster), data + at, bytes)) break;
        at += bytes;
    }
    return true;
}

bool EncodeCompactDisk(const std::string& image_path, size_t cluster_cut,
                       std::vector<uint8_t>* compact) {
    const int fd = open(image_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto read_at = [fd](uint64_t offset, std::vector<uint8_t>* into) {
        const ssize_t got = pread(fd, into->data(), into->size(), static_cast<off_t>(offset));
        if (got < 0) return false;
        std::fill(into->begin() + got, into->end(), 0);
        return true;
    };
    std::vector<uint8_t> boot(kBootBytes);
    std::vector<uint8_t> table(kTableBytes);
    bool ok = read_at(0, &boot);
    const Geometry geometry = GeometryOf(boot.data());
    ok = ok && geometry.sectors_per_cluster != 0 &&
         read_at(uint64_t{geometry.fat_start} * kSectorSize, &table);
    if (ok) {
        compact->assign(boot.begin(), boot.end());
        // The table is given in whole entries; n counts them, two bytes each. The last entry
        // names no cluster (the highest is 0xFFFE) and is left out.
        table.resize(table.size() - 2);
        const size_t table_end = (LastNonzero(table) + 1) / 2 * 2;
        Store16(compact, table_end / 2);
        compact->insert(compact->end(), table.begin(), table.begin() + table_end);
        std::vector<uint8_t> cluster(
            std::min<size_t>(cluster_cut, size_t{geometry.sectors_per_cluster} * kSectorSize));
        for (uint32_t number = 0; ok && number < kClusters; ++number) {
            // Only the root (cluster 0) and clusters the table marks used can hold anything.
            if (number != 0 && Load16(table.data() + 2 * number) == 0) continue;
            ok = read_at(geometry.ClusterSector(number) * kSectorSize, &cluster);
            const size_t used = LastNonzero(cluster);
            if (used == 0) continue;
            Store16(compact, number);
            Store16(compact, used);
            compact->insert(compact->end(), cluster.begin(), cluster.begin() + used);
        }
    }
    close(fd);
    return ok;
}

}  // namespace fuzzing
