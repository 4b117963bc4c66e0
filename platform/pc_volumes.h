// The PC's mounted volumes, as the drive chooser offers them: where each is mounted, the name
// the desktop gives it, and its space. Mount points stand in for drive letters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct PcVolume {
    std::string mount_point;   // "/", "/home", "/media/user/USBSTICK"
    std::string display_name;  // the desktop's name for it ("Filesystem root", the label)
};

// The volumes a user would browse: the root, the home folder's volume, and what the desktop
// shows as mounted (removable media, network shares); no kernel or container mounts. The root
// comes first.
std::vector<PcVolume> ListPcVolumes();

// The mount point of the volume that holds `path` (the nearest existing ancestor's).
std::string VolumeOf(const std::string& path);

// Free and total bytes of the volume that holds `path`; false when they cannot be read.
bool PcVolumeSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes);
// The unit the volume that holds `path` allocates files in (its fragment size); false when it
// cannot be read.
bool PcVolumeBlockSize(const std::string& path, uint64_t* block_bytes);

// The desktop's name for the volume mounted at `mount_point`, or the mount point itself.
std::string VolumeDisplayName(const std::string& mount_point);

}  // namespace platform
