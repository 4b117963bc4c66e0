// A recording a little above 4 GiB for split copies: random bytes in its first MiB and from
// 6 MiB before the end of the first part to its end, zeros between, so that it stays sparse
// on the receiver image and in the PC parts.
#pragma once

#include <string>

#include "tests/transfer/receiver_fixture.h"
#include "transfer/box_function_mgr.h"

// With 64 KiB chunks the first part ends with the first chunk that starts beyond 0xFFF7FFFF.
inline constexpr uint64_t kFirstPartBytes = 0xFFF90000ull;  // 4,294,508,544
inline constexpr uint64_t kSplitImageBytes = 4608ull << 20;
inline constexpr uint32_t kSplitImageCluster = 131072;
inline constexpr const char* kSplitSource = "C:\\Rec1.TP0";

std::string FatVolume(const std::string& path);

struct SplitRecording {
    uint64_t size = kFirstPartBytes + (3u << 20) + 12345;
    uint64_t tail_start = kFirstPartBytes - (6u << 20);
    std::string head = RandomBytes(1 << 20, 1);
    std::string tail = RandomBytes(size - tail_start, 2);

    size_t TailIndex(uint64_t offset) const { return static_cast<size_t>(offset - tail_start); }
    // Part ~0 as a copy that stopped after `length` bytes leaves it.
    void WritePcPart0(const std::string& path, uint64_t length) const;
    // The parts in `folder` ("Rec~0.TP0", ...) put together are the recording, and none
    // holds 4 GiB. Failures are reported through the test.
    bool PartsMatch(const std::string& folder) const;
};

// The recording at kSplitSource on a receiver image connected through the emulated receiver,
// with every PC folder taken for FAT (so a copy to the PC is split).
class SplitRecordingFixture : public ReceiverFixture {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Copies the recording from the receiver's root into the PC folder through box_, every
    // existing target answered yes.
    bool GetRecording();

    SplitRecording recording_;
    CBoxFunctionMgr box_;
};
