// Progress of a transfer, from the copy engine to whoever shows it.
#pragma once

#include <string>

// Modes of a progress call.
inline constexpr int kProgressFileName = 0;  // the file being copied; percent 0
inline constexpr int kProgressFile = 1;      // speed and time lines (or the wait text), file %
inline constexpr int kProgressOverall = 2;   // empty text, percent of the whole transfer

// (text, percent, mode) → true to go on, false when the user asked to stop. The callback may
// pump the user interface's events, and with them device notifications.
using ProgressCallback = bool (*)(std::string text, float percent, int mode);

// Process-wide link flags: set when the copy engine lost the receiver; cleared once the
// receiver has been initialised again.
extern bool UsbFailure;
extern bool DeviceConnected;
