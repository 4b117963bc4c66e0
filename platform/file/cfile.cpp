#include "platform/file/cfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CFile::CFile() = default;

CFile::CFile(const char* file_name, unsigned open_flags) {
    CFileException error;
    if (!Open(file_name, open_flags, &error)) throw error;
}

CFile::~CFile() {
    if (m_hFile != hFileNull) ::close(m_hFile);
}

const char* CFile::GetRuntimeClassName() const {
    return "class CFile";
}

void CFile::Raise(int cause, int os_error) const {
    throw CFileException(cause, os_error, m_strFileName);
}

uint64_t CFile::GetPosition() const {
    const off_t position = ::lseek(m_hFile, 0, SEEK_CUR);
    if (position < 0) Raise(CFileException::CauseFromErrno(errno), errno);
    return static_cast<uint64_t>(position);
}

std::string CFile::GetFileName() const {
    return NameOf(m_strFileName);
}

std::string CFile::GetFileTitle() const {
    const std::string name = GetFileName();
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string CFile::GetFilePath() const {
    return m_strFileName;
}

void CFile::SetFilePath(const char* new_name) {
    if (new_name == nullptr) throw std::invalid_argument("CFile::SetFilePath: null path");
    m_strFileName = new_name;
}

bool CFile::Open(const char* file_name, unsigned open_flags, CFileException* error) {
    if (m_hFile != hFileNull) Close();
    int flags = O_CLOEXEC;
    switch (open_flags & 3) {
        case modeRead:
            flags |= O_RDONLY;
            break;
        case modeWrite:
            flags |= O_WRONLY;
            break;
        case modeReadWrite:
            flags |= O_RDWR;
            break;
        default:
            if (error != nullptr)
                *error = CFileException(CFileException::genericException, EINVAL, file_name);
            return false;
    }
    if (open_flags & modeCreate) flags |= O_CREAT | ((open_flags & modeNoTruncate) ? 0 : O_TRUNC);
    // Opened without blocking, so that a FIFO without a partner never holds the program.
    const int fd = ::open(file_name, flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        if (error != nullptr)
            *error = CFileException(CFileException::CauseFromErrno(errno), errno, file_name);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        if (error != nullptr)
            *error = CFileException(CFileException::accessDenied, EISDIR, file_name);
        return false;
    }
    // A regular file blocks as files do; anything else stays as opened.
    if (S_ISREG(status.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_hFile = fd;
    SetFilePath(file_name);
    return true;
}

uint64_t CFile::Seek(int64_t offset, unsigned from) {
    int whence = SEEK_SET;
    switch (from) {
        case begin:
            whence = SEEK_SET;
            break;
        case current:
            whence = SEEK_CUR;
            break;
        case end:
            whence = SEEK_END;
            break;
        default:
            Raise(CFileException::badSeek, EINVAL);
    }
    const off_t position = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
    if (position < 0) Raise(CFileException::badSeek, errno);
    return static_cast<uint64_t>(position);
}

void CFile::SetLength(uint64_t new_length) {
    if (::ftruncate(m_hFile, static_cast<off_t>(new_length)) != 0)
        Raise(CFileException::CauseFromErrno(errno), errno);
}

uint64_t CFile::GetLength() const {
    struct stat status {};
    if (::fstat(m_hFile, &status) != 0) Raise(CFileException::CauseFromErrno(errno), errno);
    return static_cast<uint64_t>(status.st_size);
}

unsigned CFile::Read(void* buffer, unsigned count) {
    unsigned done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_hFile, static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise(CFileException::CauseFromErrno(errno), errno);
        if (n == 0) break;
        done += static_cast<unsigned>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, unsigned count) {
    unsigned done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_hFile, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise(CFileException::CauseFromErrno(errno), errno);
        if (n == 0) Raise(CFileException::diskFull, ENOSPC);
        done += static_cast<unsigned>(n);
    }
}

void CFile::Flush() {
    if (m_hFile != hFileNull && ::fsync(m_hFile) != 0)
        Raise(CFileException::CauseFromErrno(errno), errno);
}

void CFile::Close() {
    if (m_hFile == hFileNull) return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    if (::close(fd) != 0) Raise(CFileException::CauseFromErrno(errno), errno);
}

ChunkOutcome CFile::ReadChunk(void* buffer, unsigned count) {
    try {
        return ChunkOutcome::Done(Read(buffer, count));
    } catch (const CFileException& error) {
        return {ChunkOutcome::kFailed, 0, static_cast<int>(error.m_lOsError), error.what()};
    }
}

ChunkOutcome CFile::WriteChunk(const void* buffer, unsigned count) {
    try {
        Write(buffer, count);
        return ChunkOutcome::Done(count);
    } catch (const CFileException& error) {
        const ChunkOutcome::Kind kind = error.m_cause == CFileException::diskFull
                                            ? ChunkOutcome::kDiskFull
                                            : ChunkOutcome::kFailed;
        return {kind, 0, static_cast<int>(error.m_lOsError), error.what()};
    }
}

ChunkOutcome CFile::Commit() {
    try {
        Flush();
        return ChunkOutcome::Done(0);
    } catch (const CFileException& error) {
        return {ChunkOutcome::kFailed, 0, static_cast<int>(error.m_lOsError), error.what()};
    }
}

uint64_t CFile::SeekToBegin() {
    return Seek(0, begin);
}

uint64_t CFile::SeekToEnd() {
    return Seek(0, end);
}
