// Generated sample content for a mounted receiver disk, written with the library's own calls:
// recordings with programme titles, "&&" name prefixes, deep folders, the receiver's own
// "jukebox" folder and "tm_shift.000" file, a full folder and large sparse recordings.
#pragma once

#include <cstdint>
#include <string>

namespace image {

// Where a recording carries its programme title, and how long the title may be.
inline constexpr uint64_t kTitleOffset = 288336;
inline constexpr size_t kTitleBytes = 36;
inline constexpr uint64_t kRecordingBytes = 300000;

// A recording of `size` bytes (at least kRecordingBytes) with `title` (Windows-1252 bytes or
// the receiver's umlaut sequences) at kTitleOffset; the other bytes are a pattern.
std::string MakeRecording(const std::string& title, uint64_t size = kRecordingBytes);

struct SampleOptions {
    // A recording of 4.5 GiB (needs clusters of at least 128 KiB).
    bool big_recording = false;
    // A recording of this many bytes, 0 for none (near the 32 GiB limit needs 512 KiB
    // clusters). Its middle is zeros, so on a sparse image it costs little.
    uint64_t huge_recording_bytes = 0;
};

inline constexpr uint64_t kBigRecordingBytes = 4608ull << 20;

// The folder that holds 512 entries with "." and "..".
inline constexpr const char* kFullFolder = "C:\\Full";

bool FillSampleContent(const SampleOptions& options, std::string* error);

// Writes a recording whose head and tail are patterned and whose middle is zeros.
bool WriteLargeRecording(const std::string& receiver_path, const std::string& title, uint64_t size,
                         std::string* error);

}  // namespace image
