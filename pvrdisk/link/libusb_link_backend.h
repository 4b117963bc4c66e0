// The link backend over libusb-1.0 (library tessel_libusb_link). The receiver is the USB device
// with the ids handed to SetLibusbDevice; without them there is no receiver, so the program
// never takes over an unrelated USB disk. With the ids given, the receiver's interface is the
// first one with a bulk-in and a bulk-out endpoint, whatever its class: receivers that present
// a vendor-specific interface are served too. That interface is claimed, the kernel's driver
// detached from it while it is claimed; the bulk-out endpoint serves as "PIPE00", the bulk-in
// endpoint as "PIPE01".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pvrdisk/link/link_backend.h"
#include "pvrdisk/link/usb_device_id.h"

const LinkBackend& LibusbLinkBackend();

// The receiver the backend looks for (nothing: none). Set before InitDevice and before
// StartUsbDeviceWatch; not while pipes are open.
void SetLibusbDevice(std::optional<UsbId> id);
std::optional<UsbId> LibusbDevice();

struct UsbMassStorageDevice {
    UsbId id;
    uint8_t bus = 0;
    uint8_t address = 0;
    std::string description;  // manufacturer and product strings, where the device gives them
};

// Every USB device with a bulk-only mass-storage interface; opens none of them unless its
// strings can be read without claiming anything.
std::vector<UsbMassStorageDevice> ListUsbMassStorageDevices();

// Watches for the configured receiver arriving and leaving (libusb hotplug, where the platform
// has it) and reports through NotifyDeviceChange from a thread of its own. False when the
// platform offers no hotplug events.
bool StartUsbDeviceWatch();
void StopUsbDeviceWatch();
