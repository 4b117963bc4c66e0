// The sizes the copy pipeline works with, each named once.
#pragma once

#include <cstdint>

// A resume compares the first and the last MiB of source and target; targets of 2 MiB or
// less are copied again.
inline constexpr uint64_t kResumeBlock = 1048576;
inline constexpr uint64_t kResumeMinimumTarget = 2097152;
// A recording longer than this goes to a FAT volume in parts; a part is closed after the chunk
// written when it already holds more than this: 4 GiB - 512 KiB - 1, so that no part reaches
// 4 GiB.
inline constexpr uint64_t kSplitLimit = 0xFFF7FFFFull;
// The largest file a FAT volume holds.
inline constexpr uint64_t kFatMaxFileBytes = 0xFFFFFFFFull;
