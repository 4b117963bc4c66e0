// Milliseconds since an arbitrary start, 32 bits wide and wrapping like the Windows tick count;
// differences taken in unsigned arithmetic stay right across the wrap.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetTickCount();
void SleepMs(uint32_t milliseconds);

}  // namespace platform
