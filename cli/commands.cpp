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
#include "transfer/receiver_connection.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/receiver_operations.h"
#include "transfer/win_function_mgr.h"

namespace {

CFunctionMgr& Manager(int side) {
    COvSession::Get().SetUp();
    return *COvSession::Get().Manager(side);
}

std::string Visible(const std::string& text);

int Fail(const std::string& text) {
    EndProgressLine();
    std::fprintf(stderr, "tessel: %s\n", Visible(text).c_str());
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

// Text from the disk as it may reach a terminal: control bytes written as \xNN, so that no
// name can carry an escape sequence.
std::string Visible(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        shown += escaped;
    }
    return shown;
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

// Says what the gathering could not take; true when there was nothing.
bool ReportProblems(const GatherProblems& problems) {
    for (const GatherProblem& problem : problems)
        Fail("not copied: " + problem.path + ": " + problem.reason);
    return problems.empty();
}

// The transfer of one selection with its source base, as the main window runs it.
bool Transfer(CFunctionMgr& manager, CDirList selection, const std::string& base,
              const std::string& target, const CopyOptions& options) {
    OverwritePolicy policy = options.policy;
    CheckOverwriteFiles(manager, &selection, base, target, AskOnTerminal, &policy);
    if (selection.IsEmpty()) return true;
    manager.progress = TerminalProgress;
    manager.wait_limit_ms = options.wait_seconds * 1000;
    const size_t renamed_before = manager.renamed.size();
    const bool ok = manager.CopyFiles(&selection, base, target);
    EndProgressLine();
    for (size_t i = renamed_before; i < manager.renamed.size(); ++i)
        std::printf("%s\n", manager.renamed[i].c_str());
    for (const std::string& failure : manager.failures) Fail("not copied: " + failure);
    return ok;
}

int TransferResult(const CFunctionMgr& manager, bool ok) {
    PrintSummary(manager);
    if (ok) return 0;
    if (manager.stopped)
        return Fail("stopped; the partial file stays and is resumed when the same copy runs again");
    if (manager.failure.empty()) return 1;  // the sources that were missing are named above
    return Fail(
        "not everything was copied (see above); what was copied stays, and running the "
        "same command again resumes the rest");
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
        std::printf("%s %s %12s %-4s %s\n", Padded(Visible(ColumnText(*row, 0)), 40).c_str(),
                    Padded(Visible(ColumnText(*row, 1)), 36).c_str(), ColumnText(*row, 2).c_str(),
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
        GatherProblems problems;
        const CDirList gathered = GatherSelection(one, true, &problems);
        ok = ReportProblems(problems) && ok;
        ok = Transfer(box, gathered, parent, target, options) && ok;
        if (box.stopped || box.TransferEnded()) break;
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
        std::string skipped;
        if (!MakePcRecord(parent, path.substr(slash + 1), &record, &skipped)) {
            ok = false;
            Fail(source + ": " + skipped);
            continue;
        }
        CDirList one;
        one.Add(record);
        GatherProblems problems;
        const CDirList gathered = GatherSelection(one, false, &problems);
        ok = ReportProblems(problems) && ok;
        ok = Transfer(win, gathered, parent, target, options) && ok;
        if (win.stopped || win.TransferEnded()) break;
    }
    return TransferResult(win, ok);
}

int MoveEntries(const std::vector<std::string>& sources, const std::string& receiver_folder,
                const CopyOptions& options) {
    CFunctionMgr& box = Manager(1);
    box.ResetLists();
    const std::string target = NormalizeFolderPath(receiver_folder);
    CDirList files;
    for (const std::string& source : sources) {
        CDirEntry record;
        std::string parent;
        if (!FindReceiverEntry(source, &record, &parent))
            return Fail(source + " is not on the receiver");
        if (!record.isFile) return Fail(source + " is a folder; only files are moved");
        files.Add(record);
    }
    OverwritePolicy policy = options.policy;
    CheckMoveTargets(box, &files, target, AskOnTerminal, &policy);
    int status = box.skipped_by_user.IsEmpty() ? 0 : 1;
    for (const CDirEntry& kept : box.skipped_by_user)
        Fail("not moved: " + kept.fullPath + ": " + box.MoveTargetPath(kept, target) +
             " exists and is kept");
    for (const CDirEntry& file : files) {
        if (box.MoveEntry(file, target)) continue;
        status = Fail(box.failure);
    }
    return status;
}

int RenameEntry(const std::string& path, const std::string& new_name) {
    CDirEntry record;
    std::string parent;
    if (!FindReceiverEntry(path, &record, &parent)) return Fail(path + " is not on the receiver");
    CFunctionMgr& box = Manager(1);
    if (!box.RenameFile(record, new_name)) return Fail(box.failure);
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
    GatherProblems problems;
    const CDirList gathered = GatherSelection(selected, true, &problems);
    for (const GatherProblem& problem : problems)
        Fail("skipped " + problem.path + ": " + problem.reason);
    for (const EpgRenaming& result : EpgRenameRecordings(box, gathered)) {
        if (result.new_name.empty()) {
            std::printf("%s: kept (%s)\n", result.path.c_str(), result.reason.c_str());
            continue;
        }
        ++renamed;
        std::printf("%s -> %s\n", result.path.c_str(), result.new_name.c_str());
    }
    std::printf("%d recording(s) renamed\n", renamed);
    return problems.empty() ? 0 : 1;
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
    GatherProblems problems;
    CDirList all = GatherSelection(selected, true, &problems);
    // Nothing is deleted from a selection that cannot be taken whole.
    if (!problems.empty()) {
        for (const GatherProblem& problem : problems)
            Fail("cannot delete " + problem.path + ": " + problem.reason);
        return Fail("nothing deleted");
    }
    CFunctionMgr& box = Manager(1);
    return box.DeleteFiles(&all) ? 0 : Fail(box.failure);
}

int MakeFolder(const std::string& path) {
    std::string parent, name, error;
    SplitReceiverPath(path, &parent, &name);
    const std::string folder = MakeReceiverFolder(parent, name, &error);
    if (folder.empty()) return Fail(error);
    std::printf("%s\n", folder.c_str());
    return 0;
}

int RemoveFolder(const std::string& path) {
    std::string error;
    if (!RemoveReceiverFolder(NormalizeFolderPath(path), &error)) return Fail(error);
    return 0;
}

int ShowFreeSpace() {
    ReceiverSpace space;
    if (!QueryReceiverSpace(ActiveReceiver(), &space))
        return Fail("cannot open C:\\ on the receiver");
    char text[128];
    std::snprintf(text, sizeof text, LoadResString(111).c_str(), "DE_ZIV",
                  static_cast<double>(space.free_bytes) / (1ull << 30),
                  static_cast<double>(space.total_bytes) / (1ull << 30));
    std::printf("%s\n", text);
    return 0;
}
