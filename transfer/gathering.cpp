#include "transfer/gathering.h"

#include <dirent.h>

#include <vector>

#include "panes/entry_text.h"
#include "pvrdisk/pcfm.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_names.h"
#include "transfer/win_function_mgr.h"

namespace {
// Bounds the recursion of a damaged disk whose folders lead into each other.
constexpr int kMaxDepth = 64;

void GatherReceiver(const std::string& folder, CDirList* gathered, int depth) {
    if (depth > kMaxDepth) return;
    const std::string path = CollapseBackslashes(folder);
    pcfm_file* directory = pcfm_open(ToBox(path).c_str(), "d");
    if (directory == nullptr) return;
    CDirList local;
    for (uint16_t index = 0; index < 512; ++index) {
        pcfm_dirent e{};
        e.index = index;
        if (pcfm_readdir(directory, &e) != 0) break;
        const std::string name = FromBox(e.name);
        if (name == "." || name == "..") continue;
        CDirEntry record;
        const std::string extension = FromBox(e.extension);
        record.name = extension.empty() ? name : name + "." + extension;
        record.fullPath = path + "\\" + record.name;
        record.folderPath = path;
        record.isFile = (e.attributes & kAttrDirectory) ? 0 : 1;
        record.size = record.isFile ? (static_cast<uint64_t>(e.size_high) << 32 | e.size_low) : 0;
        record.time = LocalTimeOf(e.year, e.month == 0 ? 1 : e.month, e.day == 0 ? 1 : e.day,
                                  e.hour, e.minute, e.second);
        local.Add(record);
    }
    pcfm_close(directory);
    gathered->Append(local);
    for (const CDirEntry& record : local)
        if (!record.isFile) GatherReceiver(record.fullPath, gathered, depth + 1);
}

void GatherPc(const std::string& folder, CDirList* gathered, int depth) {
    if (depth > kMaxDepth) return;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    CDirList local;
    for (const std::string& name : names) {
        CDirEntry record;
        if (name == "." || name == ".." || !MakePcRecord(folder, name, &record)) continue;
        local.Add(record);
    }
    gathered->Append(local);
    for (const CDirEntry& record : local)
        if (!record.isFile) GatherPc(record.fullPath, gathered, depth + 1);
}
}  // namespace

void GatherReceiverFolder(const std::string& folder, CDirList* gathered) {
    GatherReceiver(folder, gathered, 0);
}

void GatherPcFolder(const std::string& folder, CDirList* gathered) {
    GatherPc(folder, gathered, 0);
}

CDirList GatherSelection(const CDirList& selected, bool receiver_side) {
    CDirList gathered;
    for (const CDirEntry& record : selected)
        if (record.name != "..") gathered.Add(record);
    const CDirList roots = gathered;
    for (const CDirEntry& record : roots) {
        if (record.isFile) continue;
        if (receiver_side)
            GatherReceiverFolder(record.fullPath, &gathered);
        else
            GatherPcFolder(record.fullPath, &gathered);
    }
    return gathered;
}
