#include "pvrdisk/link/usb_link.h"

#include <cstring>
#include <string>

#include "app/log.h"
#include "platform/last_error.h"
#include "platform/tick_count.h"

namespace {

constexpr size_t kPathBufferSize = 256;

// The one link of the process: two pipe handles, their paths, and the two transfer events.
struct LinkState {
    PipeHandle read_pipe = kInvalidPipe;
    PipeHandle write_pipe = kInvalidPipe;
    char device_path[kPathBufferSize] = {};
    char read_path[kPathBufferSize] = {};
    char write_path[kPathBufferSize] = {};
    bool events_exist = false;
    uint32_t timeout_ms = kTransferTimeoutMs;
};

LinkState g_link;

const LinkBackend& Backend() {
    return CurrentLinkBackend();
}

void SettleDriver(uint32_t milliseconds) {
    if (!Backend().cancels_complete_at_once) platform::SleepMs(milliseconds);
}

void LogCodeWithText(const char* prefix, uint32_t code) {
    LogLine(std::string(prefix) + FormatHex8(code), 1);
    LogLine(platform::SystemMessageText(code), 3);
}

// Appends `tail` to a zero-filled 256-byte path buffer, truncating like a fixed buffer would.
void AppendPath(char* buffer, const char* tail) {
    const size_t used = std::strlen(buffer);
    std::strncat(buffer, tail, kPathBufferSize - 1 - used);
}

// The device path of the first receiver present, or false. The backend's enumeration stands
// for the device-information set of the receiver's interface class.
bool OpenUsbDevice(char* device_path) {
    LogScope scope("OpenUsbDevice", 3);
    return Backend().find_receiver(device_path, kPathBufferSize);
}

int OpenUsbDevice2() {
    LogScope scope("OpenUsbDevice2", 2);
    char path[kPathBufferSize] = {};
    return Backend().find_receiver(path, sizeof path) ? 1 : -1;
}

int GetUsbDeviceFileName2(char* text) {
    LogScope scope("GetUsbDeviceFileName2", 2);
    if (OpenUsbDevice2() == 1) return 1;
    LogLine(text, 1);
    return 0;
}

// Waits for the pending transfer of `pipe`. A wait that runs out cancels the transfer, which
// then counts as failed; the caller resets the link.
bool AwaitTransfer(PipeHandle pipe, const char* who) {
    if (Backend().wait_transfer(pipe, g_link.timeout_ms)) return true;
    if (platform::GetLastError() == platform::kErrorWaitFailed)
        LogLine(std::string(who) + "(): Wait fail!!", 3);
    else
        LogLine(std::string(who) + "(): transfer timed out, cancelled", 1);
    Backend().cancel_io(pipe);
    uint32_t ignored = 0;
    Backend().transfer_result(pipe, &ignored, true);  // collect the cancelled transfer
    return false;
}

}  // namespace

int InitDevice() {
    LogScope scope("InitDevice", 2);
    g_link.read_pipe = kInvalidPipe;
    g_link.write_pipe = kInvalidPipe;
    std::memset(g_link.device_path, 0, kPathBufferSize);
    std::memset(g_link.read_path, 0, kPathBufferSize);
    std::memset(g_link.write_path, 0, kPathBufferSize);

    if (!OpenUsbDevice(g_link.device_path)) {
        LogLine("Failed to GetUsbDeviceFileName", 2);
        return 0;
    }
    AppendPath(g_link.device_path, "\\");
    std::strcpy(g_link.read_path, g_link.device_path);
    AppendPath(g_link.read_path, "PIPE01");
    std::strcpy(g_link.write_path, g_link.device_path);
    AppendPath(g_link.write_path, "PIPE00");
    LogLine("DeviceName: ", 2);
    LogLine(g_link.device_path, 2);

    g_link.read_pipe = Backend().open_pipe(g_link.read_path);
    g_link.write_pipe = Backend().open_pipe(g_link.write_path);
    if (g_link.read_pipe == kInvalidPipe || g_link.write_pipe == kInvalidPipe) {
        LogLine("Invalid USB read or write filehandle", 2);
        return 0;
    }
    return 1;
}

int CheckDeviceAttached() {
    LogScope scope("CheckDeviceAttached", 3);
    char text[512] = {};
    if (GetUsbDeviceFileName2(text) == 0) {
        LogLine("GetUsbDeviceFileName2() failed!", 3);
        return 0;
    }
    return 1;
}

