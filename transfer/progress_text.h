// The progress dialog's lines of a progress record, with the program's texts: the file name
// (mode 0), "%I64d MB of %I64d MB, Transfer speed: ..." with the time line, the waiting text
// or "Verifying: N MB of M MB" (mode 1), and the overall percentage (mode 2).
#pragma once

#include <string>

#include "transfer/progress.h"

inline constexpr int kProgressFileName = 0;
inline constexpr int kProgressFile = 1;
inline constexpr int kProgressOverall = 2;

struct ProgressLine {
    std::string text;
    float percent = 0;
    int mode = kProgressFileName;
};

// The time line ("remaining: ..., elapsed: ..., total: ...") is kept between calls, as the
// dialog shows the last one until the next overall step.
class ProgressTexts {
  public:
    ProgressLine Line(const TransferProgress& progress);

  private:
    std::string time_line_;
};

// "%H:%M:%S" of whole seconds (hours wrap at 24); dashes for a negative count (unknown).
std::string FormatClock(int64_t seconds);
