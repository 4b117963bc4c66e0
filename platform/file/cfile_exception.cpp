#include "platform/file/cfile_exception.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

CFileException::CFileException(int cause, long os_error, std::string file_name)
    : m_cause(cause), m_lOsError(os_error), m_strFileName(std::move(file_name)) {
    // Said as people read it: the file, then what went wrong.
    std::string reason;
    if (cause == diskFull)
        reason = "the PC's disk is full (" +
                 std::string(std::strerror(static_cast<int>(os_error))) + ")";
    else
        reason = std::strerror(static_cast<int>(os_error));
    message_ = m_strFileName.empty() ? reason : m_strFileName + ": " + reason;
}

int CFileException::CauseFromErrno(int error_number) {
    switch (error_number) {
        case ENOENT:
            return fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return accessDenied;
        case EBADF:
            return invalidFile;
        case EINVAL:
            return badSeek;
        case EIO:
            return hardIO;
        case ETXTBSY:
            return sharingViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        default:
            return genericException;
    }
}

const char* CFileException::what() const noexcept {
    return message_.c_str();
}
