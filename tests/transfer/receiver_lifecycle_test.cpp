// The main window's connection to the receiver, over the emulated receiver and the real link:
// the connect sequence at start, a receiver pulled out and plugged in again.
#include "transfer/receiver_lifecycle.h"

#include <gtest/gtest.h>

#include <numeric>

#include "emulator/emulated_link_backend.h"
#include "pvrdisk/link/link_backend.h"
#include "pvrdisk/pcfm.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/progress.h"

namespace {
class ReceiverLifecycleTest : public ReceiverFixture {
  protected:
    void SetUp() override {
        ReceiverFixture::SetUp();
        DeviceConnected = false;
        UsbFailure = false;
        MakeImage(64ull << 20, 32768);
    }
    void Serve() {
        receiver_ = std::make_unique<emulator::EmulatedReceiver>();
        ASSERT_TRUE(receiver_->Open(image_));
        emulator::AttachEmulatedReceiver(receiver_.get());
    }
    ReceiverConfig Config() const {
        ReceiverConfig config;
        config.backend = &emulator::EmulatedLinkBackend();
        config.backing_file = image_;
        config.sectors = receiver_ ? receiver_->SectorCount() : 0;
        return config;
    }
    ReceiverLifecycle Lifecycle() {
        return ReceiverLifecycle(connection_, Config(), [this](int ms) { slept_.push_back(ms); });
    }
    int SleptMs() const { return std::accumulate(slept_.begin(), slept_.end(), 0); }
    std::vector<int> slept_;
};
}  // namespace

TEST_F(ReceiverLifecycleTest, StartsAndMountsAReceiverThatIsThere) {
    Serve();
    ReceiverLifecycle lifecycle = Lifecycle();
    EXPECT_TRUE(lifecycle.ConnectAtStart());
    EXPECT_TRUE(DeviceConnected);
    EXPECT_EQ(lifecycle.FileSystemAttempts(), 1);
    pcfm_file* root = pcfm_open("C:\\", "d");
    ASSERT_NE(root, nullptr);
    pcfm_close(root);
    // Another device changing while it is connected changes nothing.
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kNothing);
}

TEST_F(ReceiverLifecycleTest, WithoutAReceiverTheProgramGoesOnAndConnectsOnArrival) {
    SetLinkBackend(emulator::EmulatedLinkBackend());
    ReceiverLifecycle none(connection_, Config(), [this](int ms) { slept_.push_back(ms); });
    EXPECT_FALSE(none.ConnectAtStart());
    EXPECT_FALSE(DeviceConnected);
    EXPECT_EQ(none.FileSystemAttempts(), 0);
    EXPECT_EQ(none.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kOtherDevice);

    Serve();  // plugged in
    ReceiverLifecycle lifecycle = Lifecycle();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kReconnected);
    EXPECT_TRUE(DeviceConnected);
    EXPECT_FALSE(UsbFailure);
    EXPECT_NE(pcfm_open("C:\\", "d"), nullptr);
}

TEST_F(ReceiverLifecycleTest, ADiskThatNeverMountsCostsThreePassesOfTwoAttempts) {
    // A boot sector without its signature.
    {
        FILE* image = fopen(image_.c_str(), "r+b");
        ASSERT_NE(image, nullptr);
        const std::string junk(512, '\xEE');
        fwrite(junk.data(), 1, junk.size(), image);
        fclose(image);
    }
    Serve();
    ReceiverLifecycle lifecycle = Lifecycle();
    EXPECT_FALSE(lifecycle.ConnectAtStart());
    EXPECT_EQ(lifecycle.FileSystemAttempts(), 6);
    EXPECT_EQ(SleptMs(), 3900);
    // Seen as present: a notification that it is there does not retry…
    EXPECT_TRUE(DeviceConnected);
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kNothing);
    // … unplugging and plugging in again does, and fails again on this disk.
    receiver_->Unplug();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kPulledOut);
    EXPECT_FALSE(DeviceConnected);
    receiver_->Plug();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kReconnectFailed);
    EXPECT_FALSE(DeviceConnected);
    EXPECT_TRUE(UsbFailure);
}

TEST_F(ReceiverLifecycleTest, PulledOutAndPluggedInAgain) {
    Serve();
    ReceiverLifecycle lifecycle = Lifecycle();
    ASSERT_TRUE(lifecycle.ConnectAtStart());
    ASSERT_EQ(pcfm_mkdir("C:\\Kept"), 0);

    receiver_->Unplug();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kPulledOut);
    EXPECT_TRUE(UsbFailure);
    EXPECT_FALSE(DeviceConnected);
    EXPECT_EQ(pcfm_open("C:\\", "d"), nullptr);  // the file system was let go

    receiver_->Plug();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(false), ReceiverLifecycle::Change::kReconnected);
    EXPECT_FALSE(UsbFailure);
    pcfm_file* kept = pcfm_open("C:\\Kept", "d");
    EXPECT_NE(kept, nullptr);
    if (kept != nullptr) pcfm_close(kept);
    ExpectDiskClean();
}

TEST_F(ReceiverLifecycleTest, DuringATransferTheEngineKeepsTheLinkAndTheDisk) {
    Serve();
    ReceiverLifecycle lifecycle = Lifecycle();
    ASSERT_TRUE(lifecycle.ConnectAtStart());
    pcfm_file* open_file = pcfm_open("C:\\during.bin", "w");
    ASSERT_NE(open_file, nullptr);

    receiver_->Unplug();
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(true), ReceiverLifecycle::Change::kPulledOut);
    EXPECT_TRUE(UsbFailure);
    receiver_->Plug();
    // Left to the engine's own reconnection while the transfer runs.
    EXPECT_EQ(lifecycle.OnDeviceNodesChanged(true), ReceiverLifecycle::Change::kNothing);
    EXPECT_TRUE(UsbFailure);
    // The engine's way back: the same connection, reinitialised.
    ASSERT_TRUE(connection_.Reinitialise());
    UsbFailure = false;
    DeviceConnected = true;
    pcfm_close(open_file);
}
