// Empty receiver disk images, and mounting an image file for the library.
#pragma once

#include <cstdint>
#include <string>

namespace image {

inline constexpr uint32_t kMinClusterBytes = 32768;  // a directory fills 32 KiB of its cluster
inline constexpr uint32_t kMaxDataClusters = 65534;  // clusters 1 to 0xFFFE
inline constexpr uint16_t kImageFatStart = 16;

// The largest image the format can use with clusters of `cluster_bytes`: the table, the root
// cluster and 65 534 data clusters.
uint64_t MaxImageBytes(uint32_t cluster_bytes);
// The smallest cluster size whose table reaches the end of a disk of `image_bytes`.
uint32_t SmallestClusterFor(uint64_t image_bytes);

// Why an image of this size and cluster size cannot be made; empty when it can.
std::string ImageSizeProblem(uint64_t image_bytes, uint32_t cluster_bytes);

// Writes an empty receiver disk: boot sector (signature and the four parameters), the
// allocation table and an empty root directory, in a sparse file of `image_bytes` bytes.
// Clusters that lie beyond the end of the image are marked used, so that nothing is ever
// allocated there. False with a reason when the size or cluster size cannot be used.
bool MakeReceiverImage(const std::string& path, uint64_t image_bytes, uint32_t cluster_bytes,
                       std::string* error);

// Opens the image through the block device that keeps holes (sparse_block_device.h), makes it
// the library's block device and mounts it: the result of OV_FILE_init, or EDEVICE when the
// file cannot be opened.
int MountReceiverImage(const std::string& path);
// pcfm_release and closing the image.
void UnmountReceiverImage();

}  // namespace image
