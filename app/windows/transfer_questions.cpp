#include "app/windows/transfer_questions.h"

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "controls/message_box_dialog.h"
#include "transfer/function_mgr.h"
#include "transfer/transfer_space.h"

namespace {
constexpr int kStringAttention = 117;
constexpr int kStringSummaryTitle = 126;
}  // namespace

OverwriteAnswer AskOverwriteInWindow(const std::string& text, void* parent_window) {
    using namespace message_box;
    const int answer =
        ShowMessageBox(static_cast<wxWindow*>(parent_window), text, LoadResString(kStringAttention),
                       kIconQuestion | 4 | kYesToAll | kNoToAll);
    switch (answer) {
        case kIdYes:
            return OverwriteAnswer::kYes;
        case kIdYesToAll:
            return OverwriteAnswer::kYesToAll;
        case kIdNoToAll:
            return OverwriteAnswer::kNoToAll;
        default:
            return OverwriteAnswer::kNo;
    }
}

void ShowTransferSummary(wxWindow* parent, const CFunctionMgr& manager) {
    if (!settings::ShowTransferSummary()) return;
    const std::string text = SummaryText(CountTransfer(manager));
    // The setting decides: an answer the box remembered from an earlier tick must not keep it
    // hidden once the user has asked for the summary again in the settings dialog.
    const uint32_t style = message_box::kDoNotShowAgain | message_box::kIconInformation;
    message_box::RememberAnswer(message_box::ValueName(text, 0), -1);
    CMessageBoxDialog box(parent, text, LoadResString(kStringSummaryTitle), style);
    box.DoModal();
    settings::SetShowTransferSummary(box.StoredResult() != 1);
}

void ShowTransferFailures(wxWindow* parent, const CFunctionMgr& manager) {
    if (manager.failures.empty()) return;
    // A long list is cut: the box stays on the screen, the log holds every line.
    constexpr size_t kShownLines = 15;
    std::string text = "Not everything could be done:\r\n";
    for (size_t i = 0; i < manager.failures.size() && i < kShownLines; ++i)
        text += "\r\n" + manager.failures[i];
    if (manager.failures.size() > kShownLines)
        text += "\r\n... and " + std::to_string(manager.failures.size() - kShownLines) + " more";
    ShowMessageBox(parent, text, LoadResString(kStringAttention), message_box::kIconExclamation);
}

bool ConfirmTransferSpace(wxWindow* parent, CFunctionMgr& source, CDirList* files,
                          const std::string& source_base, const std::string& target_folder) {
    TransferSpace space;
    if (!CheckTransferSpace(source, files, source_base, target_folder, &space)) {
        LogLine("Free space of " + target_folder + " unknown; copying without the check", 1);
        return true;
    }
    if (space.fits) return true;
    const std::string text = "There is not enough free space on the target disk:\r\nNeeded:\t" +
                             FormatSize(space.needed_bytes) + "\r\nFree:\t" +
                             FormatSize(space.free_bytes) + "\r\nCopy anyway?";
    LogLine("Not enough free space: " + FormatSize(space.needed_bytes) + " needed, " +
                FormatSize(space.free_bytes) + " free",
            2);
    constexpr uint32_t kYesNo = 4, kSecondButtonDefault = 0x100;
    return ShowMessageBox(parent, text, LoadResString(kStringAttention),
                          message_box::kIconExclamation | kYesNo | kSecondButtonDefault) ==
           message_box::kIdYes;
}
