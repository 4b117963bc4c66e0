// What to do with files that exist at the target already: keep equal ones, ask about the
// others; and the summary after a transfer.
#pragma once

#include <functional>
#include <string>

#include "panes/dir_entry.h"
#include "transfer/function_mgr.h"

enum class OverwriteAnswer { kYes, kYesToAll, kNo, kNoToAll, kNone };

// Asks the user one question, text 116 filled with the existing and the new file.
using OverwriteQuestion = OverwriteAnswer (*)(const std::string& text, void* context);

// "name (YYYY-MM-DD HH:MM) size", as the question and the log show a file.
std::string DescribeFile(const CDirEntry& entry);

// Shortens `files` in place to what is to be copied, filling the manager's lists overwritten,
// equal kept and skipped by user. False when no file is left.
bool CheckOverwriteFiles(CFunctionMgr& manager, CDirList* files, const std::string& source_base,
                         const std::string& target_folder, OverwriteQuestion ask, void* context);

// One question with the two files it is about, for an asker that decides by them.
struct OverwriteCase {
    const std::string& text;
    const CDirEntry& existing;
    const CDirEntry& source;
};
using OverwriteDecider = std::function<OverwriteAnswer(const OverwriteCase&)>;
bool CheckOverwriteFiles(CFunctionMgr& manager, CDirList* files, const std::string& source_base,
                         const std::string& target_folder, const OverwriteDecider& decide);

// The same question for a move within one side: files whose target in target_folder holds
// another entry are asked about; a yes puts the file in the manager's list overwritten (which
// lets MoveEntry replace the target), a no in skipped by user and out of `files`.
void CheckMoveTargets(CFunctionMgr& manager, CDirList* files, const std::string& target_folder,
                      OverwriteQuestion ask, void* context);

struct TransferCounts {
    size_t copied_new = 0, overwritten = 0, resumed = 0, equal_kept = 0, skipped = 0;
    // Only when the copies were read back.
    bool verified = false;
    size_t verified_files = 0, verify_differences = 0;
};
TransferCounts CountTransfer(const CFunctionMgr& manager);
// Text 125 filled with the counts; after a transfer that read its copies back, the line
// "Verified files: N, differences: M" below it.
std::string SummaryText(const TransferCounts& counts);
