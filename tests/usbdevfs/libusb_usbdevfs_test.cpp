// The libusb backend through the real libusb-1.0 and emulated usbdevfs: the receiver found by
// its ids, its interface claimed and given back, sectors moved byte for byte, stalls, broken
// status wrappers, transfers that never end, and the receiver pulled out and plugged in again.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "emulator/image/receiver_image.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/link/libusb_link_backend.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "tests/support/temp_folder.h"
#include "tests/transfer/receiver_fixture.h"
#include "tests/usbdevfs/usbdevfs_testbed.h"
#include "transfer/box_function_mgr.h"
#include "transfer/overwrite_check.h"
#include "transfer/receiver_connection.h"
#include "transfer/win_function_mgr.h"

namespace {

constexpr UsbId kReceiverId{0x1d6b, 0x7e57};
constexpr UsbId kOtherDiskId{0x0781, 0x5567};
constexpr uint32_t kSectors = 2048;

std::string PatternSector(uint32_t sector) {
    std::string bytes(512, '\0');
    for (uint32_t i = 0; i < 512; ++i)
        bytes[i] = static_cast<char>((sector * 11 + i * 7) ^ (sector >> 3));
    return bytes;
}

uint8_t* Bytes(std::string& data) {
    return reinterpret_cast<uint8_t*>(data.data());
}

OverwriteAnswer YesToAll(const std::string&, void*) {
    return OverwriteAnswer::kYesToAll;
}

class LibusbUsbdevfsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        image_ = folder_.File("disk.img");
        std::string bytes;
        for (uint32_t s = 0; s < kSectors; ++s) bytes += PatternSector(s);
        WriteFileBytes(image_, bytes);
        ASSERT_TRUE(receiver_.Open(image_));
        SetLinkBackend(LibusbLinkBackend());
        SetLibusbDevice(kReceiverId);
        SetTransferBufferSize(kDefaultBufferSize);
        SetTransferTimeoutMs(1000);
    }
    void TearDown() override {
        connection_.Close();
        CloseUSBDrv();
        StopUsbDeviceWatch();
        SetLibusbDevice(std::nullopt);
        SetTransferTimeoutMs(kTransferTimeoutMs);
    }
    // The receiver, and a mounted disk of another maker beside it, before libusb looks.
    void AddDevices(bool vendor_specific = false) {
        usbdevfs::DeviceSpec other;
        other.id = kOtherDiskId;
        other_ = testbed_.AddDevice(other, nullptr);
        usbdevfs::DeviceSpec spec;
        spec.id = kReceiverId;
        spec.vendor_specific = vendor_specific;
        device_ = testbed_.AddDevice(spec, &receiver_);
    }
    std::string ImageBytes(uint32_t first, uint32_t count) {
        return ReadFileBytes(image_).substr(first * 512, count * 512);
    }
    // A fresh receiver file system on the image, mounted through libusb.
    void Mount() {
        std::string error;
        ASSERT_TRUE(image::MakeReceiverImage(image_, 64ull << 20, 32768, &error)) << error;
        ASSERT_TRUE(receiver_.Open(image_));
        ReceiverConfig config;
        config.backend = &LibusbLinkBackend();
        config.backing_file = image_;
        config.sectors = receiver_.SectorCount();
        ASSERT_TRUE(connection_.Open(config, &error)) << error;
    }
    std::string ReadReceiver(const std::string& path) {
        CRawFile file;
        if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return "";
        std::string bytes(file.GetLength(), '\0');
        if (!bytes.empty())
            bytes.resize(file.Read(bytes.data(), static_cast<unsigned>(bytes.size())));
        return bytes;
    }

    TempFolder folder_;
    std::string image_;
    emulator::EmulatedReceiver receiver_;
    usbdevfs::Testbed testbed_;
    ReceiverConnection connection_;
    int other_ = -1;
    int device_ = -1;
};

TEST_F(LibusbUsbdevfsTest, ReceiverIsFoundByItsIdsAndNeverWhenTheyDiffer) {
    AddDevices();
    EXPECT_EQ(CheckDeviceAttached(), 1);
    SetLibusbDevice(UsbId{kReceiverId.vendor, 0x0001});
    EXPECT_EQ(CheckDeviceAttached(), 0);
    EXPECT_EQ(InitDevice(), 0);
    SetLibusbDevice(std::nullopt);
    EXPECT_EQ(CheckDeviceAttached(), 0);
    EXPECT_EQ(testbed_.Record(device_).ioctls, 0u);
}

// Receivers that present their bulk endpoints on a vendor-specific interface are served when
// their ids are given; the list of mass-storage devices does not show them.
TEST_F(LibusbUsbdevfsTest, VendorSpecificInterfaceIsServedForTheChosenIds) {
    AddDevices(true);
    ASSERT_EQ(InitDevice(), 1);
    std::string data(4 * 512, '\0');
    ASSERT_EQ(Read10(Bytes(data), 7, 4), 0);
    EXPECT_EQ(data, ImageBytes(7, 4));
    for (const UsbMassStorageDevice& listed : ListUsbMassStorageDevices())
        EXPECT_NE(listed.id.product, kReceiverId.product);
}

