#include "transfer/gathering.h"

#include <cstring>
#include <set>
#include <utility>

#include "platform/pc_files.h"
#include "pvrdisk/fs/entry_identity.h"
#include "pvrdisk/pcfm.h"
#include "transfer/dos_time.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/win_function_mgr.h"

namespace {

// PC folders deeper than this are not taken (and said so).
constexpr int kMaxPcDepth = 256;

class ReceiverGathering {
  public:
    ReceiverGathering(CDirList* gathered, GatherProblems* problems)
        : gathered_(gathered), problems_(problems) {}

    void Folder(const std::string& folder) {
        const std::string path = CollapseBackslashes(folder);
        ReceiverEntryId id;
        if (!IdentifyReceiverEntry(ToBox(path).c_str(), &id)) {
            Problem(path, ReceiverErrorText(pcfm_errno));
            return;
        }
        // Each folder by its cluster once: a disk whose folders lead into each other or back
        // to the root is walked in time of its size.
        const uint32_t cluster = id.root ? 0 : id.first_cluster;
        if (!visited_.insert(cluster).second) {
            Problem(path,
                    "the folder is reached a second time (the disk links folders into each "
                    "other); its contents are taken once");
            return;
        }
        pcfm_file* directory = pcfm_open(ToBox(path).c_str(), "d");
        if (directory == nullptr) {
            Problem(path, ReceiverErrorText(pcfm_errno));
            return;
        }
        std::vector<pcfm_dirent> entries;
        for (uint16_t index = 0; index < 512; ++index) {
            pcfm_dirent e{};
            e.index = index;
            if (pcfm_readdir(directory, &e) != 0) break;
            entries.push_back(e);
        }
        pcfm_close(directory);
        CDirList local;
        std::set<std::pair<std::string, std::string>> names;
        for (const pcfm_dirent& e : entries) {
            const std::string name = FromBox(e.name);
            if (name == "." || name == "..") continue;
            CDirEntry record;
            const std::string extension = FromBox(e.extension);
            record.name = extension.empty() ? name : name + "." + extension;
            record.fullPath = path + "\\" + record.name;
            record.folderPath = path;
            record.isFile = (e.attributes & kAttrDirectory) ? 0 : 1;
            record.size =
                record.isFile ? (static_cast<uint64_t>(e.size_high) << 32 | e.size_low) : 0;
            record.time = EntryTimeOf(e);
            if (!names.insert({e.name, e.extension}).second) {
                Problem(record.fullPath,
                        "a second entry of the same name in its folder; only "
                        "the first can be reached");
                continue;
            }
            if (!Addressable(record.fullPath, e, id.root ? 0 : id.first_cluster)) {
                Problem(record.fullPath,
                        "the name cannot be given in a receiver path (it holds \\, /, a wildcard "
                        "or a control character, or is malformed); not taken");
                continue;
            }
            local.Add(record);
        }
        gathered_->Append(local);
        for (const CDirEntry& record : local)
            if (!record.isFile) Folder(record.fullPath);
    }

    // The folders above `folder` count as visited: a link back up to one of them is a loop.
    void SeedAncestors(const std::string& folder) {
        const std::string path = CollapseBackslashes(folder);
        for (size_t cut = path.find('\\'); cut != std::string::npos && cut + 1 < path.size();
             cut = path.find('\\', cut + 1)) {
            ReceiverEntryId id;
            if (IdentifyReceiverEntry(ToBox(path.substr(0, cut + 1)).c_str(), &id))
                visited_.insert(id.root ? 0 : id.first_cluster);
        }
    }

  private:
    // A name of printable ASCII without dots, separators or wildcards parses back to itself;
    // only the others are resolved, which reads their folders again.
    static bool PlainPart(const char* part) {
        for (const char* c = part; *c != 0; ++c)
            if (*c < 0x20 || *c > 0x7E || std::strchr("./\\*?", *c) != nullptr) return false;
        return true;
    }

    // Whether the path of a listed entry leads back to exactly that entry.
    static bool Addressable(const std::string& path, const pcfm_dirent& e, uint32_t folder) {
        if (e.name[0] != 0 && PlainPart(e.name) && PlainPart(e.extension)) return true;
        ReceiverEntryId id;
        if (!IdentifyReceiverEntry(ToBox(CollapseBackslashes(path)).c_str(), &id)) return false;
        return !id.root && id.directory_cluster == folder && std::strcmp(id.name, e.name) == 0 &&
               std::strcmp(id.extension, e.extension) == 0;
    }

    void Problem(const std::string& path, const std::string& reason) {
        if (problems_ != nullptr) problems_->push_back({path, reason});
    }

    CDirList* gathered_;
    GatherProblems* problems_;
    std::set<uint32_t> visited_;
};

class PcGathering {
  public:
    PcGathering(CDirList* gathered, GatherProblems* problems)
        : gathered_(gathered), problems_(problems) {}

    void Folder(const std::string& folder, int depth) {
        platform::PcFileInfo info;
        std::string error;
        if (!platform::InspectPcTarget(folder, &info, &error)) {
            Problem(folder, error);
            return;
        }
        if (!visited_.insert({info.device, info.inode}).second) {
            Problem(folder, "the folder is reached a second time; its contents are taken once");
            return;
        }
        if (depth > kMaxPcDepth) {
            Problem(folder,
                    "folders nested deeper than " + std::to_string(kMaxPcDepth) + " are not taken");
            return;
        }
        std::vector<std::string> names;
        if (!platform::ListPcFolder(folder, &names, &error)) {
            Problem(folder, "cannot read the folder: " + error);
            return;
        }
        CDirList local;
        for (const std::string& name : names) {
            CDirEntry record;
            std::string skipped;
            if (!MakePcRecord(folder, name, &record, &skipped)) {
                Problem(CollapseSlashes(folder + "/" + name), skipped);
                continue;
            }
            local.Add(record);
        }
        gathered_->Append(local);
        for (const CDirEntry& record : local)
            if (!record.isFile) Folder(record.fullPath, depth + 1);
    }

  private:
    void Problem(const std::string& path, const std::string& reason) {
        if (problems_ != nullptr) problems_->push_back({path, reason});
    }

    CDirList* gathered_;
    GatherProblems* problems_;
    std::set<std::pair<uint64_t, uint64_t>> visited_;
};

}  // namespace

void GatherReceiverFolder(const std::string& folder, CDirList* gathered, GatherProblems* problems) {
    ReceiverGathering gathering(gathered, problems);
    gathering.SeedAncestors(folder);
    gathering.Folder(folder);
}

void GatherPcFolder(const std::string& folder, CDirList* gathered, GatherProblems* problems) {
    PcGathering(gathered, problems).Folder(folder, 0);
}

CDirList GatherSelection(const CDirList& selected, bool receiver_side, GatherProblems* problems) {
    CDirList gathered;
    for (const CDirEntry& record : selected)
        if (record.name != "..") gathered.Add(record);
    const CDirList roots = gathered;
    // One walk for the whole selection, so that a folder selected and reached again inside
    // another is taken once.
    ReceiverGathering receiver(&gathered, problems);
    PcGathering pc(&gathered, problems);
    for (const CDirEntry& record : roots) {
        if (record.isFile) continue;
        if (receiver_side) {
            receiver.SeedAncestors(record.fullPath);
            receiver.Folder(record.fullPath);
        } else
            pc.Folder(record.fullPath, 0);
    }
    return gathered;
}
