// The link backend over OvPvrUSB, the receiver's kernel driver on Windows: the receiver is
// found through the driver's device interface class with SetupAPI, its pipes are files below
// the interface path, transfers are overlapped, and the resets are the driver's control codes.
// Built on Windows only.
#pragma once

#include "pvrdisk/link/link_backend.h"

const LinkBackend& OvPvrUsbLinkBackend();
