#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/user_folders.h"

namespace platform {

namespace {
// A folder only this user can write to, so that nobody else can hold the lock in its place.
bool IsOwnPrivateFolder(const std::string& folder) {
    struct stat info;
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool MakePrivateFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return IsOwnPrivateFolder(folder);
}

// The runtime folder, else a folder of the user's in the temporary folder, else (when another
// user took that name) the user's own configuration folder.
std::string LockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime && IsOwnPrivateFolder(runtime))
        return runtime;
    const std::string temporary = "/tmp/tessel-" + std::to_string(getuid());
    if (MakePrivateFolder(temporary)) return temporary;
    const std::string config = ConfigFolder();
    std::string built;
    for (size_t slash = config.find('/', 1);; slash = config.find('/', slash + 1)) {
        built = config.substr(0, slash);
        mkdir(built.c_str(), 0700);
        if (slash == std::string::npos) break;
    }
    return IsOwnPrivateFolder(config) ? config : std::string();
}
}  // namespace

InstanceLock TakeSingleInstanceLock(const std::string& name) {
    const std::string folder = LockFolder();
    if (folder.empty()) return InstanceLock::kFailed;
    const std::string path = folder + "/" + name + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLock::kFailed;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return InstanceLock::kTaken;  // fd stays open
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? InstanceLock::kHeldElsewhere : InstanceLock::kFailed;
}

}  // namespace platform
