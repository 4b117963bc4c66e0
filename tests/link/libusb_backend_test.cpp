// The libusb backend's choice of receiver: only the configured device, never another USB disk.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/profile_store.h"
#include "pvrdisk/link/libusb_link_backend.h"
#include "pvrdisk/link/usb_link.h"

namespace {

TEST(ParseUsbId, TakesExactlyFourHexDigitsAColonAndFourHexDigits) {
    const auto id = ParseUsbId("04b4:1A2f");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->vendor, 0x04b4);
    EXPECT_EQ(id->product, 0x1a2f);
    for (const char* bad : {"", "04b4", "04b4:1a2", "04b4:1a2f0", "04b4-1a2f", "0xb4:1a2f",
                            "04b4:1a2g", " 4b4:1a2f", "04b4:+a2f"})
        EXPECT_FALSE(ParseUsbId(bad)) << bad;
}

TEST(LibusbBackend, WithoutAConfiguredDeviceThereIsNoReceiver) {
    unsetenv("TESSEL_USB_DEVICE");
    platform::SetProfile(platform::MakeMemoryProfileStore());
    SetLinkBackend(LibusbLinkBackend());
    EXPECT_FALSE(ConfiguredUsbDevice());
    EXPECT_EQ(CheckDeviceAttached(), 0);
    EXPECT_EQ(InitDevice(), 0);
    EXPECT_FALSE(ReadPipeOpen());
}

TEST(LibusbBackend, EnvironmentOverridesTheSetting) {
    platform::SetProfile(platform::MakeMemoryProfileStore());
    platform::Profile().WriteString("Settings", "UsbDevice", "1234:5678");
    ASSERT_TRUE(ConfiguredUsbDevice());
    EXPECT_EQ(ConfiguredUsbDevice()->vendor, 0x1234);
    setenv("TESSEL_USB_DEVICE", "abcd:ef01", 1);
    EXPECT_EQ(ConfiguredUsbDevice()->product, 0xef01);
    // A configured device that is not on the bus is no receiver either.
    SetLinkBackend(LibusbLinkBackend());
    EXPECT_EQ(CheckDeviceAttached(), 0);
    unsetenv("TESSEL_USB_DEVICE");
}

TEST(LibusbBackend, PipeNamesOtherThanTheTwoAreRefused) {
    const LinkBackend& backend = LibusbLinkBackend();
    EXPECT_EQ(backend.open_pipe("usb:1234:5678:001:002\\PIPE02"), kInvalidPipe);
    EXPECT_EQ(backend.open_pipe("usb:1234:5678:001:002"), kInvalidPipe);
    EXPECT_EQ(backend.open_pipe("nonsense\\PIPE00"), kInvalidPipe);
}

}  // namespace
