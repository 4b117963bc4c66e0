#include "platform/last_error.h"

namespace platform {

namespace {
thread_local uint32_t t_last_error = kErrorSuccess;
}

uint32_t GetLastError() {
    return t_last_error;
}

void SetLastError(uint32_t code) {
    t_last_error = code;
}

std::string SystemMessageText(uint32_t code) {
    switch (code) {
        case kErrorSuccess:
            return "The operation completed successfully.";
        case kErrorFileNotFound:
            return "The system cannot find the file specified.";
        case kErrorInvalidHandle:
            return "The handle is invalid.";
        case kErrorNotEnoughMemory:
            return "Not enough memory resources are available.";
        case kErrorGenFailure:
            return "A device attached to the system is not functioning.";
        case kErrorHandleEof:
            return "Reached the end of the file.";
        case kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case kErrorSemTimeout:
            return "The semaphore timeout period has expired.";
        case kErrorNoMoreItems:
            return "No more data is available.";
        case kErrorOperationAborted:
            return "The I/O operation has been aborted because of either a thread exit or an "
                   "application request.";
        case kErrorIoIncomplete:
            return "Overlapped I/O event is not in a signaled state.";
        case kErrorIoPending:
            return "Overlapped I/O operation is in progress.";
        case kErrorDeviceNotConnected:
            return "The device is not connected.";
        case kErrorReceiverIo:
            return "The receiver's disk could not be read or written.";
        default:
            return "Unknown error " + std::to_string(code) + ".";
    }
}

}  // namespace platform
