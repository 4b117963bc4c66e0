// The calling thread's last-error value, as the Windows API keeps it. The link and the file
// streams report through it; the copy engine reads it after every chunk.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Windows error codes that the program gives a meaning to.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoIncomplete = 996;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
// Set by a receiver file stream whose read or write failed: the sign of a lost USB link.
inline constexpr uint32_t kErrorReceiverIo = 4350;
// The value a failed wait leaves behind when it could not even be performed.
inline constexpr uint32_t kErrorWaitFailed = 0xFFFFFFFFu;

uint32_t GetLastError();
void SetLastError(uint32_t code);

// The system's message text for an error code, as the log writes it after the number.
std::string SystemMessageText(uint32_t code);

}  // namespace platform
