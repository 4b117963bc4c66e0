// A sparse disk in memory for the fuzzer: sectors put or written are kept, every other sector
// reads as zeros, and clearing it between inputs costs nothing. Sectors at or beyond the limit
// fail, and so does a write once the store is full, as a failing device would.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pvrdisk/transport/block_device.h"

namespace fuzzing {

// Empties the disk; sectors from `sector_limit` on fail.
void ResetMemoryDisk(uint64_t sector_limit);
// Sets the first `size` bytes of `sector` (at most 512; the rest reads as zeros). False when
// the store is full.
bool PutSectorBytes(uint32_t sector, const uint8_t* data, size_t size);

extern const pcfm_blkdrv memory_block_driver;

}  // namespace fuzzing
