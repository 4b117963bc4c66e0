#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/preferences.h"
#include "app/string_table.h"
#include "panes/entry_sort.h"
#include "panes/entry_text.h"
#include "platform/log_files.h"
#include "platform/text.h"
#include "pvrdisk/pcfm.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/name_helpers.h"
#include "transfer/overwrite_check.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/win_function_mgr.h"

namespace {

CFunctionMgr& Manager(int side) {
    COvSession::Get().SetUp();
    return *COvSession::Get().Manager(side);
}

int Fail(const std::string& text) {
    EndProgressLine();
    std::fprintf(stderr, "tessel: %s\n", text.c_str());
    return 1;
}

// "C:\REC\News.TP0" → "C:\REC" and "News.TP0"; the root's parent is itself.
void SplitReceiverPath(const std::string& raw, std::string* parent, std::string* name) {
    std::string path = NormalizeFolderPath(raw);
    const size_t cut = path.rfind('\\');
    if (cut == std::string::npos) {
        *parent = "C:\\";
        *name = path;
        return;
    }
    *parent = cut <= 2 ? path.substr(0, cut + 1) : path.substr(0, cut);
    *name = path.substr(cut + 1);
}

// The record of a receiver entry, found in its folder's listing.
bool FindReceiverEntry(const std::string& path, CDirEntry* record, std::string* parent) {
    std::string name;
    SplitReceiverPath(path, parent, &name);
    CFunctionMgr& box = Manager(1);
    if (name.empty() || !box.ReadDir(*parent)) return false;
    for (const CDirEntry& entry : box.listing)
        if (entry.name == name || entry.name == name + ".") {
            *record = entry;
            return true;
        }
    const std::string lower = platform::LowerCase(name);
    for (const CDirEntry& entry : box.listing)
        if (platform::LowerCase(entry.name) == lower) {
            *record = entry;
            return true;
        }
    return false;
}

// `text` filled up with blanks to `width` characters (not bytes: names are UTF-8).
std::string Padded(const std::string& text, size_t width) {
    const size_t count = platform::CharacterCount(text);
    return count >= width ? text : text + std::string(width - count, ' ');
}

void PrintSummary(const CFunctionMgr& manager) {
    std::string text = SummaryText(CountTransfer(manager));
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.replace(at, 2, "\n");
    for (size_t at = text.find('\t'); at != std::string::npos; at = text.find('\t', at))
        text.replace(at, 1, " ");
    std::printf("%s:\n%s\n", LoadResString(126).c_str(), text.c_str());
}

// The transfer of one selection with its source base, as the main window runs it.
bool Transfer(CFunctionMgr& manager, CDirList selection, const std::string& base,
              const std::string& target, const CopyOptions& options) {
    OverwritePolicy policy = options.policy;
    CheckOverwriteFiles(manager, &selection, base, target, AskOnTerminal, &policy);
    if (selection.IsEmpty()) return true;
    manager.progress = TerminalProgress;
    const bool ok = manager.CopyFiles(&selection, base, target);
    EndProgressLine();
    return ok;
}

int TransferResult(const CFunctionMgr& manager, bool ok) {
    PrintSummary(manager);
    if (ok) return 0;
    if (manager.stopped)
        return Fail("stopped; the partial file stays and is resumed when the same copy runs again");
    if (manager.failure.empty()) return 1;  // the sources that were missing are named above
    return Fail(manager.failure +
                "; files copied before stay, run the same command again to "
                "resume the rest");
}

}  // namespace

int ListFolder(const std::string& folder, const std::string& filter) {
    CFunctionMgr& box = Manager(1);
    const std::string path = NormalizeFolderPath(folder);
    if (!box.ReadDir(path))
        return Fail("cannot list " + path + " on the receiver: " + ReceiverErrorText(pcfm_errno));
    std::vector<const CDirEntry*> rows;
    const std::string wanted = platform::UpperCase(filter);
    for (const CDirEntry& entry : box.listing) {
        if (!wanted.empty() && entry.isFile &&
            platform::UpperCase(entry.name + entry.epgTitle).find(wanted) == std::string::npos)
            continue;
        rows.push_back(&entry);
    }
    const SortState state = LoadSortState(CPreferences::Get().Section(1));
    std::stable_sort(rows.begin(), rows.end(), [&](const CDirEntry* a, const CDirEntry* b) {
        return CompareEntries(a, b, state, false) < 0;
    });
    std::printf("%s %s %12s %-4s %s\n", Padded(LoadResString(104), 40).c_str(),
                Padded(LoadResString(128), 36).c_str(), LoadResString(105).c_str(), "Attr",
                LoadResString(107).c_str());
    for (const CDirEntry* row : rows)
        std::printf("%s %s %12s %-4s %s\n", Padded(ColumnText(*row, 0), 40).c_str(),
                    Padded(ColumnText(*row, 1), 36).c_str(), ColumnText(*row, 2).c_str(),
                    ColumnText(*row, 3).c_str(), ColumnText(*row, 4).c_str());
    return 0;
}

int GetFiles(const std::vector<std::string>& sources, const std::string& pc_folder,
             const CopyOptions& options) {
    const std::string target = NormalizePcFolderPath(pc_folder);
    if (!platform::CanEnterFolder(target)) return Fail(target + " is no folder on this PC");
    CFunctionMgr& box = Manager(1);
    box.ResetLists();
    bool ok = true;
    for (const std::string& source : sources) {
        CDirEntry record;
        std::string parent;
        if (!FindReceiverEntry(source, &record, &parent)) {
            ok = false;
            Fail(source + " is not on the receiver");
            continue;
        }
        CDirList one;
        one.Add(record);
        ok = Transfer(box, GatherSelection(one, true), parent, target, options) && ok;
        if (!ok && (box.stopped || !box.failure.empty())) break;
    }
    return TransferResult(box, ok);
}

