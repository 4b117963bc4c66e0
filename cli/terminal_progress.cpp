#include "cli/terminal_progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
ProgressTexts g_texts;
std::string g_last_line;
bool g_file_started = false;
int g_tenths = 0;
int g_verify_tenths = 0;
float g_overall = 0;
bool g_line_open = false;

void OnInterrupt(int) {
    g_stop = 1;
}

std::string OneLine(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.replace(at, 2, "  ");
    return text;
}

// True once per tenth of a file that `percent` has newly reached; `tenths` counts them.
bool NextTenth(float percent, int& tenths) {
    if (static_cast<int>(percent / 10) <= tenths) return false;
    tenths = static_cast<int>(percent / 10);
    return true;
}

}  // namespace

bool TerminalProgress(const TransferProgress& progress, void*) {
    if (!isatty(STDERR_FILENO)) {
        // Plain lines for logs and scripts: one per file, per tenth of it, and per wait.
        switch (progress.phase) {
            case TransferProgress::kFileStarts:
                std::fprintf(stderr, "%s -> %s\n", Visible(progress.source).c_str(),
                             Visible(progress.target).c_str());
                g_tenths = 0;
                g_verify_tenths = 0;
                break;
            case TransferProgress::kCopying:
                if (NextTenth(progress.file_percent, g_tenths))
                    std::fprintf(stderr, "  %5.1f%%: %llu MB of %llu MB, %5.1f%% of all\n",
                                 progress.file_percent,
                                 static_cast<unsigned long long>(progress.file_position >> 20),
                                 static_cast<unsigned long long>(progress.file_length >> 20),
                                 progress.overall_percent);
                break;
            case TransferProgress::kWaiting:
                if (progress.wait_percent == 5.0f * progress.wait_attempt)
                    std::fprintf(stderr,
                                 "  waiting for the receiver (try %d), the file is at %.1f%%\n",
                                 progress.wait_tries + 1, progress.file_percent);
                break;
            case TransferProgress::kVerifying:
                if (NextTenth(progress.file_percent, g_verify_tenths))
                    std::fprintf(stderr, "  verifying %5.1f%%: %llu MB of %llu MB\n",
                                 progress.file_percent,
                                 static_cast<unsigned long long>(progress.file_position >> 20),
                                 static_cast<unsigned long long>(progress.file_length >> 20));
                break;
            case TransferProgress::kOverall:
                break;
        }
        std::fflush(stderr);
        return g_stop == 0;
    }
    const ProgressLine line = g_texts.Line(progress);
    switch (progress.phase) {
        case TransferProgress::kFileStarts:
            EndProgressLine();
            std::fprintf(stderr, "%s -> %s\n", Visible(progress.source).c_str(),
                         Visible(progress.target).c_str());
            g_file_started = true;
            break;
        case TransferProgress::kWaiting:
            std::fprintf(stderr, "\r\033[K%s try %d, the file at %.1f%% [all %5.1f%%]",
                         OneLine(line.text).c_str(), progress.wait_tries + 1, progress.file_percent,
                         g_overall);
            g_line_open = true;
            break;
        case TransferProgress::kCopying:
            g_overall = progress.overall_percent;
            g_last_line = OneLine(line.text);
            std::fprintf(stderr, "\r\033[K%5.1f%% %s [all %5.1f%%]", progress.file_percent,
                         g_last_line.c_str(), g_overall);
            g_line_open = true;
            break;
        case TransferProgress::kVerifying:
            std::fprintf(stderr, "\r\033[K%5.1f%% %s [all %5.1f%%]", progress.file_percent,
                         line.text.c_str(), g_overall);
            g_line_open = true;
            break;
        case TransferProgress::kOverall:
            g_overall = progress.overall_percent;
            break;
    }
    std::fflush(stderr);
    return g_stop == 0;
}

void EndProgressLine() {
    if (g_line_open) std::fprintf(stderr, "\n");
    g_line_open = false;
}

void FinishProgressLine(bool complete) {
    // A transfer that went through shows its last line at 100 %, also one too short for any
    // progress step.
    if (complete && g_file_started && isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "\r\033[K100.0%% %s [all 100.0%%]", g_last_line.c_str());
        g_line_open = true;
    }
    EndProgressLine();
    g_overall = 0;
    g_file_started = false;
    g_last_line.clear();
}

void InstallStopHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
    return g_stop != 0;
}

OverwriteAnswer TerminalAsker::operator()(const OverwriteCase& question) {
    return Ask(question.text, &question.existing, &question.source);
}

OverwriteAnswer TerminalAsker::AskText(const std::string& text, void* asker) {
    return static_cast<TerminalAsker*>(asker)->Ask(text, nullptr, nullptr);
}

OverwriteAnswer TerminalAsker::Ask(const std::string& text, const CDirEntry* existing,
                                   const CDirEntry* source) {
    if (policy_ == OverwritePolicy::kYesAll) return OverwriteAnswer::kYesToAll;
    if (policy_ == OverwritePolicy::kNoAll) return OverwriteAnswer::kNoToAll;
    const bool shorter = existing != nullptr && source != nullptr && existing->size < source->size;
    if (policy_ == OverwritePolicy::kResume)
        return shorter ? OverwriteAnswer::kYes : OverwriteAnswer::kNo;
    EndProgressLine();
    std::cerr << OneLine(text) << "\n";
    if (!isatty(STDIN_FILENO)) {
        ++kept_unasked_;
        return OverwriteAnswer::kNo;
    }
    std::cerr << (shorter ? "  y: resume it (the target is shorter: it is continued when it "
                            "starts and ends as the source does, else copied over)\n"
                          : "  y: overwrite it\n")
              << "  n: keep it\n"
                 "  a: yes to this and every further file\n"
                 "  k: keep this and every further file\n";
    for (;;) {
        std::cerr << "[y/n/a/k]? " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) return OverwriteAnswer::kNo;
        if (answer == "y" || answer == "Y") return OverwriteAnswer::kYes;
        if (answer == "n" || answer == "N") return OverwriteAnswer::kNo;
        if (answer == "a" || answer == "A") return OverwriteAnswer::kYesToAll;
        if (answer == "k" || answer == "K") return OverwriteAnswer::kNoToAll;
    }
}
