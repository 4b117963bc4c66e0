// The tessel program on emulated usbdevfs, as a user with a receiver plugged in runs it: the
// device list, a listing of the receiver's disk by its ids, and the disk mounted as a folder
// while the receiver is pulled out and plugged in again.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "platform/tick_count.h"
#include "pvrdisk/pcfm.h"
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

    bool Mounted(const std::string& mountpoint) const {
        std::ifstream mounts("/proc/mounts");
        std::string line;
        while (std::getline(mounts, line))
            if (line.find(" " + mountpoint + " ") != std::string::npos) return true;
        return false;
    }

    // The bytes of a whole file read through the mount, or errno's value when a read fails.
    static std::string ReadThrough(const std::string& path, int* error) {
        *error = 0;
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            *error = errno;
            return {};
        }
        std::string bytes;
        char piece[65536];
        ssize_t n = 0;
        while ((n = read(fd, piece, sizeof piece)) > 0) bytes.append(piece, static_cast<size_t>(n));
        if (n < 0) *error = errno;
        close(fd);
        return bytes;
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

TEST_F(TesselCliUsbdevfsTest, AMountOverTheUsbLinkFailsWithEioWhileThePlugIsOutAndComesBack) {
    const std::string mountpoint = folder_.File("mnt");
    std::filesystem::create_directories(mountpoint);
    const std::string command = "HOME='" + folder_.Path() + "' XDG_CONFIG_HOME='" + folder_.Path() +
                                "' exec '" TESSEL_PROGRAM "' --device 1d6b:7e57 mount '" +
                                mountpoint + "' </dev/null >'" + folder_.File("mount.txt") +
                                "' 2>&1";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // A test that stops half-way leaves neither the program nor its mount behind.
    struct Ender {
        pid_t pid;
        std::string mountpoint;
        ~Ender() {
            if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
            std::system(("fusermount3 -u -z '" + mountpoint + "' 2>/dev/null").c_str());
        }
    } ender{pid, mountpoint};
    for (int i = 0; i < 200 && !Mounted(mountpoint); ++i) platform::SleepMs(50);
    ASSERT_TRUE(Mounted(mountpoint)) << ReadFileBytes(folder_.File("mount.txt"));

    // The recording "001&&Tagesschau.TP0", under the name a copy to the PC gives it.
    std::string recording;
    for (const auto& entry : std::filesystem::directory_iterator(mountpoint + "/Recordings"))
        if (entry.path().filename().string().find("Tagesschau") != std::string::npos)
            recording = entry.path().string();
    ASSERT_FALSE(recording.empty());
    int error = 0;
    const std::string before = ReadThrough(recording, &error);
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(before.empty());

    testbed_.Unplug(device_);
    ReadThrough(recording, &error);
    EXPECT_EQ(error, EIO);

    testbed_.Replug(device_);
    std::string after;
    for (int i = 0; i < 200; ++i) {
        after = ReadThrough(recording, &error);
        if (error == 0) break;
        platform::SleepMs(100);
    }
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(after == before);

    // Ctrl+C unmounts; the receiver is given back to its driver.
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << ReadFileBytes(folder_.File("mount.txt"));
    EXPECT_FALSE(Mounted(mountpoint));
    EXPECT_TRUE(testbed_.Record(device_).driver_bound);

    // What the mount read is what the disk holds.
    ASSERT_EQ(image::MountReceiverImage(folder_.File("receiver.img")), 0);
    pcfm_file* file = pcfm_open("C:\\Recordings\\001&&Tagesschau.TP0", "rb");
    ASSERT_NE(file, nullptr);
    std::string stored;
    char piece[65536];
    for (size_t n; (n = pcfm_read(piece, 1, sizeof piece, file)) > 0;) stored.append(piece, n);
    pcfm_close(file);
    image::UnmountReceiverImage();
    EXPECT_TRUE(stored == before) << stored.size() << " stored, " << before.size() << " read";
}

}  // namespace
