#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/log.h"
#include "app/preferences.h"
#include "app/string_table.h"
#include "cli/human_size.h"
#include "mount/receiver_mount.h"
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
#include "transfer/transfer_space.h"
#include "transfer/win_function_mgr.h"

namespace {

constexpr const char* kRoot = "C:\\";

CFunctionMgr& Manager(int side) {
    COvSession::Get().SetUp();
    return *COvSession::Get().Manager(side);
}

int Fail(const std::string& text) {
    EndProgressLine();
    std::fprintf(stderr, "tessel: %s\n", Visible(text).c_str());
    LogLine("Error: " + text, 1);
    return 1;
}

// "C:\REC\News.TP0" → "C:\REC" and "News.TP0"; the root's parent is itself.
void SplitReceiverPath(const std::string& raw, std::string* parent, std::string* name) {
    std::string path = NormalizeFolderPath(raw);
    for (char& c : path)
        if (c == '/') c = '\\';
    const size_t cut = path.rfind('\\');
    if (cut == std::string::npos) {
        *parent = kRoot;
        *name = path;
        return;
    }
    *parent = cut <= 2 ? path.substr(0, cut + 1) : path.substr(0, cut);
    *name = path.substr(cut + 1);
}

bool IsRoot(const std::string& path) {
    std::string parent, name;
    SplitReceiverPath(path, &parent, &name);
    return name.empty() || name == ".";
}

// The record of a receiver entry, found in its folder's listing: by the name as stored, or by
// the name the listing shows when that names exactly one entry. False with the reason (and a
// near match, when there is one) in `why`.
bool FindReceiverEntry(const std::string& path, CDirEntry* record, std::string* parent,
                       std::string* why) {
    std::string name;
    SplitReceiverPath(path, parent, &name);
    CFunctionMgr& box = Manager(1);
    if (!box.ReadDir(*parent)) {
        *why = *parent + " is not a folder on the receiver: " + ReceiverErrorText(pcfm_errno);
        return false;
    }
    for (const CDirEntry& entry : box.listing)
        if (entry.name != ".." && (entry.name == name || entry.name == name + ".")) {
            *record = entry;
            return true;
        }
    const CDirEntry* shown = nullptr;
    int shown_count = 0;
    for (const CDirEntry& entry : box.listing)
        if (entry.name != ".." && DisplayName(entry.name) == name) {
            shown = &entry;
            ++shown_count;
        }
    if (shown_count == 1) {
        *record = *shown;
        return true;
    }
    *why = path + " is not on the receiver";
    if (shown_count > 1) *why += " (" + name + " is the shown name of several entries)";
    const std::string lower = platform::LowerCase(name);
    for (const CDirEntry& entry : box.listing)
        if (platform::LowerCase(entry.name) == lower ||
            platform::LowerCase(DisplayName(entry.name)) == lower) {
            *why += "; did you mean " + CollapseBackslashes(*parent + "\\" + entry.name) + "?";
            break;
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

// What a command's transfers came to, over all its sources.
struct Tally {
    int kept_unasked = 0;
    bool anything_done = false;  // a file copied, kept or skipped: the summary says something
    bool not_found = false;
    bool no_room = false;  // a transfer was refused: it would not fit on the target
};

// Says what the gathering could not take; true when there was nothing.
bool ReportProblems(const GatherProblems& problems) {
    for (const GatherProblem& problem : problems)
        Fail("not copied: " + problem.path + ": " + problem.reason);
    return problems.empty();
}

// Whether the planned selection fits in the target's free space; says so when it does not.
// A target whose space cannot be read is left to the copy's own full-disk handling.
bool HasRoom(CFunctionMgr& manager, CDirList* selection, const std::string& base,
             const std::string& target) {
    TransferSpace space;
    if (!CheckTransferSpace(manager, selection, base, target, &space)) {
        LogLine("Free space of " + target + " unknown; copying without the check", 1);
        return true;
    }
    if (space.fits) return true;
    const bool to_pc = dynamic_cast<CBoxFunctionMgr*>(&manager) != nullptr;
    Fail("not enough free space " +
         (to_pc ? "on the PC for " + target : std::string("on the receiver's disk")) + ": " +
         HumanSize(space.needed_bytes) + " needed, " + HumanSize(space.free_bytes) + " free; " +
         (manager.copied.IsEmpty() ? "nothing copied" : "nothing more copied") +
         " (--no-space-check copies anyway)");
    return false;
}

// The transfer of one selection with its source base, as the main window runs it.
bool Transfer(CFunctionMgr& manager, CDirList selection, const std::string& base,
              const std::string& target, const CopyOptions& options, Tally* tally) {
    TerminalAsker asker(options.policy);
    CheckOverwriteFiles(manager, &selection, base, target,
                        [&](const OverwriteCase& question) { return asker(question); });
    tally->kept_unasked += asker.KeptUnasked();
    if (selection.IsEmpty()) return true;
    if (options.check_space && !HasRoom(manager, &selection, base, target)) {
        tally->no_room = true;
        return false;
    }
    manager.progress = TerminalProgress;
    manager.wait_limit_ms = options.wait_seconds * 1000;
    manager.overlap_pc_side = options.overlap;
    manager.keep_unresumable = options.policy == OverwritePolicy::kResume;
    manager.verify_copies = options.verify;
    const size_t renamed_before = manager.renamed.size();
    const bool ok = manager.CopyFiles(&selection, base, target);
    FinishProgressLine(ok);
    for (size_t i = renamed_before; i < manager.renamed.size(); ++i)
        std::printf("%s\n", Visible(manager.renamed[i]).c_str());
    for (const std::string& failure : manager.failures) Fail("not copied: " + failure);
    return ok;
}

// Where to read more, when the log holds more than the messages.
std::string LogHint() {
    const std::string path = GetLogFilePath();
    return GetLogLevel() >= 2 && !path.empty() ? " (the log has the details: " + path + ")" : "";
}

int TransferResult(const CFunctionMgr& manager, bool ok, const Tally& tally) {
    const TransferCounts counts = CountTransfer(manager);
    // A file read back and found different was not copied, but its line is said.
    const bool anything = tally.anything_done || counts.copied_new + counts.overwritten +
                                                         counts.resumed + counts.equal_kept +
                                                         counts.skipped + counts.verified_files >
                                                     0;
    // A command that did nothing at all has no summary of zeros to show.
    if (anything || ok) PrintSummary(manager);
    if (tally.no_room) return 1;
    if (manager.stopped)
        return Fail(
            "stopped; the partial file stays: run the same command again with --resume "
            "(or answer y on a terminal) to resume it");
    if (tally.kept_unasked > 0)
        Fail(std::to_string(tally.kept_unasked) +
             " existing file(s) kept without asking (no terminal): give --yes-all to overwrite "
             "them, --resume to resume the partial ones, or --no-all to keep them");
    if (ok && tally.kept_unasked == 0) return 0;
    if (manager.TransferEnded())
        return Fail(manager.failure +
                    "; what was copied stays: run the same command again with --resume to "
                    "resume it");
    if (!ok && !manager.failure.empty())
        return Fail("not everything was copied (see above)" + LogHint());
    return 1;
}

// One line per file in the listing; `long_listing` adds the stored name where the shown
// name differs.
void PrintListing(const std::vector<const CDirEntry*>& rows, bool long_listing) {
    std::printf("%s %s %10s %-4s %s%s\n", Padded(LoadResString(104), 40).c_str(),
                Padded(LoadResString(128), 36).c_str(), LoadResString(105).c_str(), "Attr",
                LoadResString(107).c_str(), long_listing ? "             Stored name" : "");
    for (const CDirEntry* row : rows) {
        const std::string size = row->isFile ? HumanSize(row->size) : "<DIR>";
        std::string line = Padded(Visible(ColumnText(*row, 0)), 40) + " " +
                           Padded(Visible(ColumnText(*row, 1)), 36) + " ";
        std::printf("%s%10s %-4s %s", line.c_str(), size.c_str(), ColumnText(*row, 3).c_str(),
                    ColumnText(*row, 4).c_str());
        if (long_listing) std::printf("  %s", Visible(row->name).c_str());
        std::printf("\n");
    }
}

}  // namespace

std::string Visible(const std::string& text, bool keep_lines) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 0x20 && byte != 0x7F) || (keep_lines && c == '\n')) {
            shown += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        shown += escaped;
    }
    return shown;
}

