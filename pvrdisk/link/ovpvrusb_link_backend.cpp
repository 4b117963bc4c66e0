#include "pvrdisk/link/ovpvrusb_link_backend.h"

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <setupapi.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/log.h"
#include "platform/last_error.h"

namespace {

// The device interface OvPvrUSB registers for every receiver it serves.
DEFINE_GUID(kReceiverInterface, 0x00873FDF, 0x61A8, 0x11D1, 0xAA, 0x5E, 0x00, 0xC0, 0x4F, 0xB1,
            0x72, 0x8B);

constexpr size_t kInitialInterfaces = 8;
constexpr size_t kMaxPipes = 4;
constexpr DWORD kMaxDetailBytes = 64 * 1024;  // far above any device path

// One open pipe: its file, and the overlapped record and event of its one transfer.
struct Pipe {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool bulk_in = false;
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
};

Pipe g_pipes[kMaxPipes];

void KeepLastError() {
    platform::SetLastError(::GetLastError());
}

Pipe* PipeOf(PipeHandle handle) {
    if (handle < 0 || static_cast<size_t>(handle) >= kMaxPipes ||
        g_pipes[handle].file == INVALID_HANDLE_VALUE)
        return nullptr;
    return &g_pipes[handle];
}

// The path of one interface of the set, or false after logging why not.
bool InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, char* path, size_t size) {
    // The size query succeeds only by failing for want of room; a size below the record's
    // header, or beyond any path, would have the header written past the allocation or the
    // path read past it.
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || required > kMaxDetailBytes) {
        LogLine("SetupDiGetInterfaceDeviceDetail() failed!!!", 3);
        return false;
    }
    // One byte more than asked for, zeroed: the path always ends within the allocation.
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required + 1));
    if (detail == nullptr) return false;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    const bool ok = SetupDiGetDeviceInterfaceDetailA(set, data, detail, required, nullptr, nullptr);
    if (ok)
        std::snprintf(path, size, "%s", detail->DevicePath);
    else
        LogLine("SetupDiGetInterfaceDeviceDetail() failed!!!", 3);
    std::free(detail);
    return ok;
}

bool FindReceiver(char* device_path, size_t size) {
    HDEVINFO set = SetupDiGetClassDevsA(&kReceiverInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        KeepLastError();
        return false;
    }
    size_t capacity = kInitialInterfaces;
    auto* interfaces = static_cast<SP_DEVICE_INTERFACE_DATA*>(
        std::calloc(capacity, sizeof(SP_DEVICE_INTERFACE_DATA)));
    bool found = false;
    for (DWORD index = 0; interfaces != nullptr && !found; ++index) {
        if (index >= capacity) {
            capacity *= 2;
            auto* grown = static_cast<SP_DEVICE_INTERFACE_DATA*>(
                std::realloc(interfaces, capacity * sizeof(SP_DEVICE_INTERFACE_DATA)));
            if (grown == nullptr) {
                LogLine("NULL == *UsbDevices, calloc error", 3);
                break;
            }
            interfaces = grown;
        }
        SP_DEVICE_INTERFACE_DATA* data = &interfaces[index];
        std::memset(data, 0, sizeof *data);
        data->cbSize = sizeof *data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kReceiverInterface, index, data)) {
            if (::GetLastError() == ERROR_NO_MORE_ITEMS) break;
            continue;
        }
        if (IsEqualGUID(data->InterfaceClassGuid, kReceiverInterface))
            found = InterfacePath(set, data, device_path, size);
    }
    std::free(interfaces);
    SetupDiDestroyDeviceInfoList(set);
    if (!found) platform::SetLastError(platform::kErrorNoMoreItems);
    return found;
}

PipeHandle OpenPipe(const char* pipe_path) {
    for (size_t i = 0; i < kMaxPipes; ++i) {
        Pipe& pipe = g_pipes[i];
        if (pipe.file != INVALID_HANDLE_VALUE) continue;
        const std::string path = pipe_path;
        pipe.bulk_in = path.size() >= 6 && path.compare(path.size() - 6, 6, "PIPE01") == 0;
        pipe.file =
            CreateFileA(pipe_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe.file == INVALID_HANDLE_VALUE) {
            KeepLastError();
            LogLine(std::string("FAILED to open: ") + pipe_path, 3);
            return kInvalidPipe;
        }
        // Named, manual-reset, initially signalled, as the transfer events always were.
        pipe.event =
            CreateEventA(nullptr, TRUE, TRUE, pipe.bulk_in ? "EVT_BULK_READ" : "EVT_BULK_WRITE");
        return static_cast<PipeHandle>(i);
    }
    platform::SetLastError(platform::kErrorNotEnoughMemory);
    return kInvalidPipe;
}

bool ClosePipe(PipeHandle handle) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    if (!CloseHandle(pipe->file)) {
        KeepLastError();
        return false;
    }
    if (pipe->event != nullptr) CloseHandle(pipe->event);
    *pipe = Pipe{};
    return true;
}

bool CancelPipeIo(PipeHandle handle) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || !CancelIo(pipe->file)) {
        KeepLastError();
        return false;
    }
    return true;
}

bool BeginTransfer(PipeHandle handle, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    std::memset(&pipe->overlapped, 0, sizeof pipe->overlapped);
    pipe->overlapped.hEvent = pipe->event;
    DWORD moved = 0;
    const BOOL ok = pipe->bulk_in ? ReadFile(pipe->file, buffer, size, &moved, &pipe->overlapped)
                                  : WriteFile(pipe->file, buffer, size, &moved, &pipe->overlapped);
    if (ok) {
        *done = moved;
        return true;
    }
    KeepLastError();
    return false;
}

bool WaitTransfer(PipeHandle handle, uint32_t timeout_ms) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorWaitFailed);
        return false;
    }
    const DWORD result = WaitForSingleObject(pipe->event, timeout_ms);
    if (result == WAIT_OBJECT_0) return true;
    platform::SetLastError(result == WAIT_TIMEOUT ? platform::kErrorSemTimeout
                                                  : platform::kErrorWaitFailed);
    return false;
}

bool TransferResult(PipeHandle handle, uint32_t* done, bool wait) {
    *done = 0;
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    DWORD moved = 0;
    const BOOL ok = GetOverlappedResult(pipe->file, &pipe->overlapped, &moved, wait ? TRUE : FALSE);
    *done = moved;
    if (!ok) KeepLastError();
    return ok != FALSE;
}

// The control codes go without buffers; the handle is overlapped, so the call gets a record
// and an event of its own and is waited for.
bool Control(PipeHandle handle, uint32_t code) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(pipe->file, code, nullptr, 0, nullptr, 0, &returned, &overlapped);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(pipe->file, &overlapped, &returned, TRUE);
    if (!ok) KeepLastError();
    CloseHandle(overlapped.hEvent);
    return ok != FALSE;
}

const LinkBackend kOvPvrUsbBackend = {
    .name = "OvPvrUSB",
    .cancels_complete_at_once = false,
    .find_receiver = FindReceiver,
    .open_pipe = OpenPipe,
    .close_pipe = ClosePipe,
    .cancel_io = CancelPipeIo,
    .begin_transfer = BeginTransfer,
    .wait_transfer = WaitTransfer,
    .transfer_result = TransferResult,
    .control = Control,
};

}  // namespace

const LinkBackend& OvPvrUsbLinkBackend() {
    return kOvPvrUsbBackend;
}
