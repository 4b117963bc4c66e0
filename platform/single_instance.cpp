#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {
std::string LockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime)
        return runtime;
    return "/tmp/tessel-" + std::to_string(getuid());
}
}  // namespace

InstanceLock TakeSingleInstanceLock(const std::string& name) {
    const std::string folder = LockFolder();
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return InstanceLock::kFailed;
    const std::string path = folder + "/" + name + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceLock::kFailed;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return InstanceLock::kTaken;  // fd stays open
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? InstanceLock::kHeldElsewhere : InstanceLock::kFailed;
}

}  // namespace platform
