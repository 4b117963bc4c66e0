// The chunks of one copy on their way from the source to the target. When exactly one side is
// a PC file, that side's work runs on a second thread while the link moves the other chunk:
// a PC source is read one chunk ahead, a PC target is written one chunk behind. Two buffers of
// the chunk size take turns; the chunk size and the order of the bytes stay as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file/cfile.h"
#include "platform/file/chunk_outcome.h"
#include "transfer/pc_chunk_worker.h"

class ChunkPipe {
  public:
    enum class Overlap { kNone, kReadAhead, kWriteBehind };

    ChunkPipe(CFile& source, CFile& target, unsigned chunk, Overlap overlap);

    // Reads the next chunk of the source; its bytes are at Data().
    ChunkOutcome Read();
    uint8_t* Data() { return data_; }
    // Writes the first `count` bytes of the chunk just read. Written behind, only the write is
    // started and the outcome is that of the chunk before, whose bytes Behind() then counts.
    ChunkOutcome Write(unsigned count);
    // Waits for the PC side's work. A chunk read ahead is dropped (the source is to be
    // positioned anew); a chunk written behind gives its outcome.
    ChunkOutcome Settle();
    // Bytes of the chunk written behind whose write has not been seen to succeed.
    uint32_t Behind() const { return behind_; }

  private:
    uint8_t* Buffer(int which) { return buffers_[which].data(); }

    CFile& source_;
    CFile& target_;
    const unsigned chunk_;
    const Overlap overlap_;
    std::vector<uint8_t> buffers_[2];
    int current_ = 0;  // the buffer the next chunk is read into
    uint8_t* data_ = nullptr;
    uint32_t behind_ = 0;
    std::unique_ptr<PcChunkWorker> worker_;
};