TEST_F(LibusbUsbdevfsTest, ClaimDetachesTheKernelDriverAndCloseGivesItBack) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    usbdevfs::DeviceRecord record = testbed_.Record(device_);
    EXPECT_TRUE(record.claimed);
    EXPECT_FALSE(record.driver_bound);
    EXPECT_EQ(record.detaches, 1u);
    EXPECT_EQ(record.claims, 1u);  // one claim for both pipes
    ASSERT_EQ(CloseUSBDrv(), 0);
    record = testbed_.Record(device_);
    EXPECT_FALSE(record.claimed);
    EXPECT_TRUE(record.driver_bound);
    EXPECT_EQ(record.releases, 1u);
    EXPECT_EQ(record.attaches, 1u);
    // The mounted disk beside it was never opened, let alone claimed.
    const usbdevfs::DeviceRecord other = testbed_.Record(other_);
    EXPECT_EQ(other.ioctls, 0u);
    EXPECT_TRUE(other.driver_bound);
}

TEST_F(LibusbUsbdevfsTest, SectorsAreWrittenAndReadByteExact) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    SetTransferBufferSize(16384);  // commands of 32 sectors
    std::string written(100 * 512, '\0');
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<char>(i * 31 + i / 512);
    pcfm_blkreq request{};
    request.buffer = Bytes(written);
    request.count = 100;
    ASSERT_EQ(usb_block_driver.write(300, &request), 0);
    EXPECT_EQ(ImageBytes(300, 100), written);
    std::string read(100 * 512, '\0');
    request.buffer = Bytes(read);
    request.count = 100;
    ASSERT_EQ(usb_block_driver.read(300, &request), 0);
    EXPECT_EQ(read, written);
    EXPECT_EQ(ImageBytes(299, 1), PatternSector(299));
    EXPECT_EQ(ImageBytes(400, 1), PatternSector(400));
}

TEST_F(LibusbUsbdevfsTest, FilesAreWrittenAndReadByteExactThroughTheFileSystem) {
    AddDevices();
    Mount();
    const std::string data = RandomBytes(700000, 5);
    {
        CRawFile file;
        ASSERT_TRUE(
            file.Open("C:\\rec.ts", CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        file.Write(data.data(), static_cast<unsigned>(data.size()));
        file.Close();
    }
    ASSERT_TRUE(connection_.Reinitialise());  // mounted afresh: nothing cached survives
    EXPECT_TRUE(ReadReceiver("C:\\rec.ts") == data);
}

TEST_F(LibusbUsbdevfsTest, StalledEndpointIsClearedAndTheNextCommandWorks) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    std::string data(512, '\0');
    receiver_.StallEndpoint(emulator::Endpoint::kBulkIn);
    const uint64_t clears = testbed_.Record(device_).clear_halts;
    EXPECT_EQ(Read10(Bytes(data), 3, 1), 1);
    EXPECT_GT(testbed_.Record(device_).clear_halts, clears);
    ASSERT_EQ(Read10(Bytes(data), 3, 1), 0);
    EXPECT_EQ(data, PatternSector(3));
}

// A phase error and a status wrapper that cannot be valid: the class reset and clear-halt of
// both endpoints, after which the receiver answers again.
TEST_F(LibusbUsbdevfsTest, BrokenStatusLeadsToResetRecoveryAndTheNextCommandWorks) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    std::string data(2 * 512, '\0');
    for (emulator::StatusFault fault :
         {emulator::StatusFault::kPhaseError, emulator::StatusFault::kBadTag,
          emulator::StatusFault::kShortStatus}) {
        SCOPED_TRACE(static_cast<int>(fault));
        emulator::FaultPlan plan;
        plan.bad_status_at_command = receiver_.GetCounters().commands + 1;
        plan.bad_status = fault;
        receiver_.SetFaultPlan(plan);
        const usbdevfs::DeviceRecord before = testbed_.Record(device_);
        EXPECT_EQ(Read10(Bytes(data), 10, 2), 1);
        const usbdevfs::DeviceRecord after = testbed_.Record(device_);
        EXPECT_EQ(after.class_resets, before.class_resets + 1);
        EXPECT_GE(after.clear_halts, before.clear_halts + 2);
        ASSERT_EQ(Read10(Bytes(data), 12, 2), 0);
        EXPECT_EQ(data, ImageBytes(12, 2));
    }
}

TEST_F(LibusbUsbdevfsTest, TransferThatNeverCompletesIsCancelledAfterTheBound) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    SetTransferTimeoutMs(200);
    std::string data(4 * 512, '\0');
    emulator::FaultPlan plan;
    plan.hang_transfer_at = receiver_.GetCounters().transfers + 2;  // the data phase
    receiver_.SetFaultPlan(plan);
    EXPECT_EQ(Read10(Bytes(data), 20, 4), 1);
    EXPECT_GE(testbed_.Record(device_).discards, 1u);
    receiver_.SetFaultPlan({});
    ASSERT_EQ(Read10(Bytes(data), 20, 4), 0);
    EXPECT_EQ(data, ImageBytes(20, 4));
}

