// The tessel program on emulated usbdevfs, as a user with a receiver plugged in runs it: the
// device list, and a listing of the receiver's disk by its ids.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "tests/support/temp_folder.h"
#include "tests/usbdevfs/usbdevfs_testbed.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Result {
    int status = -1;
    std::string out;  // standard output and error together
};

class TesselCliUsbdevfsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string image = folder_.File("receiver.img");
        std::string error;
        ASSERT_TRUE(image::MakeReceiverImage(image, 64ull << 20, 32768, &error)) << error;
        ASSERT_EQ(image::MountReceiverImage(image), 0);
        ASSERT_TRUE(image::FillSampleContent(image::SampleOptions{}, &error)) << error;
        image::UnmountReceiverImage();
        ASSERT_TRUE(receiver_.Open(image));
        usbdevfs::DeviceSpec other;
        other.id = UsbId{0x0781, 0x5567};
        other.manufacturer = "SanDisk";
        other.product = "Cruzer";
        other_ = testbed_.AddDevice(other, nullptr);
        usbdevfs::DeviceSpec spec;
        spec.id = UsbId{0x1d6b, 0x7e57};
        device_ = testbed_.AddDevice(spec, &receiver_);
    }

    // Runs the program in the testbed (the child inherits umockdev's environment) with a
    // settings file of its own.
    Result Run(const std::string& arguments) {
        const std::string command = "HOME='" + folder_.Path() + "' XDG_CONFIG_HOME='" +
                                    folder_.Path() + "' '" TESSEL_PROGRAM "' " + arguments +
                                    " 2>&1";
        Result result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return result;
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    TempFolder folder_;
    emulator::EmulatedReceiver receiver_;
    usbdevfs::Testbed testbed_;
    int other_ = -1;
    int device_ = -1;
};

TEST_F(TesselCliUsbdevfsTest, DevicesListsBothDisksAndLsReadsOnlyTheChosenOne) {
    const Result devices = Run("devices");
    ASSERT_EQ(devices.status, 0) << devices.out;
    EXPECT_THAT(devices.out, HasSubstr("1d6b:7e57  bus 001"));
    EXPECT_THAT(devices.out, HasSubstr("Orvane PVR receiver"));
    EXPECT_THAT(devices.out, HasSubstr("0781:5567  bus 001"));
    EXPECT_THAT(devices.out, HasSubstr("SanDisk Cruzer"));

    const Result listing = Run("--device 1d6b:7e57 ls 'C:\\Recordings'");
    ASSERT_EQ(listing.status, 0) << listing.out;
    EXPECT_THAT(listing.out, HasSubstr("Tagesschau"));
    EXPECT_GT(receiver_.GetCounters().commands, 0u);
    const usbdevfs::DeviceRecord record = testbed_.Record(device_);
    EXPECT_EQ(record.claims, 1u);
    EXPECT_EQ(record.releases, 1u);
    EXPECT_TRUE(record.driver_bound);  // given back when the program ended

    // Ids of no device present: nothing is opened, and the program says so.
    const uint64_t commands = receiver_.GetCounters().commands;
    const Result absent = Run("--device 1d6b:0001 ls 'C:\\'");
    EXPECT_NE(absent.status, 0);
    EXPECT_THAT(absent.out, Not(HasSubstr("Tagesschau")));
    EXPECT_EQ(receiver_.GetCounters().commands, commands);
    EXPECT_FALSE(testbed_.Record(other_).claimed);
}

}  // namespace