std::string ReceiverPathProblem(const std::string& path) {
    if (path.empty()) return "an empty receiver path; receiver paths start with C:\\";
    if (path.find_first_of("*?") != std::string::npos)
        return "wildcards are not supported in receiver paths ('" + path +
               "'): name the files, or give their folder";
    const bool drive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    if (drive && path[0] != 'C' && path[0] != 'c')
        return "the receiver has one drive, C: ('" + path + "')";
    if (!drive) return "receiver paths start with C:\\ ('" + path + "')";
    return "";
}

int ListFolder(const std::string& folder, const std::string& filter, bool long_listing) {
    CFunctionMgr& box = Manager(1);
    std::string path = NormalizeFolderPath(folder);
    for (char& c : path)
        if (c == '/') c = '\\';
    if (!box.ReadDir(path)) {
        std::string parent, why;
        CDirEntry record;
        if (!IsRoot(path) && !FindReceiverEntry(path, &record, &parent, &why)) return Fail(why);
        return Fail("cannot list " + path + " on the receiver: " + ReceiverErrorText(pcfm_errno));
    }
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
    PrintListing(rows, long_listing);
    return 0;
}

int GetFiles(const std::vector<std::string>& sources, const std::string& pc_folder,
             const CopyOptions& options) {
    const std::string target = NormalizePcFolderPath(pc_folder);
    if (!platform::CanEnterFolder(target)) return Fail(target + " is no folder on this PC");
    CFunctionMgr& box = Manager(1);
    box.ResetLists();
    bool ok = true;
    Tally tally;
    for (const std::string& source : sources) {
        GatherProblems problems;
        CDirList gathered;
        std::string parent;
        if (IsRoot(source)) {
            // The whole disk: the root's contents, each below the PC folder.
            parent = kRoot;
            GatherReceiverFolder(kRoot, &gathered, &problems);
        } else {
            CDirEntry record;
            std::string why;
            if (!FindReceiverEntry(source, &record, &parent, &why)) {
                ok = false;
                Fail(why);
                continue;
            }
            CDirList one;
            one.Add(record);
            gathered = GatherSelection(one, true, &problems);
        }
        ok = ReportProblems(problems) && ok;
        ok = Transfer(box, gathered, parent, target, options, &tally) && ok;
        if (box.stopped || box.TransferEnded() || tally.no_room) break;
    }
    return TransferResult(box, ok, tally);
}

