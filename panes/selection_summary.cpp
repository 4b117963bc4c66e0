#include "panes/selection_summary.h"

#include <cstdio>

#include "app/string_table.h"

namespace {
constexpr uint64_t kKibPerGib = 1048576;
constexpr uint64_t kKibPerMib = 1024;
constexpr int kStrSelectedGByte = 112;
constexpr int kStrSelectedMByte = 113;
constexpr int kStrSelectedKByte = 114;
}  // namespace

std::string SelectionSummary(unsigned count, uint64_t total_kib) {
    if (count == 0) return "";
    char text[256];
    if (total_kib >= kKibPerGib)
        std::snprintf(text, sizeof text, LoadResString(kStrSelectedGByte).c_str(), count,
                      static_cast<double>(total_kib) * 9.5367431640625e-07);
    else if (total_kib >= kKibPerMib)
        std::snprintf(text, sizeof text, LoadResString(kStrSelectedMByte).c_str(), count,
                      static_cast<int>(total_kib / kKibPerMib));
    else
        std::snprintf(text, sizeof text, LoadResString(kStrSelectedKByte).c_str(), count,
                      static_cast<int>(total_kib));
    return std::string(text) + "\n";
}
