// The transfer's two boxes in the program's message box: the overwrite question and the
// summary afterwards, on the same checks and counts the command line uses.
#pragma once

#include <string>

#include "transfer/overwrite_check.h"

class wxWindow;
class CFunctionMgr;

// The overwrite question: "&Yes", "Yes to &all", "&No", "No to &all", no Escape and no close
// box. `parent_window` is the wxWindow* the box is centred on.
OverwriteAnswer AskOverwriteInWindow(const std::string& text, void* parent_window);

// The summary of the manager's last transfer, unless `ShowTransferSummary` is 0; ticking
// "&Do not show this message again!" turns the setting off.
void ShowTransferSummary(wxWindow* parent, const CFunctionMgr& manager);

// What the manager's last transfer or move could not do, one line a file, in one box; nothing
// when everything was done. The log has the same lines.
void ShowTransferFailures(wxWindow* parent, const CFunctionMgr& manager);

// Before a transfer: when the list would not fit on its target, says both figures and asks
// whether to copy anyway ("&No" is the default). True to go on, also when the target's free
// space cannot be read.
bool ConfirmTransferSpace(wxWindow* parent, CFunctionMgr& source, CDirList* files,
                          const std::string& source_base, const std::string& target_folder);
