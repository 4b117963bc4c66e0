// A disk in memory for the fuzzer: the input bytes are the start of the disk, everything
// after them reads as zeros, and writes land in an overlay so the input stays untouched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "pvrdisk/transport/block_device.h"

namespace fuzzing {

// Serves `data` until the next SetMemoryDisk; sectors at or beyond `sector_limit` fail.
void SetMemoryDisk(const uint8_t* data, size_t size, uint64_t sector_limit);
void ClearMemoryDisk();

extern const pcfm_blkdrv memory_block_driver;

}  // namespace fuzzing
