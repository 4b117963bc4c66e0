// The diagnostic log: one plain-text file per run, lines indented by call depth, each line
// handed to the operating system as soon as it is written. The log never fails towards its
// callers: a line that cannot be written is lost silently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel_log_detail {
// Read on every call of the trace functions; kept here so that a filtered LogScope costs one
// comparison and nothing else.
extern int g_log_level;
}  // namespace tessel_log_detail

inline bool LogWants(int level) {
    const int current = tessel_log_detail::g_log_level;
    return current != 0 && level <= current;
}

void LogLine(std::string_view text, int level);
void LogEnter(std::string_view name, int level);
void LogLeave(int level);

// Traces a function: the entry line "\ name" on construction and "/ " on destruction, also
// when an exception leaves the function.
class LogScope {
  public:
    LogScope(const char* name, int level) : level_(level) {
        if (LogWants(level_)) LogEnter(name, level_);
    }
    ~LogScope() {
        if (LogWants(level_)) LogLeave(level_);
    }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

  private:
    int level_;
};

// Reads `LogLevel`, creates the log folder, opens the file of this run and prunes old files.
void StartLog();

// The log level in memory; the settings dialog sets it when the user confirms a new level.
int GetLogLevel();
void SetLogLevel(int level);

// The folder of the log files: `Path Log` of "Settings", or its default.
std::string GetLogFolder();
// The path of the file this run writes, empty when none was opened.
std::string GetLogFilePath();

// Creates every missing folder of `path`.
void CreateFolderPath(std::string path);

// Value formatters for log lines and texts on screen.
std::string FormatHex2(uint32_t value);
std::string FormatHex4(uint32_t value);
std::string FormatHex8(uint32_t value);
std::string FormatDec(int32_t value);
std::string FormatSize(uint64_t bytes);
