#include "emulator/emulated_link_backend.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "emulator/emulated_receiver.h"
#include "platform/last_error.h"
#include "platform/tick_count.h"

namespace emulator {

namespace {

constexpr size_t kMaxPipes = 8;

std::atomic<EmulatedReceiver*> g_attached{nullptr};

struct Pipe {
    bool in_use = false;
    Endpoint endpoint = Endpoint::kBulkOut;
    uint64_t generation = 0;
    // The last transfer, kept until its result is asked for.
    bool pending = false;
    bool hung = false;
    uint32_t result = platform::kErrorSuccess;
    uint32_t done = 0;
};

std::mutex g_mutex;
Pipe g_pipes[kMaxPipes];

Pipe* PipeOf(PipeHandle handle) {
    if (handle < 0 || static_cast<size_t>(handle) >= kMaxPipes || !g_pipes[handle].in_use)
        return nullptr;
    return &g_pipes[handle];
}

uint32_t ErrorOf(TransferStatus status) {
    switch (status) {
        case TransferStatus::kOk:
            return platform::kErrorSuccess;
        case TransferStatus::kNoDevice:
            return platform::kErrorDeviceNotConnected;
        default:
            return platform::kErrorGenFailure;
    }
}

bool FindReceiver(char* device_path, size_t size) {
    EmulatedReceiver* receiver = g_attached.load();
    if (receiver == nullptr || !receiver->IsPlugged()) {
        platform::SetLastError(platform::kErrorNoMoreItems);
        return false;
    }
    std::snprintf(device_path, size, "%s", kEmulatedDevicePath);
    return true;
}

PipeHandle OpenPipe(const char* pipe_path) {
    EmulatedReceiver* receiver = g_attached.load();
    const std::string path = pipe_path;
    const std::string prefix = std::string(kEmulatedDevicePath) + "\\";
    const bool known = path == prefix + "PIPE00" || path == prefix + "PIPE01";
    if (receiver == nullptr || !receiver->IsPlugged() || !known) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return kInvalidPipe;
    }
    std::lock_guard lock(g_mutex);
    for (size_t i = 0; i < kMaxPipes; ++i) {
        if (g_pipes[i].in_use) continue;
        g_pipes[i] = Pipe{};
        g_pipes[i].in_use = true;
        g_pipes[i].endpoint = path.back() == '1' ? Endpoint::kBulkIn : Endpoint::kBulkOut;
        g_pipes[i].generation = receiver->Generation();
        return static_cast<PipeHandle>(i);
    }
    platform::SetLastError(platform::kErrorNotEnoughMemory);
    return kInvalidPipe;
}

bool ClosePipe(PipeHandle handle) {
    std::lock_guard lock(g_mutex);
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    *pipe = Pipe{};
    return true;
}

bool CancelIo(PipeHandle handle) {
    std::lock_guard lock(g_mutex);
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    if (pipe->pending && pipe->hung) {
        pipe->hung = false;
        pipe->result = platform::kErrorOperationAborted;
        pipe->done = 0;
    }
    return true;
}

bool BeginTransfer(PipeHandle handle, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    EmulatedReceiver* receiver = g_attached.load();
    Pipe* pipe = nullptr;
    {
        std::lock_guard lock(g_mutex);
        pipe = PipeOf(handle);
    }
    if (pipe == nullptr || receiver == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    uint32_t moved = 0;
    const TransferStatus status =
        pipe->endpoint == Endpoint::kBulkOut
            ? receiver->BulkOut(pipe->generation, static_cast<const uint8_t*>(buffer), size, &moved)
            : receiver->BulkIn(pipe->generation, static_cast<uint8_t*>(buffer), size, &moved);
    std::lock_guard lock(g_mutex);
    pipe->pending = true;
    pipe->hung = status == TransferStatus::kHang;
    pipe->result = ErrorOf(status);
    pipe->done = moved;
    platform::SetLastError(platform::kErrorIoPending);
    return false;
}

bool WaitTransfer(PipeHandle handle, uint32_t timeout_ms) {
    {
        std::lock_guard lock(g_mutex);
        Pipe* pipe = PipeOf(handle);
        if (pipe == nullptr || !pipe->pending) {
            platform::SetLastError(platform::kErrorWaitFailed);
            return false;
        }
        if (!pipe->hung) return true;
    }
    platform::SleepMs(timeout_ms);  // a hung transfer only ends when it is cancelled
    platform::SetLastError(platform::kErrorSemTimeout);
    return false;
}

bool TransferResult(PipeHandle handle, uint32_t* done, bool /*wait*/) {
    *done = 0;
    std::lock_guard lock(g_mutex);
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || !pipe->pending) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    if (pipe->hung) {
        // Waiting for ever on a hung transfer would hang the program; the link's own wait has
        // already bounded it, so report it as still incomplete.
        platform::SetLastError(platform::kErrorIoIncomplete);
        return false;
    }
    pipe->pending = false;
    *done = pipe->done;
    platform::SetLastError(pipe->result);
    return pipe->result == platform::kErrorSuccess;
}

bool Control(PipeHandle handle, uint32_t code) {
    EmulatedReceiver* receiver = g_attached.load();
    Pipe* pipe = nullptr;
    {
        std::lock_guard lock(g_mutex);
        pipe = PipeOf(handle);
    }
    if (pipe == nullptr || receiver == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    bool ok = false;
    if (code == kIoctlResetPipe) {
        ok = receiver->ClearHalt(pipe->generation, pipe->endpoint);
    } else if (code == kIoctlResetDevice) {
        // Reset recovery: mass-storage reset, then clear-halt of both endpoints.
        ok = receiver->MassStorageReset(pipe->generation) &&
             receiver->ClearHalt(pipe->generation, Endpoint::kBulkIn) &&
             receiver->ClearHalt(pipe->generation, Endpoint::kBulkOut);
    } else {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (!ok) platform::SetLastError(platform::kErrorDeviceNotConnected);
    return ok;
}

const LinkBackend kEmulatedBackend = {
    .name = "emulated",
    .cancels_complete_at_once = true,
    .find_receiver = FindReceiver,
    .open_pipe = OpenPipe,
    .close_pipe = ClosePipe,
    .cancel_io = CancelIo,
    .begin_transfer = BeginTransfer,
    .wait_transfer = WaitTransfer,
    .transfer_result = TransferResult,
    .control = Control,
};

}  // namespace

const LinkBackend& EmulatedLinkBackend() {
    return kEmulatedBackend;
}

void AttachEmulatedReceiver(EmulatedReceiver* receiver) {
    g_attached.store(receiver);
}

EmulatedReceiver* AttachedEmulatedReceiver() {
    return g_attached.load();
}

}  // namespace emulator