// A kernel that loses the cancel never gives the transfer back: the thread must not wait for
// it without end, and the link goes on over fresh transfers.
TEST_F(LibusbUsbdevfsTest, CancelThatNeverCompletesDoesNotHoldTheThread) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    SetTransferTimeoutMs(200);
    testbed_.SetLoseCancels(device_, true);
    std::string data(4 * 512, '\0');
    emulator::FaultPlan plan;
    plan.hang_transfer_at = receiver_.GetCounters().transfers + 2;
    receiver_.SetFaultPlan(plan);
    EXPECT_EQ(Read10(Bytes(data), 30, 4), 1);
    EXPECT_GE(testbed_.Record(device_).discards, 1u);
    receiver_.SetFaultPlan({});
    testbed_.SetLoseCancels(device_, false);
    ASSERT_EQ(Read10(Bytes(data), 30, 4), 0);
    EXPECT_EQ(data, ImageBytes(30, 4));
}

// A cancelled transfer that comes back only after the link gave up on it must not pass for the
// completion of the transfer pending on the same pipe by then: that one still runs to its own
// time-out and is cancelled in its turn.
TEST_F(LibusbUsbdevfsTest, ALateCancelledTransferDoesNotCompleteItsSuccessor) {
    AddDevices();
    ASSERT_EQ(InitDevice(), 1);
    testbed_.SetCancelDelayMs(device_, 2600);  // beyond the backend's 2 s for a cancel
    std::string data(4 * 512, '\0');
    emulator::FaultPlan plan;
    SetTransferTimeoutMs(200);
    plan.hang_transfer_at = receiver_.GetCounters().transfers + 2;
    receiver_.SetFaultPlan(plan);
    EXPECT_EQ(Read10(Bytes(data), 40, 4), 1);
    const uint64_t discards = testbed_.Record(device_).discards;
    // The next command's data phase hangs too, and is pending when the first one comes back.
    SetTransferTimeoutMs(1500);
    plan.hang_transfer_at = receiver_.GetCounters().transfers + 2;
    receiver_.SetFaultPlan(plan);
    EXPECT_EQ(Read10(Bytes(data), 40, 4), 1);
    EXPECT_EQ(testbed_.Record(device_).discards, discards + 1);  // cancelled by its time-out
    receiver_.SetFaultPlan({});
    testbed_.SetCancelDelayMs(device_, 0);
    platform::SleepMs(3000);  // the second cancel comes back too
    ASSERT_EQ(Read10(Bytes(data), 40, 4), 0);
    EXPECT_EQ(data, ImageBytes(40, 4));
}

// Pulled out in the middle of a copy to the receiver (ENODEV on its node), plugged in again at
// a new address: hotplug reports both, the copy waits, goes on and ends byte-exact.
TEST_F(LibusbUsbdevfsTest, UnplugInTheMiddleOfACopyAndReplugResumesIt) {
    AddDevices();
    Mount();
    static std::atomic<int> arrivals{0}, removals{0};
    arrivals = removals = 0;
    SetDeviceChangeHandler([](bool arrived, void*) { ++(arrived ? arrivals : removals); }, nullptr);
    ASSERT_TRUE(StartUsbDeviceWatch());

    std::filesystem::create_directories(folder_.File("pc"));
    const std::string data = RandomBytes(3u << 20, 9);
    WriteFileBytes(folder_.File("pc/rec.ts"), data);
    emulator::FaultPlan plan;
    plan.unplug_after_bytes = 1u << 20;
    receiver_.SetFaultPlan(plan);
    // The receiver pulls its own plug at the planned byte; the bus then loses it and finds
    // it again a little later.
    std::atomic<bool> done{false};
    std::thread bus([&] {
        while (!done && receiver_.IsPlugged()) platform::SleepMs(2);
        if (done) return;
        testbed_.Unplug(device_);
        platform::SleepMs(700);
        testbed_.Replug(device_);
    });
    CWinFunctionMgr win;
    CDirList one;
    CDirEntry record;
    ASSERT_TRUE(MakePcRecord(folder_.File("pc"), "rec.ts", &record));
    one.Add(record);
    CheckOverwriteFiles(win, &one, folder_.File("pc"), "C:\\", YesToAll, nullptr);
    win.wait_limit_ms = 60000;
    const bool copied = win.CopyFiles(&one, folder_.File("pc"), "C:\\");
    done = true;
    bus.join();
    EXPECT_TRUE(copied) << win.failure;
    EXPECT_TRUE(ReadReceiver("C:\\rec.ts") == data);
    for (int i = 0; i < 200 && arrivals == 0; ++i) platform::SleepMs(10);
    EXPECT_GE(removals.load(), 1);
    EXPECT_GE(arrivals.load(), 1);
    SetDeviceChangeHandler(nullptr, nullptr);
}

}  // namespace
