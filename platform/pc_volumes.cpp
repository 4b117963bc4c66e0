#include "platform/pc_volumes.h"

#include <gio/gio.h>
#include <gio/gunixmounts.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "platform/user_folders.h"

namespace platform {

namespace {
std::string ExistingAncestor(std::string path) {
    struct stat info;
    while (!path.empty() && stat(path.c_str(), &info) != 0) {
        const size_t slash = path.rfind('/');
        path = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
        if (path == "/") break;
    }
    return path.empty() ? "/" : path;
}
}  // namespace

std::string VolumeOf(const std::string& path) {
    std::string current = ExistingAncestor(path);
    struct stat here;
    if (stat(current.c_str(), &here) != 0) return "/";
    // Up the folders while the device stays the same: the last one is the mount point.
    while (current != "/") {
        const size_t slash = current.rfind('/');
        const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
        struct stat above;
        if (stat(parent.c_str(), &above) != 0 || above.st_dev != here.st_dev) break;
        current = parent;
    }
    return current;
}

bool PcVolumeSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes) {
    struct statvfs volume;
    if (statvfs(ExistingAncestor(path).c_str(), &volume) != 0) return false;
    *free_bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    *total_bytes = static_cast<uint64_t>(volume.f_blocks) * volume.f_frsize;
    return true;
}

bool PcVolumeBlockSize(const std::string& path, uint64_t* block_bytes) {
    struct statvfs volume;
    if (statvfs(ExistingAncestor(path).c_str(), &volume) != 0 || volume.f_frsize == 0) return false;
    *block_bytes = volume.f_frsize;
    return true;
}

std::string VolumeDisplayName(const std::string& mount_point) {
    std::string name = mount_point;
    GUnixMountEntry* entry = g_unix_mount_at(mount_point.c_str(), nullptr);
    if (entry != nullptr) {
        char* guessed = g_unix_mount_guess_name(entry);
        if (guessed != nullptr && *guessed != '\0') name = guessed;
        g_free(guessed);
        g_unix_mount_free(entry);
    }
    return name;
}

std::vector<PcVolume> ListPcVolumes() {
    std::vector<PcVolume> volumes;
    auto add = [&volumes](const std::string& mount_point) {
        for (const PcVolume& known : volumes)
            if (known.mount_point == mount_point) return;
        volumes.push_back({mount_point, VolumeDisplayName(mount_point)});
    };
    add("/");
    add(VolumeOf(DocumentsFolder()));
    GList* mounts = g_unix_mounts_get(nullptr);
    for (GList* item = mounts; item != nullptr; item = item->next) {
        auto* entry = static_cast<GUnixMountEntry*>(item->data);
        if (g_unix_mount_guess_should_display(entry)) add(g_unix_mount_get_mount_path(entry));
    }
    g_list_free_full(mounts, reinterpret_cast<GDestroyNotify>(g_unix_mount_free));
    std::sort(volumes.begin() + 1, volumes.end(),
              [](const PcVolume& a, const PcVolume& b) { return a.mount_point < b.mount_point; });
    return volumes;
}

}  // namespace platform
