#include "platform/log_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool CreateFolder(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

bool CanEnterFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

namespace {
int64_t CreationTimeNs(const std::string& path) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return 0;
    const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

std::vector<FoundFile> ListFiles(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix) {
    std::vector<FoundFile> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix))
            continue;
        if (!EndsWith(name, suffix)) continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        found.push_back({path, CreationTimeNs(path)});
    }
    closedir(dir);
    return found;
}

bool DeleteFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

SharedWriteFile::~SharedWriteFile() {
    Close();
}

bool SharedWriteFile::Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ >= 0) path_ = path;
    return fd_ >= 0;
}

bool SharedWriteFile::Write(const void* data, size_t size) {
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SharedWriteFile::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    path_.clear();
}

}  // namespace platform
