#include "transfer/chunk_pipe.h"

namespace {

// Room beyond the chunk, as the copy's single buffer always had.
constexpr unsigned kBufferSlack = 512;

}  // namespace

ChunkPipe::ChunkPipe(CFile& source, CFile& target, unsigned chunk, Overlap overlap)
    : source_(source), target_(target), chunk_(chunk), overlap_(overlap) {
    buffers_[0].assign(chunk + kBufferSlack, 0);
    if (overlap_ != Overlap::kNone) {
        buffers_[1].assign(chunk + kBufferSlack, 0);
        worker_ = std::make_unique<PcChunkWorker>();
    }
    data_ = Buffer(0);
}

ChunkOutcome ChunkPipe::Read() {
    if (overlap_ != Overlap::kReadAhead) {
        data_ = Buffer(current_);
        return source_.ReadChunk(data_, chunk_);
    }
    // The first read, and the first after a Settle, is not ahead yet.
    if (!worker_->Pending()) worker_->StartRead(source_, Buffer(current_), chunk_);
    const ChunkOutcome got = worker_->Wait();
    data_ = Buffer(current_);
    current_ ^= 1;
    if (got.ok() && got.bytes > 0) worker_->StartRead(source_, Buffer(current_), chunk_);
    return got;
}

ChunkOutcome ChunkPipe::Write(unsigned count) {
    if (overlap_ != Overlap::kWriteBehind) return target_.WriteChunk(data_, count);
    const ChunkOutcome before = Settle();
    if (!before.ok()) return before;
    worker_->StartWrite(target_, data_, count);
    behind_ = count;
    current_ ^= 1;
    return ChunkOutcome::Done(count);
}

ChunkOutcome ChunkPipe::Settle() {
    if (worker_ == nullptr || !worker_->Pending()) return ChunkOutcome::Done(0);
    const ChunkOutcome got = worker_->Wait();
    if (overlap_ == Overlap::kReadAhead) return ChunkOutcome::Done(0);
    if (got.ok()) behind_ = 0;
    return got;
}
