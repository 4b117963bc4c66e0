#include "transfer/receiver_operations.h"

#include <algorithm>
#include <cstdio>

#include "pvrdisk/pcfm.h"
#include "transfer/box_function_mgr.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"

namespace {

constexpr int kMaxTitleVariants = 99;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsRecording(const CDirEntry& record) {
    return record.isFile && record.name.size() > 4 &&
           record.name.compare(record.name.size() - 4, 4, ".TP0") == 0;
}

}  // namespace

std::string MakeReceiverFolder(const std::string& parent, const std::string& name,
                               std::string* error) {
    // One folder, in `parent`: a separator in the name would make it inside another one.
    if (name.find_first_of("\\/") != std::string::npos) {
        *error = "the name '" + name + "' holds a \\ or /, which a folder name cannot";
        return "";
    }
    const std::string ascii = MakeAsciiName(name);
    if (ascii.find_first_not_of(". ") == std::string::npos) {
        *error = "the name '" + name + "' leaves nothing the receiver can take";
        return "";
    }
    const std::string folder = CollapseBackslashes(parent + "\\" + ascii);
    if (pcfm_mkdir(ToBox(folder).c_str()) != 0) {
        *error = "cannot make " + folder + ": " + ReceiverErrorText(pcfm_errno);
        return "";
    }
    return folder;
}

bool RemoveReceiverFolder(const std::string& path, std::string* error) {
    if (pcfm_rmdir(ToBox(path).c_str()) == 0) return true;
    *error = "cannot remove " + path + ": " + ReceiverErrorText(pcfm_errno);
    return false;
}

std::vector<EpgRenaming> EpgRenameRecordings(CFunctionMgr& receiver, const CDirList& recordings) {
    std::vector<EpgRenaming> results;
    for (const CDirEntry& record : recordings) {
        if (!record.isFile) continue;
        EpgRenaming result;
        result.path = record.fullPath;
        if (!IsRecording(record)) {
            result.reason = "not a recording (.TP0)";
            results.push_back(result);
            continue;
        }
        // Gathered records carry no title; the recording itself has it.
        const std::string title = Trimmed(
            record.epgTitle.empty() ? ReadReceiverEpgTitle(record.fullPath) : record.epgTitle);
        const bool printable = std::all_of(title.begin(), title.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7E;
        });
        if (title.empty() || !printable) {
            result.reason = title.empty() ? "no programme title stored in it"
                                          : "its programme title holds characters a name cannot";
            results.push_back(result);
            continue;
        }
        // A title may hold what a name cannot.
        std::string clean_title = title;
        for (char& c : clean_title)
            if (c == '/' || c == '\\') c = '-';
        const std::string& base = clean_title;
        std::string name = base + ".TP0";
        bool done = receiver.RenameFile(record, name);
        for (int n = 1; !done && n <= kMaxTitleVariants; ++n) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, "-%02d", n);
            name = base + suffix + ".TP0";
            done = receiver.RenameFile(record, name);
        }
        if (done)
            result.new_name = name;
        else
            result.reason =
                receiver.failure.empty() ? "every name after the title is taken" : receiver.failure;
        results.push_back(result);
    }
    return results;
}
