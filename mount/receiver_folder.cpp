#include "mount/receiver_folder.h"

#include <cstring>

#include "pvrdisk/pcfm.h"
#include "transfer/dos_time.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_names.h"

namespace {

constexpr uint16_t kEntriesPerFolder = 512;

}  // namespace

int ReadReceiverFolder(const std::string& folder, std::vector<MountEntry>* entries) {
    entries->clear();
    pcfm_errno = 0;
    pcfm_file* directory = pcfm_open(ToBox(folder).c_str(), "d");
    if (directory == nullptr) return pcfm_errno != 0 ? pcfm_errno : ENOTFOUND;
    for (uint16_t index = 0; index < kEntriesPerFolder; ++index) {
        pcfm_dirent e{};
        e.index = index;
        pcfm_errno = 0;
        if (pcfm_readdir(directory, &e) != 0) break;
        if (std::strcmp(e.name, ".") == 0 || std::strcmp(e.name, "..") == 0) continue;
        MountEntry entry;
        entry.directory = (e.attributes & kAttrDirectory) != 0;
        // Files are named as the pane lists them: title, dot, extension (which may be empty).
        entry.receiver_name =
            entry.directory ? FromBox(e.name) : FromBox(e.name) + "." + FromBox(e.extension);
        entry.size = entry.directory ? 0 : static_cast<uint64_t>(e.size_high) << 32 | e.size_low;
        entry.time = EntryTimeOf(e);
        entries->push_back(entry);
    }
    // Reading stops at the first entry number the folder does not hold; anything else is a
    // failure of the disk or the link, and a listing cut short must not pass for the folder.
    const int stopped = pcfm_errno;
    pcfm_close(directory);
    if (stopped != 0 && stopped != ENOENTRY) return stopped;
    AssignPcNames(entries);
    return 0;
}

std::string JoinReceiverPath(const std::string& folder, const std::string& name) {
    return CollapseBackslashes(folder + "\\" + name);
}
