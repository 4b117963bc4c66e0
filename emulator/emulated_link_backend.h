// The link backend over the attached emulated receiver (AttachEmulatedReceiver). Every
// transfer is reported pending and completes within the wait, as overlapped pipe I/O does;
// a transfer the receiver hangs stays pending until the wait runs out and cancels it.
#pragma once

#include "pvrdisk/link/link_backend.h"

namespace emulator {

const LinkBackend& EmulatedLinkBackend();

// The device path the emulated receiver is found under.
inline constexpr const char* kEmulatedDevicePath = "\\\\?\\usb#emulated-receiver";

}  // namespace emulator
