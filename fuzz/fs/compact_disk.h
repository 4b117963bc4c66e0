// The receiver-disk fuzzer's input: a disk in brief, so that an input of a few kilobytes
// stands for a whole disk and mutations land on bytes the file system reads.
//
//   bytes 0 to 511    the boot sector
//   2 bytes (LE)      n, the number of table entries that follow
//   2n bytes          the start of the allocation table; the rest of it reads as zeros
//   then, to the end  records of: cluster number (2 bytes LE), byte count m (2 bytes LE) and
//                     m bytes, the start of that cluster (cut at the cluster's size)
//
// Everything not given reads as zeros. The table and clusters are placed where the boot
// sector's parameters put them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

inline constexpr size_t kBootBytes = 512;

// Lays the disk out on the memory disk (memory_disk.h), which must have been reset. False for
// an input shorter than the boot sector.
bool LoadCompactDisk(const uint8_t* data, size_t size);

// The compact form of a disk image: its table up to the last entry in use, and the clusters
// holding anything but zeros, each cut after its last nonzero byte and at `cluster_cut`
// bytes. False when the image cannot be read.
bool EncodeCompactDisk(const std::string& image_path, size_t cluster_cut,
                       std::vector<uint8_t>* compact);

}  // namespace fuzzing
