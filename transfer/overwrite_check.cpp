#include "transfer/overwrite_check.h"

#include <cstdio>
#include <ctime>
#include <set>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "platform/pc_files.h"
#include "platform/text.h"

namespace {

std::string FilledQuestion(const std::string& existing_text, const std::string& new_text) {
    // The buffer holds any two names the file systems allow.
    std::string question(existing_text.size() + new_text.size() + 512, '\0');
    const int n = std::snprintf(question.data(), question.size(), LoadResString(116).c_str(),
                                existing_text.c_str(), new_text.c_str());
    question.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return question;
}

}  // namespace

std::string DescribeFile(const CDirEntry& entry) {
    std::tm local{};
    char stamp[64] = "";
    if (platform::LocalCalendar(entry.time, &local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M", &local);
    return entry.name + " (" + stamp + ") " + FormatSize(entry.size);
}

bool CheckOverwriteFiles(CFunctionMgr& manager, CDirList* files, const std::string& source_base,
                         const std::string& target_folder, OverwriteQuestion ask, void* context) {
    return CheckOverwriteFiles(
        manager, files, source_base, target_folder,
        [&](const OverwriteCase& question) { return ask(question.text, context); });
}

bool CheckOverwriteFiles(CFunctionMgr& manager, CDirList* files, const std::string& source_base,
                         const std::string& target_folder, const OverwriteDecider& decide) {
    LogScope scope("COV_USBDlg::CheckOverwriteFiles", 2);
    CDirList sources, targets;
    if (!manager.CheckDestFiles(files, &sources, &targets, source_base, target_folder)) return true;
    bool yes_to_all = false, no_to_all = false;
    const bool keep_equal = settings::KeepEqualFiles();
    size_t i = 0;
    while (i < targets.GetSize()) {
        const CDirEntry& target = targets[i];
        const CDirEntry& source = sources[i];
        const std::string existing_text = DescribeFile(target);
        const std::string new_text = DescribeFile(source);
        const int64_t apart = target.time - source.time;
        if (keep_equal && target.size == source.size && apart >= -1 && apart <= 1) {
            manager.equal_kept.Add(source);
            LogLine("Exactly the same file already exists: ", 2);
            LogLine("   Exist: " + existing_text, 2);
            LogLine("   New: " + new_text, 2);
            ++i;
            continue;
        }
        OverwriteAnswer answer = OverwriteAnswer::kNo;
        if (no_to_all) {
            answer = OverwriteAnswer::kNo;
        } else if (yes_to_all) {
            answer = OverwriteAnswer::kYes;
        } else {
            const std::string question = FilledQuestion(existing_text, new_text);
            answer = decide({question, target, source});
            if (answer == OverwriteAnswer::kYesToAll) yes_to_all = true;
            if (answer == OverwriteAnswer::kNoToAll) no_to_all = true;
        }
        if (answer == OverwriteAnswer::kYes || answer == OverwriteAnswer::kYesToAll) {
            LogLine("User confirmed overwriting existing file: " + existing_text, 2);
            LogLine("   with new file: " + new_text, 2);
            manager.overwritten.Add(source);
            sources.RemoveAt(i);
            targets.RemoveAt(i);
            continue;
        }
        if (answer == OverwriteAnswer::kNo || answer == OverwriteAnswer::kNoToAll)
            manager.skipped_by_user.Add(source);
        ++i;
    }
    for (const CDirEntry& kept : sources)
        for (size_t k = files->GetSize(); k-- > 0;)
            if ((*files)[k].fullPath == kept.fullPath) files->RemoveAt(k);
    return !files->IsEmpty();
}

void CheckMoveTargets(CFunctionMgr& manager, CDirList* files, const std::string& target_folder,
                      OverwriteQuestion ask, void* context) {
    LogScope scope("COV_USBDlg::CheckMoveTargets", 2);
    bool yes_to_all = false, no_to_all = false;
    // A move puts every file straight into the target folder: two files of the same name
    // (from a folder and its subfolder) would go to one place, and the second would replace
    // the first. Only the first goes; the others stay where they are. Names are compared
    // without case, which keeps a file too many where the side tells case apart.
    std::set<std::string> claimed;
    for (size_t i = 0; i < files->GetSize();) {
        const CDirEntry& source = (*files)[i];
        if (!source.isFile) {
            ++i;
            continue;
        }
        const std::string target = manager.MoveTargetPath(source, target_folder);
        if (!claimed.insert(platform::LowerCase(target)).second) {
            manager.failures.push_back(source.fullPath +
                                       " is not moved: another file of the move goes to " + target);
            LogLine(
                "Not moved, its target is taken by another file of the move: " + source.fullPath,
                2);
            files->RemoveAt(i);
            continue;
        }
        CDirEntry existing;
        if (!manager.OtherEntryAt(target, source, &existing)) {
            ++i;
            continue;
        }
        OverwriteAnswer answer =
            no_to_all ? OverwriteAnswer::kNo
            : yes_to_all
                ? OverwriteAnswer::kYes
                : ask(FilledQuestion(DescribeFile(existing), DescribeFile(source)), context);
        if (answer == OverwriteAnswer::kYesToAll) yes_to_all = true;
        if (answer == OverwriteAnswer::kNoToAll) no_to_all = true;
        if (answer == OverwriteAnswer::kYes || answer == OverwriteAnswer::kYesToAll) {
            LogLine("User confirmed replacing " + existing.fullPath + " by " + source.fullPath, 2);
            manager.overwritten.Add(source);
            ++i;
            continue;
        }
        if (answer == OverwriteAnswer::kNo || answer == OverwriteAnswer::kNoToAll)
            manager.skipped_by_user.Add(source);
        files->RemoveAt(i);
    }
}

TransferCounts CountTransfer(const CFunctionMgr& manager) {
    TransferCounts counts;
    counts.overwritten = manager.overwritten.GetSize();
    counts.resumed = manager.resumed.GetSize();
    counts.equal_kept = manager.equal_kept.GetSize();
    counts.skipped = manager.skipped_by_user.GetSize();
    counts.verified = manager.verify_copies;
    counts.verified_files = manager.verified_files;
    counts.verify_differences = manager.verify_differences;
    const size_t copied = manager.copied.GetSize();
    // Overwritten files that were not copied (a stopped transfer) do not make the count negative.
    counts.copied_new = copied > counts.resumed + counts.overwritten
                            ? copied - counts.resumed - counts.overwritten
                            : 0;
    return counts;
}

std::string SummaryText(const TransferCounts& counts) {
    char text[512];
    std::snprintf(text, sizeof text, LoadResString(125).c_str(),
                  static_cast<int>(counts.copied_new), static_cast<int>(counts.overwritten),
                  static_cast<int>(counts.resumed), static_cast<int>(counts.equal_kept),
                  static_cast<int>(counts.skipped));
    if (!counts.verified) return text;
    return std::string(text) + "\r\nVerified files: " + std::to_string(counts.verified_files) +
           ", differences: " + std::to_string(counts.verify_differences);
}
