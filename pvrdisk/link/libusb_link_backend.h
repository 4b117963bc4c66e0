// The link backend over libusb-1.0: the receiver is the USB device named by the setting
// `UsbDevice` (section "Settings", "vvvv:pppp" in hexadecimal), or by the environment variable
// TESSEL_USB_DEVICE, which overrides it for scripts. With neither there is no receiver: the
// program never takes over an unrelated USB disk. Its bulk-only interface (class 8, subclass 6,
// protocol 0x50) is claimed, the kernel's storage driver detached from it while it is claimed;
// the bulk-out endpoint serves as "PIPE00", the bulk-in endpoint as "PIPE01".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pvrdisk/link/link_backend.h"

const LinkBackend& LibusbLinkBackend();

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
};

// "vvvv:pppp" → ids; nothing for any other text.
std::optional<UsbId> ParseUsbId(const std::string& text);
// The receiver the backend looks for, if one is configured.
std::optional<UsbId> ConfiguredUsbDevice();

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
