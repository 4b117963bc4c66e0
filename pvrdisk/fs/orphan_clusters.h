// Clusters a lost link can leave behind: a write-back that put the allocation table on the
// disk but not the entry leaves the new file's clusters marked used with no entry holding
// them. The copy engine takes note of its target's chain before it drops the handle, and gives
// back, once the disk is mounted afresh, those that no entry holds.
#pragma once

#include <cstdint>
#include <vector>

struct pcfm_file;

// The chain of an open handle as the table in memory has it (bounded by the clusters there
// are).
std::vector<uint32_t> HeldChain(const pcfm_file* file);

// Frees those of `clusters` that the table marks used but no chain of any directory entry
// holds, through `writer` (a handle open for writing, whose next write-back writes them). The
// number freed, or -1 (nothing freed) when a folder cannot be read.
int ReclaimOrphans(pcfm_file* writer, const std::vector<uint32_t>& clusters);
