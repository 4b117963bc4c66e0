#include "pvrdisk/fs/raw_file.h"

#include "app/log.h"
#include "platform/last_error.h"
#include "pvrdisk/fs/orphan_clusters.h"
#include "pvrdisk/fs/pcfm_internal.h"
#include "pvrdisk/pcfm.h"

namespace {

std::string CollapseBackslashes(const char* name) {
    std::string path;
    for (const char* c = name; *c != 0; ++c)
        if (!(*c == '\\' && !path.empty() && path.back() == '\\')) path += *c;
    return path;
}

// The part after the last `separator`, or all of `text` when there is none after the first
// character.
std::string After(const std::string& text, char separator) {
    const size_t at = text.find_last_of(separator);
    return at == std::string::npos || at == 0 ? text : text.substr(at + 1);
}

std::string Before(const std::string& text, char separator) {
    const size_t at = text.find_last_of(separator);
    return at == std::string::npos || at == 0 ? text : text.substr(0, at);
}

bool IsFailure(int error) {
    return error != 0 && error != ENOENTRY;
}

bool IsLinkFailure(int error) {
    return error == EDEVICE || error == ESHORTIO;
}

ChunkOutcome Failed(ChunkOutcome::Kind kind, uint32_t bytes, int code) {
    return {kind, bytes, code, {}};
}

}  // namespace

CRawFile::~CRawFile() {
    if (handle_ != nullptr) pcfm_close(handle_);
}

const char* CRawFile::GetRuntimeClassName() const {
    return "class CRawFile";
}

uint64_t CRawFile::GetPosition() const {
    uint64_t position = 0;
    pcfm_tell(handle_, &position);
    return position;
}

std::string CRawFile::GetFileName() const {
    return file_name_;
}
std::string CRawFile::GetFileTitle() const {
    return file_title_;
}
std::string CRawFile::GetFilePath() const {
    return file_path_;
}

bool CRawFile::Open(const char* file_name, unsigned open_flags, CFileException*) {
    LogScope trace("CRawFile::Open", 3);
    pcfm_errno = 0;
    if (handle_ != nullptr) Close();
    if (file_name == nullptr) return false;
    const std::string path = CollapseBackslashes(file_name);
    // The access bits choose the letters; share and type bits do not matter here.
    std::string mode;
    switch (open_flags & 3) {
        case modeRead:
            mode = "r";
            break;
        case modeWrite:
        case modeReadWrite:
            if (open_flags & modeCreate) mode = (open_flags & modeNoTruncate) ? "a" : "w";
            mode += "+";
            break;
        default:
            return false;
    }
    mode += "b";
    handle_ = pcfm_open(path.c_str(), mode.c_str());
    file_path_ = path;
    file_name_ = After(path, '\\');
    file_title_ = Before(file_name_, '.');
    if (handle_ != nullptr && mode[0] == 'a') SeekToBegin();
    return handle_ != nullptr;
}

uint64_t CRawFile::Seek(int64_t offset, unsigned from) {
    if (from <= end) {
        const uint64_t target = static_cast<uint64_t>(offset);
        pcfm_seek(handle_, &target, static_cast<int>(from));
    }
    return static_cast<uint64_t>(offset);
}

void CRawFile::SetLength(uint64_t) {}

uint64_t CRawFile::GetLength() const {
    uint64_t position = 0;
    pcfm_tell(handle_, &position);
    const uint64_t zero = 0;
    pcfm_seek(handle_, &zero, 0);
    pcfm_seek(handle_, &zero, 2);
    uint64_t length = 0;
    pcfm_tell(handle_, &length);
    pcfm_seek(handle_, &position, 0);
    return length;
}

unsigned CRawFile::Read(void* buffer, unsigned count) {
    // An error left by an earlier, unrelated call must not read as this read's failure.
    pcfm_errno = 0;
    const size_t done = pcfm_read(buffer, 1, count, handle_);
    if (!IsFailure(pcfm_errno)) return static_cast<unsigned>(done);
    LogLine("Read Error: " + FormatDec(pcfm_errno), 1);
    platform::SetLastError(platform::kErrorReceiverIo);
    return 0;
}

void CRawFile::Write(const void* buffer, unsigned count) {
    pcfm_errno = 0;
    pcfm_write(buffer, 1, count, handle_);
    if (!IsFailure(pcfm_errno)) return;
    LogLine("Write Error: " + FormatDec(pcfm_errno), 1);
    platform::SetLastError(platform::kErrorReceiverIo);
}

void CRawFile::Close() {
    pcfm_close(handle_);
    handle_ = nullptr;
}

uint64_t CRawFile::SeekToBegin() {
    const uint64_t zero = 0;
    return static_cast<uint64_t>(pcfm_seek(handle_, &zero, 0));
}

uint64_t CRawFile::SeekToEnd() {
    const uint64_t zero = 0;
    pcfm_seek(handle_, &zero, 2);
    return 0;
}

ChunkOutcome CRawFile::ReadChunk(void* buffer, unsigned count) {
    const unsigned done = Read(buffer, count);
    const int error = pcfm_errno;
    if (IsLinkFailure(error)) return Failed(ChunkOutcome::kLinkLost, 0, error);
    if (IsFailure(error)) return Failed(ChunkOutcome::kFailed, 0, error);
    // A chain that ends before the file's size reads as its end; it is a damaged file.
    if (done < count && handle_ != nullptr && GetPosition() < GetLength())
        return Failed(ChunkOutcome::kFailed, done, ENOENTRY);
    return ChunkOutcome::Done(done);
}

ChunkOutcome CRawFile::WriteChunk(const void* buffer, unsigned count) {
    pcfm_errno = 0;
    const size_t done = pcfm_write(buffer, 1, count, handle_);
    const int error = pcfm_errno;
    if (error != 0 && error != ENOENTRY) {
        LogLine("Write Error: " + FormatDec(error), 1);
        platform::SetLastError(platform::kErrorReceiverIo);
    }
    const auto moved = static_cast<uint32_t>(done);
    if (IsLinkFailure(error)) return Failed(ChunkOutcome::kLinkLost, moved, error);
    if (error == EDISKFULL || error == ETOOLARGE)
        return Failed(ChunkOutcome::kDiskFull, moved, error);
    if (error != 0) return Failed(ChunkOutcome::kFailed, moved, error);
    // Clusters ran out part of the way: the disk is full, though the library took what fit.
    if (done < count) return Failed(ChunkOutcome::kDiskFull, moved, EDISKFULL);
    return ChunkOutcome::Done(moved);
}

ChunkOutcome CRawFile::Commit() {
    if (pcfm_flush(handle_) == 0) return ChunkOutcome::Done(0);
    const int error = pcfm_errno;
    return Failed(IsLinkFailure(error) ? ChunkOutcome::kLinkLost : ChunkOutcome::kFailed, 0, error);
}

void CRawFile::Abandon() {
    abandoned_chain_ = HeldChain(handle_);
    if (handle_ != nullptr && pcfm_valid(handle_)) pcfm_discard(handle_);
    handle_ = nullptr;
}

int CRawFile::ReclaimOrphans(const std::vector<uint32_t>& clusters) {
    return ::ReclaimOrphans(handle_, clusters);
}
