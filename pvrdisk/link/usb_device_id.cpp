#include "pvrdisk/link/usb_device_id.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/profile_store.h"

std::optional<UsbId> ParseUsbId(const std::string& text) {
    unsigned vendor = 0, product = 0;
    char tail = 0;
    if (text.size() != 9 || text[4] != ':' ||
        std::sscanf(text.c_str(), "%4x:%4x%c", &vendor, &product, &tail) != 2)
        return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    return UsbId{static_cast<uint16_t>(vendor), static_cast<uint16_t>(product)};
}

std::optional<UsbId> ConfiguredUsbDevice() {
    if (const char* forced = std::getenv("TESSEL_USB_DEVICE")) return ParseUsbId(forced);
    return ParseUsbId(platform::Profile().GetString("Settings", "UsbDevice", ""));
}
