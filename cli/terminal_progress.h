// Progress, questions and stops on a terminal.
#pragma once

#include <string>

#include "transfer/overwrite_check.h"
#include "transfer/progress_text.h"

// Feeds the line on standard error from the copy engine's progress records.
bool TerminalProgress(const TransferProgress& progress, void* context);
// Ends the progress line.
void EndProgressLine();
// Ends the progress line after a transfer; one that went through shows 100 %.
void FinishProgressLine(bool complete);

// Ctrl+C asks the copy to stop after the current chunk; the partial file stays.
void InstallStopHandler();
bool StopRequested();

// How existing files are answered: asked on a terminal, all yes or all no, or yes for the
// partial targets only (shorter than their source) for resuming them.
enum class OverwritePolicy { kAsk, kYesAll, kNoAll, kResume };

// Answers the overwrite question by the policy, or asks on the terminal. Without a terminal
// nothing is overwritten unasked; those files are counted.
class TerminalAsker {
  public:
    explicit TerminalAsker(OverwritePolicy policy) : policy_(policy) {}
    OverwriteAnswer operator()(const OverwriteCase& question);
    // For questions that come as text only (moves).
    static OverwriteAnswer AskText(const std::string& text, void* asker);
    int KeptUnasked() const { return kept_unasked_; }

  private:
    OverwriteAnswer Ask(const std::string& text, const CDirEntry* existing,
                        const CDirEntry* source);
    OverwritePolicy policy_;
    int kept_unasked_ = 0;
};
