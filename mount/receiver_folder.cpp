#include "mount/receiver_folder.h"

#include <cstring>
#include <set>
#include <utility>

#include "app/log.h"
#include "pvrdisk/fs/entry_identity.h"
#include "pvrdisk/pcfm.h"
#include "transfer/dos_time.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_names.h"

namespace {

constexpr uint16_t kEntriesPerFolder = 512;

// A name of printable ASCII without dots, separators or wildcards parses back to itself.
bool PlainPart(const char* part) {
    for (const char* c = part; *c != 0; ++c)
        if (*c < 0x20 || *c > 0x7E || std::strchr("./\\*?", *c) != nullptr) return false;
    return true;
}

// The first cluster of every folder from the root down to `folder` itself: a folder entry
// naming one of them leads back up, and a walk of the mounted folder would never end.
std::set<uint32_t> FoldersDownTo(const std::string& folder) {
    std::set<uint32_t> clusters = {0};
    for (size_t start = 3; start < folder.size();) {
        size_t cut = folder.find('\\', start);
        if (cut == std::string::npos) cut = folder.size();
        ReceiverEntryId id;
        if (IdentifyReceiverEntry(ToBox(folder.substr(0, cut)).c_str(), &id) && !id.root)
            clusters.insert(id.first_cluster);
        start = cut + 1;
    }
    return clusters;
}

// Which entry the mount reaches under the path it gives `e`; false when that path names
// nothing or another entry (a name holding a separator, a wildcard or a control byte).
bool Reached(const std::string& path, const pcfm_dirent& e, uint32_t folder_cluster,
             ReceiverEntryId* id) {
    if (!IdentifyReceiverEntry(ToBox(path).c_str(), id)) return false;
    return !id->root && id->directory_cluster == folder_cluster &&
           std::strcmp(id->name, e.name) == 0 && std::strcmp(id->extension, e.extension) == 0;
}

}  // namespace

int ReadReceiverFolder(const std::string& folder, std::vector<MountEntry>* entries) {
    entries->clear();
    pcfm_errno = 0;
    ReceiverEntryId self;
    if (!IdentifyReceiverEntry(ToBox(folder).c_str(), &self))
        return pcfm_errno != 0 ? pcfm_errno : ENOTFOUND;
    const uint32_t folder_cluster = self.root ? 0 : self.first_cluster;
    pcfm_file* directory = pcfm_open(ToBox(folder).c_str(), "d");
    if (directory == nullptr) return pcfm_errno != 0 ? pcfm_errno : ENOTFOUND;
    std::vector<pcfm_dirent> listed;
    for (uint16_t index = 0; index < kEntriesPerFolder; ++index) {
        pcfm_dirent e{};
        e.index = index;
        pcfm_errno = 0;
        if (pcfm_readdir(directory, &e) != 0) break;
        listed.push_back(e);
    }
    // Reading stops at the first entry number the folder does not hold; anything else is a
    // failure of the disk or the link, and a listing cut short must not pass for the folder.
    const int stopped = pcfm_errno;
    pcfm_close(directory);
    if (stopped != 0 && stopped != ENOENTRY) return stopped;

    // A damaged disk may hold entries the mount cannot show as themselves: a second entry of
    // one name (its path reaches the first), a name its path does not reach, and folders that
    // lead back up or are named twice in one folder. They are left out, as a copy leaves them.
    const std::set<uint32_t> above = FoldersDownTo(folder);
    std::set<std::pair<std::string, std::string>> names;
    std::set<uint32_t> subfolders;
    for (const pcfm_dirent& e : listed) {
        if (std::strcmp(e.name, ".") == 0 || std::strcmp(e.name, "..") == 0) continue;
        MountEntry entry;
        entry.directory = (e.attributes & kAttrDirectory) != 0;
        // Files are named as the pane lists them: title, dot, extension (which may be empty).
        entry.receiver_name =
            entry.directory ? FromBox(e.name) : FromBox(e.name) + "." + FromBox(e.extension);
        entry.size = entry.directory ? 0 : static_cast<uint64_t>(e.size_high) << 32 | e.size_low;
        entry.time = EntryTimeOf(e);
        const std::string path = JoinReceiverPath(folder, entry.receiver_name);
        const bool plain = e.name[0] != 0 && PlainPart(e.name) && PlainPart(e.extension);
        ReceiverEntryId id;
        std::string left_out;
        if (!names.insert({e.name, e.extension}).second)
            left_out = "a second entry of the same name";
        else if ((!plain || entry.directory) && !Reached(path, e, folder_cluster, &id))
            left_out = "its path does not reach it";
        else if (entry.directory && above.count(id.first_cluster) != 0)
            left_out = "the folder leads back to itself or a folder above it";
        else if (entry.directory && !subfolders.insert(id.first_cluster).second)
            left_out = "the folder is named a second time in its folder";
        if (!left_out.empty()) {
            LogLine("Mount: " + path + " left out: " + left_out, 2);
            continue;
        }
        entries->push_back(entry);
    }
    AssignPcNames(entries);
    return 0;
}

std::string JoinReceiverPath(const std::string& folder, const std::string& name) {
    return CollapseBackslashes(folder + "\\" + name);
}
