// The receiver's USB ids as start-up reads them, and the backend in force before any is chosen.
#include "pvrdisk/link/usb_device_id.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/last_error.h"
#include "platform/profile_store.h"
#include "pvrdisk/link/no_link_backend.h"
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

TEST(ConfiguredUsbDevice, EnvironmentOverridesTheSettingAndNeitherMeansNone) {
    unsetenv("TESSEL_USB_DEVICE");
    platform::SetProfile(platform::MakeMemoryProfileStore());
    EXPECT_FALSE(ConfiguredUsbDevice());
    platform::Profile().WriteString("Settings", "UsbDevice", "1234:5678");
    ASSERT_TRUE(ConfiguredUsbDevice());
    EXPECT_EQ(ConfiguredUsbDevice()->vendor, 0x1234);
    setenv("TESSEL_USB_DEVICE", "abcd:ef01", 1);
    EXPECT_EQ(ConfiguredUsbDevice()->product, 0xef01);
    unsetenv("TESSEL_USB_DEVICE");
}

// Nothing chosen: no receiver is found and every call on a pipe fails cleanly. CTest runs
// each case in a process of its own, so no other case has chosen a backend yet.
TEST(NoLinkBackend, IsInForceUntilABackendIsChosenAndFailsEveryCall) {
    EXPECT_STREQ(CurrentLinkBackend().name, "none");
    EXPECT_EQ(CheckDeviceAttached(), 0);
    EXPECT_EQ(InitDevice(), 0);
    EXPECT_FALSE(ReadPipeOpen());
    EXPECT_EQ(CloseUSBDrv(), 0);

    const LinkBackend& none = NoLinkBackend();
    char path[16] = "x";
    EXPECT_FALSE(none.find_receiver(path, sizeof path));
    EXPECT_EQ(path[0], '\0');
    EXPECT_EQ(none.open_pipe("usb:1234:5678:001:002\\PIPE00"), kInvalidPipe);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
    uint32_t done = 7;
    uint8_t byte = 0;
    EXPECT_FALSE(none.begin_transfer(0, &byte, 1, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
    EXPECT_FALSE(none.wait_transfer(0, 10));
    EXPECT_FALSE(none.transfer_result(0, &done, true));
    EXPECT_FALSE(none.control(0, kIoctlResetDevice));
    EXPECT_FALSE(none.cancel_io(0));
    EXPECT_FALSE(none.close_pipe(0));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);
}

}  // namespace
