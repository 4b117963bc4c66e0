#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/pc_files.h"

namespace platform {

FileLock::~FileLock() {
    Release();
}

bool FileLock::Take(const std::string& path, bool shared, std::string* error) {
    Release();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        *error = path + ": " + ErrorText(errno);
        return false;
    }
    if (::flock(fd_, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return true;
    const int code = errno;
    Release();
    *error = code == EWOULDBLOCK
                 ? path + " is in use by another run of this program; wait until it has ended"
                 : path + ": " + ErrorText(code);
    return false;
}

void FileLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace platform
