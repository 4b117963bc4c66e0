#include "transfer/progress_text.h"

#include <cinttypes>
#include <cstdio>

#include "app/string_table.h"

namespace {

// The Windows runtime's "%I64d" is a 64-bit integer.
std::string WithPortableFormats(std::string format) {
    for (size_t at = format.find("%I64d"); at != std::string::npos; at = format.find("%I64d", at))
        format.replace(at, 5, "%" PRId64);
    return format;
}

}  // namespace

std::string FormatClock(int64_t seconds) {
    if (seconds < 0) return "--:--:--";
    const long hours = static_cast<long>(seconds / 3600 - 24 * (seconds / 86400));
    const long minutes = static_cast<long>(seconds / 60 - 60 * (seconds / 3600));
    const long rest = static_cast<long>(seconds - 60 * (seconds / 60));
    char text[96];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", hours, minutes, rest);
    return text;
}

ProgressLine ProgressTexts::Line(const TransferProgress& progress) {
    switch (progress.phase) {
        case TransferProgress::kFileStarts:
            time_line_.clear();
            return {progress.file, 0.0f, kProgressFileName};
        case TransferProgress::kWaiting:
            return {LoadResString(110), progress.wait_percent, kProgressFile};
        case TransferProgress::kOverall: {
            char line[512];
            std::snprintf(line, sizeof line, LoadResString(109).c_str(),
                          FormatClock(progress.remaining_s).c_str(),
                          FormatClock(progress.elapsed_s).c_str(),
                          FormatClock(progress.total_s).c_str());
            time_line_ = line;
            return {"", progress.overall_percent, kProgressOverall};
        }
        case TransferProgress::kVerifying: {
            char line[128];
            std::snprintf(line, sizeof line, "Verifying: %" PRId64 " MB of %" PRId64 " MB",
                          static_cast<int64_t>(progress.file_position >> 20),
                          static_cast<int64_t>(progress.file_length >> 20));
            return {line, progress.file_percent, kProgressFile};
        }
        case TransferProgress::kCopying:
        default: {
            static const std::string format = WithPortableFormats(LoadResString(108));
            char line[256];
            std::snprintf(line, sizeof line, format.c_str(),
                          static_cast<int64_t>(progress.file_position >> 20),
                          static_cast<int64_t>(progress.file_length >> 20), progress.speed_mib_s);
            return {std::string(line) + "\r\n" + time_line_, progress.file_percent, kProgressFile};
        }
    }
}
