#include "cli/terminal_progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace {

volatile std::sig_atomic_t g_stop = 0;
ProgressTexts g_texts;
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

}  // namespace

bool TerminalProgress(const TransferProgress& progress, void*) {
    const ProgressLine line = g_texts.Line(progress);
    switch (progress.phase) {
        case TransferProgress::kFileStarts:
            EndProgressLine();
            std::fprintf(stderr, "%s\n", line.text.c_str());
            break;
        case TransferProgress::kWaiting:
            std::fprintf(stderr, "\r\033[K%s (try %d) [all %5.1f%%]", OneLine(line.text).c_str(),
                         progress.wait_attempt + 1, g_overall);
            g_line_open = true;
            break;
        case TransferProgress::kCopying:
            std::fprintf(stderr, "\r\033[K%5.1f%% %s [all %5.1f%%]", progress.file_percent,
                         OneLine(line.text).c_str(), g_overall);
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

void InstallStopHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
    return g_stop != 0;
}

OverwriteAnswer AskOnTerminal(const std::string& text, void* policy) {
    const auto how = *static_cast<const OverwritePolicy*>(policy);
    if (how == OverwritePolicy::kYesAll) return OverwriteAnswer::kYesToAll;
    if (how == OverwritePolicy::kNoAll) return OverwriteAnswer::kNoToAll;
    EndProgressLine();
    std::cerr << OneLine(text) << "\n";
    if (!isatty(STDIN_FILENO)) {
        std::cerr << "Not asked on a terminal: kept (give --yes-all or --no-all)\n";
        return OverwriteAnswer::kNo;
    }
    for (;;) {
        std::cerr << "[y]es, yes to [a]ll, [n]o, no to all [N]? " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) return OverwriteAnswer::kNo;
        if (answer == "y" || answer == "Y") return OverwriteAnswer::kYes;
        if (answer == "a" || answer == "A") return OverwriteAnswer::kYesToAll;
        if (answer == "n") return OverwriteAnswer::kNo;
        if (answer == "N") return OverwriteAnswer::kNoToAll;
    }
}
