// A second thread for the PC side of a copy: it reads the next chunk of a PC source, or writes
// the last chunk to a PC target, while the copy's own thread moves the other chunk over the
// link. One job runs at a time; its outcome is taken by Wait before the next one starts, so the
// file is only ever touched by one thread at a time.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/file/cfile.h"
#include "platform/file/chunk_outcome.h"

class PcChunkWorker {
  public:
    PcChunkWorker();
    // Waits for a job still running; its outcome is dropped.
    ~PcChunkWorker();
    PcChunkWorker(const PcChunkWorker&) = delete;
    PcChunkWorker& operator=(const PcChunkWorker&) = delete;

    // Starts file.ReadChunk(buffer, count) or file.WriteChunk(buffer, count). Neither the file
    // nor the buffer may be used until Wait has returned.
    void StartRead(CFile& file, void* buffer, unsigned count);
    void StartWrite(CFile& file, const void* buffer, unsigned count);
    // Whether a job was started whose outcome has not been taken yet.
    bool Pending() const { return pending_; }
    // The outcome of the job started last; an exception it raised is raised here.
    ChunkOutcome Wait();

  private:
    void Start(CFile& file, void* buffer, unsigned count, bool write);
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    CFile* file_ = nullptr;
    void* buffer_ = nullptr;
    unsigned count_ = 0;
    bool write_ = false;
    bool job_ = false;   // a job waits for the thread or runs
    bool quit_ = false;  // the thread ends once no job is left
    ChunkOutcome outcome_;
    std::exception_ptr raised_;
    bool pending_ = false;  // only touched by the owner's thread
    std::thread thread_;
};
