// The operations a USB link backend offers the link functions (InitDevice, UsbRead, ...).
// The backends are the emulated receiver (tests, demonstration), libusb-1.0 (Linux, macOS) and
// OvPvrUSB's pipes (Windows). The shape is that of Windows' overlapped file I/O, which the link
// functions were written for: a transfer either completes at once or is left pending, and the
// caller waits for it and then asks for its result. Every member reports failures through the
// thread's last error (platform/last_error.h) with Windows error codes.
//
// Pipes: a receiver's device path followed by "\PIPE00" names its bulk-out endpoint, followed
// by "\PIPE01" its bulk-in endpoint. At most one transfer is pending on a handle at a time; the
// link functions issue one transfer at a time in all.
#pragma once

#include <cstddef>
#include <cstdint>

using PipeHandle = intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

// Driver control codes, sent with neither input nor output buffer.
inline constexpr uint32_t kIoctlResetDevice = 0x220004;
inline constexpr uint32_t kIoctlResetPipe = 0x220008;

struct LinkBackend {
    const char* name;

    // True when cancel_io and close_pipe have finished with a transfer when they return. The
    // link then skips the pauses it otherwise makes for a driver that completes cancelled
    // requests later (a second per handle when closing, 300 ms and 100 ms when reopening).
    bool cancels_complete_at_once;

    // Looks for the first receiver present. When there is one, writes its device path (at most
    // size - 1 bytes and a NUL) and returns true; otherwise returns false with
    // kErrorNoMoreItems. Opens nothing; may enumerate the bus. Required.
    bool (*find_receiver)(char* device_path, size_t size);

    // Opens a pipe by its path (device path + "\PIPE00" or "\PIPE01"). Returns the handle, or
    // kInvalidPipe with kErrorFileNotFound (no such device or pipe) or another code. Required.
    PipeHandle (*open_pipe)(const char* pipe_path);

    // Closes a handle; a pending transfer on it is cancelled first. False when the handle
    // could not be closed (it then stays valid). Required.
    bool (*close_pipe)(PipeHandle pipe);

    // Cancels the pending transfer of the handle, if any; it then fails with
    // kErrorOperationAborted. False when cancelling failed. Required.
    bool (*cancel_io)(PipeHandle pipe);

    // Starts a transfer of `size` bytes: from `buffer` on PIPE00, into `buffer` on PIPE01.
    // Returns true when it completed at once, with the bytes moved in *done. Otherwise false:
    // kErrorIoPending means it runs on (finish it with wait_transfer and transfer_result);
    // kErrorHandleEof or any other code means it failed at once. Required.
    bool (*begin_transfer)(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* done);

    // Waits at most `timeout_ms` for the pending transfer of the handle to complete, with
    // success or failure. True when it has completed, false when the time ran out (with
    // kErrorSemTimeout) or the wait itself failed (with kErrorWaitFailed). Required.
    bool (*wait_transfer)(PipeHandle pipe, uint32_t timeout_ms);

    // The result of the handle's last transfer: true with the bytes moved in *done when it
    // completed successfully. False with kErrorIoIncomplete while it is still pending (when
    // `wait` is false; with `wait` true the call blocks until completion), or with the code
    // it failed with (kErrorDeviceNotConnected for a receiver that was pulled out,
    // kErrorGenFailure for a stalled endpoint or a broken transfer). Required.
    bool (*transfer_result)(PipeHandle pipe, uint32_t* done, bool wait);

    // Sends a control code (kIoctlResetPipe, kIoctlResetDevice) on the handle, synchronously.
    // False with the last error on failure. Required.
    bool (*control)(PipeHandle pipe, uint32_t code);
};

// The backend the link functions use. Chosen once at start-up, before InitDevice; until then
// it is NoLinkBackend(), which finds no receiver.
const LinkBackend& CurrentLinkBackend();
void SetLinkBackend(const LinkBackend& backend);

// Arrival and removal of a receiver, as a backend sees them. The handler may be called from a
// backend's own thread (libusb's hotplug events); it must only record or post the event.
using DeviceChangeHandler = void (*)(bool arrived, void* context);
void SetDeviceChangeHandler(DeviceChangeHandler handler, void* context);
// Called by a backend when a receiver arrives or leaves.
void NotifyDeviceChange(bool arrived);
