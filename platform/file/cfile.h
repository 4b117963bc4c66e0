// The framework's file stream over the operating system's files, with the framework's open
// flags, seek origins and exceptions. Every operation is virtual so that a stream over another
// file system (the receiver's, CRawFile) can stand in for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file/cfile_exception.h"
#include "platform/file/chunk_outcome.h"

class CFile {
  public:
    // Open flags, with the framework's values.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : unsigned { begin = 0, current = 1, end = 2 };
    static constexpr int hFileNull = -1;

    CFile();
    // Opens at once; raises CFileException when that fails.
    CFile(const char* file_name, unsigned open_flags);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // "class CFile", or the name of the class that stands in for it.
    virtual const char* GetRuntimeClassName() const;

    virtual uint64_t GetPosition() const;
    virtual std::string GetFileName() const;
    virtual std::string GetFileTitle() const;
    virtual std::string GetFilePath() const;
    // Raises std::invalid_argument for a null path.
    virtual void SetFilePath(const char* new_name);

    // False when the file cannot be opened; `error`, when given, then holds the cause and the
    // operating system's error. Share modes are accepted; the operating system here has none.
    virtual bool Open(const char* file_name, unsigned open_flags, CFileException* error = nullptr);
    // The new position; raises CFileException (badSeek) for a position before the start.
    virtual uint64_t Seek(int64_t offset, unsigned from);
    virtual void SetLength(uint64_t new_length);
    virtual uint64_t GetLength() const;
    // The bytes read, 0 at the end of the file; raises CFileException on a read error.
    virtual unsigned Read(void* buffer, unsigned count);
    // Writes all bytes or raises CFileException (diskFull when the volume is full).
    virtual void Write(const void* buffer, unsigned count);
    virtual void Flush();
    virtual void Close();
    virtual uint64_t SeekToBegin();
    virtual uint64_t SeekToEnd();

    // The copy engine's calls: one chunk read or written, reported as one outcome; never
    // raise. A PC file's failures are kFailed or kDiskFull.
    virtual ChunkOutcome ReadChunk(void* buffer, unsigned count);
    virtual ChunkOutcome WriteChunk(const void* buffer, unsigned count);
    // Makes what was written so far durable where the file lives; the outcome of that.
    virtual ChunkOutcome Commit();
    // True for a stream whose handle lives on the receiver's link: it dies with the link and
    // is opened again by its path once the receiver is back.
    virtual bool ReachedOverLink() const { return false; }
    // Forgets the handle of a stream over a lost link without writing anything back (what it
    // holds in memory may be stale once the receiver is back). Nothing for a PC file.
    virtual void Abandon() {}

    int m_hFile = hFileNull;

  protected:
    // The path as opened, kept by SetFilePath.
    std::string m_strFileName;

  private:
    [[noreturn]] void Raise(int cause, int os_error) const;
};
