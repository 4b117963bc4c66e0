// Progress, questions and stops on a terminal.
#pragma once

#include <string>

#include "transfer/overwrite_check.h"
#include "transfer/progress_text.h"

// Feeds the line on standard error from the copy engine's progress records.
bool TerminalProgress(const TransferProgress& progress, void* context);
// Ends the progress line.
void EndProgressLine();

// Ctrl+C asks the copy to stop after the current chunk; the partial file stays.
void InstallStopHandler();
bool StopRequested();

// How existing files are answered: asked on a terminal, or all yes / all no for scripts.
enum class OverwritePolicy { kAsk, kYesAll, kNoAll };
OverwriteAnswer AskOnTerminal(const std::string& text, void* policy);
