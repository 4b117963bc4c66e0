// The values of section "Settings", each read at the moment it is needed with its default.
#pragma once

#include <cstdint>

namespace settings {

inline constexpr const char* kSection = "Settings";

int32_t BufferSize();        // bytes of one transfer block, default 65536
int32_t LogLevel();          // 0 to 3, default 1
bool KeepEqualFiles();       // default on
bool AutoResumeFiles();      // default on
bool ShowTransferSummary();  // default on
void SetShowTransferSummary(bool show);
bool VerifyCopies();  // read each copied target back and compare it, default off
void SetVerifyCopies(bool verify);

}  // namespace settings
