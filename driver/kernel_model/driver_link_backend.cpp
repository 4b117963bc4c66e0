#include "driver/kernel_model/driver_link_backend.h"

#include <strings.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/last_error.h"

namespace kernel_model {
namespace {

constexpr uint32_t kResultWaitMs = 10000;

struct OpenPipe {
    std::unique_ptr<FileHandle> handle;
    bool reads = false;
    std::unique_ptr<PendingRequest> last;
};

DriverHost* g_host = nullptr;
std::map<PipeHandle, OpenPipe> g_pipes;
PipeHandle g_next_handle = 1;

// "\??\USB#..." as the kernel names the link; user mode opens "\\?\USB#...".
std::string UserPath(const std::u16string& symbolic_link) {
    std::string path;
    for (char16_t c : symbolic_link) path += static_cast<char>(c);
    if (path.rfind("\\??\\", 0) == 0) path.replace(0, 4, "\\\\?\\");
    return path;
}

bool FindEnabledPath(std::string* path) {
    for (const DeviceInterface& known : DeviceInterfaces()) {
        if (!known.enabled) continue;
        *path = UserPath(known.symbolic_link);
        return true;
    }
    return false;
}

OpenPipe* Find(PipeHandle pipe) {
    auto found = g_pipes.find(pipe);
    if (found == g_pipes.end()) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return nullptr;
    }
    return &found->second;
}

bool Fail(NTSTATUS status) {
    platform::SetLastError(Win32ErrorFromStatus(status));
    return false;
}

bool FindReceiver(char* device_path, size_t size) {
    std::string path;
    if (g_host == nullptr || !FindEnabledPath(&path) || size == 0) {
        platform::SetLastError(platform::kErrorNoMoreItems);
        return false;
    }
    std::strncpy(device_path, path.c_str(), size - 1);
    device_path[size - 1] = '\0';
    return true;
}

PipeHandle OpenPipeByPath(const char* pipe_path) {
    std::string device;
    const size_t length = std::strlen(pipe_path);
    if (g_host == nullptr || !FindEnabledPath(&device) || length < device.size() ||
        strncasecmp(pipe_path, device.c_str(), device.size()) != 0) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return kInvalidPipe;
    }
    // The file name the driver sees is what follows the interface path.
    std::u16string name;
    for (size_t i = device.size(); i < length; i++) name += static_cast<char16_t>(pipe_path[i]);
    OpenPipe pipe;
    const NTSTATUS status = g_host->Create(name, &pipe.handle);
    if (!NT_SUCCESS(status)) {
        platform::SetLastError(status == STATUS_INVALID_PARAMETER ? platform::kErrorFileNotFound
                                                                  : Win32ErrorFromStatus(status));
        return kInvalidPipe;
    }
    const auto* info = static_cast<const USBD_PIPE_INFORMATION*>(pipe.handle->file.FsContext);
    pipe.reads = info != nullptr && (info->EndpointAddress & USB_ENDPOINT_DIRECTION_MASK);
    const PipeHandle handle = g_next_handle++;
    g_pipes[handle] = std::move(pipe);
    return handle;
}

bool CancelIo(PipeHandle pipe) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr) return false;
    if (open->last && !open->last->Completed()) open->last->Cancel();
    return true;
}

bool ClosePipe(PipeHandle pipe) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr) return false;
    CancelIo(pipe);
    open->last.reset();
    g_host->Cleanup(*open->handle);
    g_host->Close(*open->handle);
    g_pipes.erase(pipe);
    return true;
}

bool Result(OpenPipe& open, uint32_t* done) {
    *done = static_cast<uint32_t>(open.last->Information());
    if (!NT_SUCCESS(open.last->Status())) return Fail(open.last->Status());
    platform::SetLastError(platform::kErrorSuccess);
    return true;
}

bool BeginTransfer(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* done) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr) return false;
    *done = 0;
    open->last = g_host->StartTransfer(*open->handle, open->reads, buffer, size);
    if (open->last->Completed()) return Result(*open, done);
    platform::SetLastError(platform::kErrorIoPending);
    return false;
}

bool WaitTransfer(PipeHandle pipe, uint32_t timeout_ms) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr || !open->last) {
        platform::SetLastError(platform::kErrorWaitFailed);
        return false;
    }
    if (open->last->WaitForCompletion(timeout_ms)) return true;
    platform::SetLastError(platform::kErrorSemTimeout);
    return false;
}

bool TransferResult(PipeHandle pipe, uint32_t* done, bool wait) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr) return false;
    if (!open->last) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (!open->last->Completed() && !(wait && open->last->WaitForCompletion(kResultWaitMs))) {
        platform::SetLastError(platform::kErrorIoIncomplete);
        return false;
    }
    return Result(*open, done);
}

bool Control(PipeHandle pipe, uint32_t code) {
    OpenPipe* open = Find(pipe);
    if (open == nullptr) return false;
    ULONG_PTR information = 0;
    const NTSTATUS status = g_host->Control(*open->handle, code, nullptr, 0, &information);
    if (!NT_SUCCESS(status)) return Fail(status);
    return true;
}

const LinkBackend kBackend = {
    .name = "OvPvrUSB on the kernel model",
    // The simulated bus completes a cancelled transfer inside IoCancelIrp.
    .cancels_complete_at_once = true,
    .find_receiver = FindReceiver,
    .open_pipe = OpenPipeByPath,
    .close_pipe = ClosePipe,
    .cancel_io = CancelIo,
    .begin_transfer = BeginTransfer,
    .wait_transfer = WaitTransfer,
    .transfer_result = TransferResult,
    .control = Control,
};

}  // namespace

void AttachDriverHost(DriverHost* host) {
    g_host = host;
    g_pipes.clear();
}

const LinkBackend& DriverModelLinkBackend() {
    return kBackend;
}

uint32_t Win32ErrorFromStatus(NTSTATUS status) {
    switch (status) {
        case STATUS_SUCCESS:
            return platform::kErrorSuccess;
        case STATUS_CANCELLED:
            return platform::kErrorOperationAborted;
        case STATUS_DEVICE_NOT_CONNECTED:
        case STATUS_NO_SUCH_DEVICE:
            return platform::kErrorDeviceNotConnected;
        case STATUS_INVALID_PARAMETER:
            return platform::kErrorInvalidParameter;
        case STATUS_INVALID_HANDLE:
            return platform::kErrorInvalidHandle;
        case STATUS_INSUFFICIENT_RESOURCES:
            return platform::kErrorNotEnoughMemory;
        default:
            return platform::kErrorGenFailure;
    }
}

}  // namespace kernel_model
