#include "emulator/image/receiver_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "emulator/image/sparse_block_device.h"
#include "pvrdisk/pcfm.h"

namespace image {

namespace {

constexpr uint32_t kTableSectors = 256;
constexpr uint32_t kEndOfChain = 0xFFFF;

void Store16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

bool WriteAll(int fd, const uint8_t* data, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

uint64_t MaxImageBytes(uint32_t cluster_bytes) {
    return (kImageFatStart + kTableSectors) * uint64_t{kSectorSize} +
           (kMaxDataClusters + 1ull) * cluster_bytes;
}

uint32_t SmallestClusterFor(uint64_t image_bytes) {
    uint32_t cluster = kMinClusterBytes;
    while (cluster < (64u << 20) && MaxImageBytes(cluster) < image_bytes) cluster *= 2;
    return cluster;
}

std::string ImageSizeProblem(uint64_t image_bytes, uint32_t cluster_bytes) {
    const uint32_t sectors_per_cluster = cluster_bytes / kSectorSize;
    if (cluster_bytes < kMinClusterBytes || cluster_bytes % kSectorSize != 0 ||
        sectors_per_cluster > 0xFFFF)
        return "the cluster size must be a multiple of 512 bytes from 32 KiB to 32 MiB";
    const uint64_t data_start = kImageFatStart + kTableSectors;
    // The root cluster and at least one data cluster.
    const uint64_t min_bytes = data_start * kSectorSize + 2ull * cluster_bytes;
    if (image_bytes < min_bytes || image_bytes > MaxImageBytes(cluster_bytes))
        return "the image size must lie between " + std::to_string(min_bytes) + " and " +
               std::to_string(MaxImageBytes(cluster_bytes)) + " bytes for this cluster size";
    return "";
}

bool MakeReceiverImage(const std::string& path, uint64_t image_bytes, uint32_t cluster_bytes,
                       std::string* error) {
    *error = ImageSizeProblem(image_bytes, cluster_bytes);
    if (!error->empty()) return false;
    const uint32_t sectors_per_cluster = cluster_bytes / kSectorSize;
    const uint64_t data_start = kImageFatStart + kTableSectors;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ftruncate(fd, static_cast<off_t>(image_bytes)) == 0;

    uint8_t boot[kSectorSize] = {0x55, 0xAA, 0x55, 0xAA};
    Store16(boot + 64, kSectorSize);
    Store16(boot + 66, kImageFatStart);
    Store16(boot + 68, kTableSectors);
    Store16(boot + 70, sectors_per_cluster);
    ok = ok && WriteAll(fd, boot, sizeof boot, 0);

    const uint64_t clusters_on_disk =
        (image_bytes / kSectorSize - data_start) / sectors_per_cluster;
    std::vector<uint8_t> table(kTableSectors * kSectorSize, 0);
    Store16(table.data(), kEndOfChain);  // cluster 0, the root directory
    for (uint64_t cluster = clusters_on_disk; cluster <= 0xFFFF; ++cluster)
        Store16(table.data() + 2 * cluster, kEndOfChain);
    ok = ok && WriteAll(fd, table.data(), table.size(), uint64_t{kImageFatStart} * kSectorSize);
    // The root directory is the file's zeros: the sparse file already reads as empty entries.
    ok = close(fd) == 0 && ok;
    if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

int MountReceiverImage(const std::string& path) {
    if (!OpenSparseImage(path)) return EDEVICE;
    pcfm_set_block_driver(&sparse_image_block_driver);
    return OV_FILE_init();
}

void UnmountReceiverImage() {
    pcfm_release();
    CloseSparseImage();
}

}  // namespace image
