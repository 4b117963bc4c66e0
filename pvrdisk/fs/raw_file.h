// A file on the receiver's disk as a CFile: the copy engine drives both sides through the
// base-class interface. Failures never raise: a failed read or write is logged and reported
// through the thread's last error 4350 (the sign of a lost link) and pcfm_errno.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file/cfile.h"

struct pcfm_file;

class CRawFile : public CFile {
  public:
    CRawFile() = default;
    // Closes a handle still open, so that its entry and table range reach the disk.
    ~CRawFile() override;

    const char* GetRuntimeClassName() const override;
    uint64_t GetPosition() const override;
    std::string GetFileName() const override;
    std::string GetFileTitle() const override;
    std::string GetFilePath() const override;

    // Opens a receiver path ("C:\..."); doubled backslashes are collapsed. Access: modeRead
    // reads; modeWrite or modeReadWrite reads and writes an existing file from its start, with
    // modeCreate truncating or creating it, and with modeCreate | modeNoTruncate keeping an
    // existing file's contents. `error` is not filled.
    bool Open(const char* file_name, unsigned open_flags, CFileException* error = nullptr) override;
    // Returns `offset` as passed; a seek outside the file leaves the position alone.
    uint64_t Seek(int64_t offset, unsigned from) override;
    // Receiver files are never cut or extended this way.
    void SetLength(uint64_t new_length) override;
    uint64_t GetLength() const override;
    unsigned Read(void* buffer, unsigned count) override;
    void Write(const void* buffer, unsigned count) override;
    void Close() override;
    uint64_t SeekToBegin() override;
    uint64_t SeekToEnd() override;

    // One outcome per chunk: a lost link (the block device failed) apart from a full disk and
    // from a damaged file, which stay so after any reconnection.
    ChunkOutcome ReadChunk(void* buffer, unsigned count) override;
    ChunkOutcome WriteChunk(const void* buffer, unsigned count) override;
    // Writes the allocation-table range and the entry back, keeping the handle open.
    ChunkOutcome Commit() override;
    bool ReachedOverLink() const override { return true; }
    // Drops the handle without writing back its entry or table range; its chain, as the
    // table in memory had it, is kept for ReclaimOrphans.
    void Abandon() override;
    const std::vector<uint32_t>& AbandonedChain() const { return abandoned_chain_; }
    // Gives back those of `clusters` that the mounted disk marks used but no entry holds (a
    // write-back the lost link cut short); they reach the disk with this handle's next
    // write-back. The number given back, or -1.
    int ReclaimOrphans(const std::vector<uint32_t>& clusters);

    // The library handle, null when closed.
    pcfm_file* Handle() const { return handle_; }

  private:
    std::string file_path_;
    std::string file_name_;
    std::string file_title_;
    pcfm_file* handle_ = nullptr;
    std::vector<uint32_t> abandoned_chain_;
};
