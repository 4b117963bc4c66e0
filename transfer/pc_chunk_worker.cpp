#include "transfer/pc_chunk_worker.h"

PcChunkWorker::PcChunkWorker() : thread_([this] { Run(); }) {}

PcChunkWorker::~PcChunkWorker() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void PcChunkWorker::StartRead(CFile& file, void* buffer, unsigned count) {
    Start(file, buffer, count, false);
}

void PcChunkWorker::StartWrite(CFile& file, const void* buffer, unsigned count) {
    // The buffer is only read: WriteChunk takes it as const again.
    Start(file, const_cast<void*>(buffer), count, true);
}

void PcChunkWorker::Start(CFile& file, void* buffer, unsigned count, bool write) {
    {
        std::lock_guard lock(mutex_);
        file_ = &file;
        buffer_ = buffer;
        count_ = count;
        write_ = write;
        raised_ = nullptr;
        job_ = true;
    }
    pending_ = true;
    changed_.notify_all();
}

ChunkOutcome PcChunkWorker::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !job_; });
    pending_ = false;
    if (raised_ != nullptr) std::rethrow_exception(std::exchange(raised_, nullptr));
    return outcome_;
}

void PcChunkWorker::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return job_ || quit_; });
        if (!job_) return;
        CFile* file = file_;
        void* buffer = buffer_;
        const unsigned count = count_;
        const bool write = write_;
        lock.unlock();
        ChunkOutcome outcome;
        std::exception_ptr raised;
        try {
            outcome = write ? file->WriteChunk(buffer, count) : file->ReadChunk(buffer, count);
        } catch (...) {
            raised = std::current_exception();
        }
        lock.lock();
        outcome_ = std::move(outcome);
        raised_ = raised;
        job_ = false;
        changed_.notify_all();
    }
}