int CloseUSBDrv() {
    LogScope scope("CloseUSBDrv", 2);
    PipeHandle* const handles[] = {&g_link.read_pipe, &g_link.write_pipe};
    for (PipeHandle* handle : handles) {
        if (*handle == kInvalidPipe) continue;
        const bool is_read_pipe = handle == &g_link.read_pipe;
        LogLine("USB device connected", 3);
        SettleDriver(1000);  // lets the driver finish requests it is still working on
        if (!Backend().cancel_io(*handle)) continue;
        if (is_read_pipe) SettleDriver(100);
        if (!Backend().close_pipe(*handle)) {
            if (is_read_pipe) LogLine("failed to close device handle", 3);
            return 1;
        }
        *handle = kInvalidPipe;
    }
    return 0;
}

int ResetDevice(int read_side) {
    LogScope scope("ResetDevice", 2);
    LogLine("Cancel pending I/Os", 3);
    Backend().cancel_io(read_side ? g_link.read_pipe : g_link.write_pipe);

    LogLine("Reset Pipes", 3);
    if (!Backend().control(g_link.write_pipe, kIoctlResetPipe))
        LogLine("Reset pipes Failed!!! " + FormatHex8(platform::GetLastError()), 3);

    LogLine("Reset Devices", 3);
    const bool reset_ok = Backend().control(g_link.write_pipe, kIoctlResetDevice);
    if (!reset_ok) LogLine("failed!", 3);

    if (platform::GetLastError() == platform::kErrorIoPending)
        LogLine("USB reset is pending! " + FormatHex8(platform::GetLastError()), 3);
    if (!reset_ok) LogLine("USB reset failed", 3);
    return 0;
}

int UsbWrite(const void* buffer, uint32_t count, uint32_t* transferred) {
    *transferred = 0;
    // The backend's transfer is direction-neutral; a write never modifies the buffer.
    if (Backend().begin_transfer(g_link.write_pipe, const_cast<void*>(buffer), count, transferred))
        return 1;
    const uint32_t code = platform::GetLastError();
    if (code == platform::kErrorIoPending) {
        if (!AwaitTransfer(g_link.write_pipe, "UsbWrite")) return 0;
        while (!Backend().transfer_result(g_link.write_pipe, transferred, false)) {
            const uint32_t result = platform::GetLastError();
            if (result == platform::kErrorIoIncomplete) continue;
            if (result == 0) return 1;
            LogCodeWithText("UsbWrite(): GetOverlappedResult(): ", result);
            return 0;
        }
        return 1;
    }
    // An immediate failure is a failed transfer: the caller resets the link.
    if (code == platform::kErrorHandleEof)
        LogLine("UsbWrite(): ERROR_HANDLE_EOF", 3);
    else
        LogCodeWithText("UsbWrite(): other error: ", code);
    return 0;
}

int UsbRead(void* buffer, uint32_t count, uint32_t* transferred) {
    *transferred = 0;
    if (Backend().begin_transfer(g_link.read_pipe, buffer, count, transferred)) return 1;
    const uint32_t code = platform::GetLastError();
    if (code == platform::kErrorIoPending) {
        if (!AwaitTransfer(g_link.read_pipe, "UsbRead")) return 0;
        while (!Backend().transfer_result(g_link.read_pipe, transferred, true)) {
            const uint32_t result = platform::GetLastError();
            if (result == platform::kErrorIoIncomplete) {
                LogLine("UsbRead(): ERROR_IO_INCOMPLETE", 3);
                continue;
            }
            if (result == 0) return 1;
            LogCodeWithText("UsbRead(): GetOverlappedResult(): ", result);
            return 0;
        }
        return 1;
    }
    if (code == platform::kErrorHandleEof) {
        LogLine("UsbRead(): handle Error!!", 3);
    } else {
        LogLine("UsbRead(): some other error!!", 3);
        LogCodeWithText("GetOverlappedResult(): ", code);
    }
    return 0;
}

int Connect_ReopenPIPE() {
    LogScope scope("Connect_ReopenPIPE", 2);
    if (CloseUSBDrv() != 0) {
        LogLine("USB Connection Error", 2);
        return 1;
    }
    SettleDriver(300);
    if (InitDevice()) {
        if (!TransferEventsExist()) CreateTransferEvents();
        SettleDriver(100);
    } else {
        LogLine("RW retry USB Bus Open fail.", 2);
    }
    return 1;
}

bool CreateTransferEvents() {
    g_link.events_exist = true;
    return true;
}

void CloseTransferEvents() {
    g_link.events_exist = false;
}

bool TransferEventsExist() {
    return g_link.events_exist;
}

void SetTransferTimeoutMs(uint32_t milliseconds) {
    g_link.timeout_ms = milliseconds;
}

bool ReadPipeOpen() {
    return g_link.read_pipe != kInvalidPipe;
}

bool WritePipeOpen() {
    return g_link.write_pipe != kInvalidPipe;
}
