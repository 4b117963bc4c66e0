#include "app/log.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/log_files.h"
#include "platform/pc_files.h"
#include "platform/profile_store.h"
#include "platform/user_folders.h"

namespace tessel_log_detail {
int g_log_level = 0;
}  // namespace tessel_log_detail

namespace {

constexpr size_t kMaxIndent = 55;
constexpr size_t kKeptLogFiles = 20;
constexpr const char* kIndentText = "                                                       ";
static_assert(std::char_traits<char>::length(kIndentText) == kMaxIndent);

// One nesting for the whole process; the mutex serialises the rare lines of helper threads.
struct LogState {
    std::mutex mutex;
    int indent = 0;
    platform::SharedWriteFile file;
};

LogState& State() {
    static LogState* state = new LogState;  // never destroyed: lines may come during exit
    return *state;
}

void WriteIndented(LogState& state, std::string_view text) {
    const size_t blanks =
        state.indent <= 0 ? 0 : std::min(static_cast<size_t>(state.indent) * 2, kMaxIndent);
    std::string line;
    line.reserve(blanks + text.size() + 2);
    line.append(kIndentText, blanks);
    line.append(text);
    line.append("\r\n");
    state.file.Write(line.data(), line.size());  // a failed write loses the line
}

}  // namespace

void LogLine(std::string_view text, int level) {
    if (!LogWants(level)) return;
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    WriteIndented(state, text);
}

void LogEnter(std::string_view name, int level) {
    if (!LogWants(level)) return;
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    std::string line = "\\ ";
    line.append(name);
    WriteIndented(state, line);
    state.indent += 2;
}

void LogLeave(int level) {
    if (!LogWants(level)) return;
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    state.indent -= 2;
    WriteIndented(state, "/ ");
}

int GetLogLevel() {
    return tessel_log_detail::g_log_level;
}

void SetLogLevel(int level) {
    tessel_log_detail::g_log_level = level;
}

std::string GetLogFolder() {
    return platform::Profile().GetString("Settings", "Path Log", platform::DefaultLogFolder());
}

std::string GetLogFilePath() {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    return state.file.Path();
}

void CreateFolderPath(std::string path) {
    if (path.empty()) return;
    if (path.back() != '/') path.push_back('/');
    std::string built = path.front() == '/' ? "/" : "";
    size_t start = 0;
    while (start < path.size()) {
        const size_t slash = path.find('/', start);
        if (slash != start) {
            built.append(path, start, slash - start);
            built.push_back('/');
            platform::CreateFolder(built);  // "already exists" and other failures are ignored
        }
        start = slash + 1;
    }
    platform::CanEnterFolder(built);  // the result is not needed by anyone
}

void StartLog() {
    const int level = platform::Profile().GetInt("Settings", "LogLevel", 1);
    SetLogLevel(level);
    if (level == 0) return;

    const std::string folder = GetLogFolder();
    char stamp[16] = {};
    std::tm local{};
    platform::LocalCalendar(static_cast<int64_t>(std::time(nullptr)), &local);
    std::strftime(stamp, sizeof stamp, "%H-%M-%S", &local);

    CreateFolderPath(folder);
    {
        LogState& state = State();
        std::lock_guard lock(state.mutex);
        state.indent = 0;
        // Two runs in one second get two logs: the second name takes a number.
        std::string path = folder + "/Debug" + stamp + ".log";
        platform::PcFileInfo existing;
        for (int n = 2; platform::InspectPcPath(path, &existing) && n < 100; ++n)
            path = folder + "/Debug" + stamp + "-" + std::to_string(n) + ".log";
        state.file.Open(path);  // a failure is not reported
    }

    // Oldest first; a file goes before the first one created strictly later, so equal times
    // keep the order of listing.
    std::vector<platform::FoundFile> files = platform::ListFiles(folder, "Debug", ".log");
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& a, const auto& b) { return a.created_ns < b.created_ns; });
    if (files.size() > kKeptLogFiles) {
        for (size_t i = 0; i < files.size() - kKeptLogFiles; ++i)
            platform::DeleteFile(files[i].path);
    }
}

std::string FormatHex2(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string FormatHex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

std::string FormatHex8(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string FormatDec(int32_t value) {
    return std::to_string(value);
}

std::string FormatSize(uint64_t bytes) {
    char text[32];
    if (bytes >= (uint64_t{1} << 30))
        std::snprintf(text, sizeof text, "%.3f GB", static_cast<double>(bytes) * 9.313226e-10);
    else if (bytes >= (uint64_t{1} << 20))
        std::snprintf(text, sizeof text, "%d MB", static_cast<int>(bytes >> 20));
    else
        std::snprintf(text, sizeof text, "%d KB", static_cast<int>(bytes >> 10));
    return text;
}