int PutFiles(const std::vector<std::string>& sources, const std::string& receiver_folder,
             const CopyOptions& options) {
    const std::string target = NormalizeFolderPath(receiver_folder);
    CFunctionMgr& win = Manager(0);
    win.ResetLists();
    bool ok = true;
    for (const std::string& source : sources) {
        const std::string path = NormalizePcFolderPath(source);
        const size_t slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        CDirEntry record;
        if (!MakePcRecord(parent, path.substr(slash + 1), &record)) {
            ok = false;
            Fail(source + " cannot be read on this PC");
            continue;
        }
        CDirList one;
        one.Add(record);
        ok = Transfer(win, GatherSelection(one, false), parent, target, options) && ok;
        if (!ok && (win.stopped || !win.failure.empty())) break;
    }
    return TransferResult(win, ok);
}

int MoveEntries(const std::vector<std::string>& sources, const std::string& receiver_folder) {
    CFunctionMgr& box = Manager(1);
    CDirList files;
    for (const std::string& source : sources) {
        CDirEntry record;
        std::string parent;
        if (!FindReceiverEntry(source, &record, &parent))
            return Fail(source + " is not on the receiver");
        if (!record.isFile) return Fail(source + " is a folder; only files are moved");
        files.Add(record);
    }
    box.MoveFiles(&files, NormalizeFolderPath(receiver_folder));
    for (const CDirEntry& file : files) {
        CDirEntry moved;
        std::string parent;
        if (!FindReceiverEntry(receiver_folder + "\\" + file.name, &moved, &parent))
            return Fail("moving " + file.fullPath + " to " + receiver_folder + " failed");
    }
    return 0;
}

int RenameEntry(const std::string& path, const std::string& new_name) {
    CDirEntry record;
    std::string parent;
    if (!FindReceiverEntry(path, &record, &parent)) return Fail(path + " is not on the receiver");
    if (!Manager(1).RenameFile(record, new_name))
        return Fail("cannot rename " + path + " to " + new_name + ": " + LoadResString(131));
    return 0;
}

int EpgRename(const std::vector<std::string>& paths) {
    CFunctionMgr& box = Manager(1);
    CDirList selected;
    for (const std::string& path : paths) {
        CDirEntry record;
        std::string parent;
        if (!FindReceiverEntry(path, &record, &parent))
            return Fail(path + " is not on the receiver");
        selected.Add(record);
    }
    int renamed = 0;
    for (const CDirEntry& record : GatherSelection(selected, true)) {
        std::string title = record.epgTitle;
        if (title.empty() && record.isFile) {
            // Gathered records carry no title; the recording itself has it.
            const std::string ext =
                record.name.size() > 4 ? record.name.substr(record.name.size() - 4) : "";
            if (ext == ".TP0") title = ReadReceiverEpgTitle(record.fullPath);
        }
        const size_t first = title.find_first_not_of(" \t\r\n");
        title = first == std::string::npos
                    ? ""
                    : title.substr(first, title.find_last_not_of(" \t\r\n") - first + 1);
        const bool printable = std::all_of(title.begin(), title.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7E;
        });
        if (title.empty() || !printable || !record.isFile || record.name.size() < 4 ||
            record.name.substr(record.name.size() - 4) != ".TP0")
            continue;
        bool done = box.RenameFile(record, title + ".TP0");
        for (int n = 1; !done && n <= 99; ++n) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, "-%02d", n);
            done = box.RenameFile(record, title + suffix + ".TP0");
        }
        if (done) {
            ++renamed;
            std::printf("%s -> %s\n", record.fullPath.c_str(), title.c_str());
        }
    }
    std::printf("%d recording(s) renamed\n", renamed);
    return 0;
}

int RemoveEntries(const std::vector<std::string>& paths) {
    CDirList selected;
    for (const std::string& path : paths) {
        CDirEntry record;
        std::string parent;
        if (!FindReceiverEntry(path, &record, &parent))
            return Fail(path + " is not on the receiver");
        selected.Add(record);
    }
    CDirList all = GatherSelection(selected, true);
    return Manager(1).DeleteFiles(&all) ? 0 : 1;
}

int MakeFolder(const std::string& path) {
    std::string parent, name;
    SplitReceiverPath(path, &parent, &name);
    const std::string folder = CollapseBackslashes(parent + "\\" + MakeAsciiName(name));
    if (pcfm_mkdir(ToBox(folder).c_str()) != 0)
        return Fail("cannot make " + folder + ": " + ReceiverErrorText(pcfm_errno));
    std::printf("%s\n", folder.c_str());
    return 0;
}

int RemoveFolder(const std::string& path) {
    const std::string folder = NormalizeFolderPath(path);
    if (pcfm_rmdir(ToBox(folder).c_str()) != 0)
        return Fail("cannot remove " + folder + ": " + ReceiverErrorText(pcfm_errno));
    return 0;
}

int ShowFreeSpace() {
    pcfm_file* root = pcfm_open("C:\\", "d");
    if (root == nullptr) return Fail("cannot open C:\\ on the receiver");
    const uint32_t free_kb = pcfm_free_space(root) / 2;
    const uint32_t total_kb = pcfm_total_space(root);
    pcfm_close(root);
    char text[128];
    std::snprintf(text, sizeof text, LoadResString(111).c_str(), "DE_ZIV", free_kb / 1048576.0,
                  total_kb / 1048576.0);
    std::printf("%s\n", text);
    return 0;
}