int PutFiles(const std::vector<std::string>& sources, const std::string& receiver_folder,
             const CopyOptions& options) {
    std::string target = NormalizeFolderPath(receiver_folder);
    for (char& c : target)
        if (c == '/') c = '\\';
    CFunctionMgr& win = Manager(0);
    win.ResetLists();
    if (!IsRoot(target)) {
        CDirEntry folder;
        std::string parent, why;
        if (!FindReceiverEntry(target, &folder, &parent, &why)) return Fail(why);
        if (folder.isFile) return Fail(target + " is a file on the receiver, not a folder");
        target = CollapseBackslashes(folder.fullPath);
    }
    bool ok = true;
    Tally tally;
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
        ok = Transfer(win, gathered, parent, target, options, &tally) && ok;
        if (win.stopped || win.TransferEnded() || tally.no_room) break;
    }
    return TransferResult(win, ok, tally);
}

int MoveEntries(const std::vector<std::string>& sources, const std::string& receiver_folder,
                const CopyOptions& options) {
    CFunctionMgr& box = Manager(1);
    box.ResetLists();
    std::string target = NormalizeFolderPath(receiver_folder);
    CDirList files;
    // Every source must be there before anything moves.
    for (const std::string& source : sources) {
        CDirEntry record;
        std::string parent, why;
        if (!FindReceiverEntry(source, &record, &parent, &why))
            return Fail(why + "; nothing moved");
        if (!record.isFile) return Fail(source + " is a folder; only files are moved");
        // One file named twice (however spelt) is moved once.
        bool named_before = false;
        for (const CDirEntry& earlier : files) named_before |= earlier.fullPath == record.fullPath;
        if (!named_before) files.Add(record);
    }
    if (!IsRoot(target)) {
        CDirEntry folder;
        std::string parent, why;
        if (!FindReceiverEntry(target, &folder, &parent, &why))
            return Fail("the target folder " + target + " does not exist; nothing moved");
        if (folder.isFile) return Fail(target + " is a file, not a folder; nothing moved");
    }
    TerminalAsker asker(options.policy);
    CheckMoveTargets(box, &files, target, TerminalAsker::AskText, &asker);
    int status = box.skipped_by_user.IsEmpty() ? 0 : 1;
    // Two sources of one name would go to one place: only the first of them moves.
    for (const std::string& failure : box.failures) status = Fail(failure);
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
    std::string parent, why;
    if (!FindReceiverEntry(path, &record, &parent, &why)) return Fail(why);
    CFunctionMgr& box = Manager(1);
    if (!box.RenameFile(record, new_name)) return Fail(box.failure);
    std::string stored = new_name;
    if (!MakeBoxFileName(stored)) std::printf("stored as %s\n", Visible(stored).c_str());
    return 0;
}

