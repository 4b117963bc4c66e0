// The USB link to the receiver: one process-wide pair of pipe handles over the backend of
// link_backend.h. Results as the link has always given them: 1 success, 0 failure, unless a
// function says otherwise.
#pragma once

#include <cstdint>

#include "pvrdisk/link/link_backend.h"

// Finds the receiver and opens both pipes: 1 when both are open, 0 otherwise (a half-opened
// link is left for CloseUSBDrv).
int InitDevice();
// 1 when a receiver is present, 0 otherwise. Opens nothing and leaves the link state alone.
int CheckDeviceAttached();
// 0 when both handles were closed or were invalid already, 1 when a close failed.
int CloseUSBDrv();
// Cancels the failed side's I/O and sends reset pipe and reset device. Always 0.
int ResetDevice(int read_side);
int UsbWrite(const void* buffer, uint32_t count, uint32_t* transferred);
int UsbRead(void* buffer, uint32_t count, uint32_t* transferred);
// CloseUSBDrv, then InitDevice after 300 ms. Always 1: the caller learns from its next
// transfer whether the pipes are open.
int Connect_ReopenPIPE();

// The two transfer events ("EVT_BULK_READ", "EVT_BULK_WRITE"): the main dialog creates them
// before it first connects, Connect_ReopenPIPE when they are missing. Backends here complete
// transfers through their own waits, so the events only record that the link was set up.
bool CreateTransferEvents();
void CloseTransferEvents();
bool TransferEventsExist();

// The bound of a transfer's wait, 10 000 ms; a wait that expires cancels the transfer and
// fails it. Tests shorten it.
inline constexpr uint32_t kTransferTimeoutMs = 10000;
void SetTransferTimeoutMs(uint32_t milliseconds);

// Where the handles stand, for the device-change handling and for tests.
bool ReadPipeOpen();
bool WritePipeOpen();
