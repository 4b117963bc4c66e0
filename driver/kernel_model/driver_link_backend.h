// A link backend (pvrdisk/link/link_backend.h) that reaches the receiver through OvPvrUSB
// running on the kernel model: the receiver is found through the driver's enabled device
// interface, pipes are opened with IRP_MJ_CREATE and the pipe name, transfers are
// IRP_MJ_READ and IRP_MJ_WRITE, control codes IRP_MJ_DEVICE_CONTROL.
#pragma once

#include "driver/kernel_model/driver_host.h"
#include "pvrdisk/link/link_backend.h"

namespace kernel_model {

// The driver host whose started device the backend uses; null detaches it.
void AttachDriverHost(DriverHost* host);
const LinkBackend& DriverModelLinkBackend();

// The Windows error code user mode sees for a request's status.
uint32_t Win32ErrorFromStatus(NTSTATUS status);

}  // namespace kernel_model