int EpgRename(const std::vector<std::string>& paths) {
    CFunctionMgr& box = Manager(1);
    CDirList selected;
    for (const std::string& path : paths) {
        CDirEntry record;
        std::string parent, why;
        if (!FindReceiverEntry(path, &record, &parent, &why))
            return Fail(why + "; nothing renamed");
        selected.Add(record);
    }
    int renamed = 0;
    GatherProblems problems;
    const CDirList gathered = GatherSelection(selected, true, &problems);
    for (const GatherProblem& problem : problems)
        Fail("skipped " + problem.path + ": " + problem.reason);
    for (const EpgRenaming& result : EpgRenameRecordings(box, gathered)) {
        if (result.new_name.empty()) {
            std::printf("%s: kept (%s)\n", Visible(result.path).c_str(), result.reason.c_str());
            continue;
        }
        ++renamed;
        std::printf("%s -> %s\n", Visible(result.path).c_str(), Visible(result.new_name).c_str());
    }
    std::printf("%d recording(s) renamed\n", renamed);
    return problems.empty() ? 0 : 1;
}

int RemoveEntries(const std::vector<std::string>& paths, bool confirmed) {
    CDirList selected;
    // Every path must be there before anything is deleted.
    for (const std::string& path : paths) {
        CDirEntry record;
        std::string parent, why;
        if (!FindReceiverEntry(path, &record, &parent, &why))
            return Fail(why + "; nothing deleted");
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
    size_t files = 0, folders = 0;
    for (const CDirEntry& entry : all) (entry.isFile ? files : folders) += 1;
    if (folders > 0 && !confirmed) {
        const std::string what =
            std::to_string(files) + " file(s) and " + std::to_string(folders) + " folder(s)";
        if (!isatty(STDIN_FILENO))
            return Fail("this deletes " + what + "; give --yes to do so without a terminal");
        std::cerr << "Delete " << what << "? [y/n] " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y"))
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
    std::printf("%s\n", Visible(folder).c_str());
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
    std::printf("%s free of %s (%s used)\n", HumanSize(space.free_bytes).c_str(),
                HumanSize(space.total_bytes).c_str(),
                HumanSize(space.total_bytes - space.free_bytes).c_str());
    return 0;
}

int MountReceiver(const std::string& mountpoint, bool read_write) {
    ReceiverConnection* receiver = ActiveReceiver();
    if (receiver == nullptr) return Fail("no receiver is open");
    MountOptions options;
    options.mountpoint = mountpoint;
    options.read_write = read_write;
    options.handle_signals = true;
    ReceiverMount mount(*receiver, options);
    std::string error;
    if (!mount.Mount(&error)) return Fail(error);
    std::printf(
        "The receiver's disk is mounted on %s%s; 'fusermount3 -u %s' or Ctrl+C "
        "unmounts it\n",
        Visible(mountpoint).c_str(), read_write ? " for reading and writing" : "",
        Visible(mountpoint).c_str());
    std::fflush(stdout);
    mount.Serve();
    return 0;
}
