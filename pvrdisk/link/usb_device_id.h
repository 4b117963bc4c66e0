// The USB ids that name the receiver for the libusb backend: "vvvv:pppp" in hexadecimal, as
// the setting `UsbDevice` (section "Settings") holds them and lsusb shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
};

// "vvvv:pppp" → ids; nothing for any other text.
std::optional<UsbId> ParseUsbId(const std::string& text);

// The receiver chosen by the environment variable TESSEL_USB_DEVICE (for scripts), else by the
// setting `UsbDevice`; nothing when neither names one. Read by start-up code, which hands the
// result to the backend (SetLibusbDevice); the backend itself reads neither.
std::optional<UsbId> ConfiguredUsbDevice();
