#include "tests/transfer/receiver_fixture.h"

#include <random>

#include "app/settings.h"
#include "emulator/emulated_link_backend.h"
#include "emulator/image/receiver_image.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "pvrdisk/transport/image_block_device.h"
#include "transfer/progress.h"

std::string RandomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

void ReceiverFixture::SetUp() {
    platform::SetProfile(platform::MakeMemoryProfileStore());
    platform::Profile().WriteInt("Settings", "LogLevel", 0);
    image_ = folder_.File("receiver.img");
    UsbFailure = false;
}

void ReceiverFixture::TearDown() {
    pcfm_release();
    CloseUSBDrv();
    emulator::AttachEmulatedReceiver(nullptr);
    receiver_.reset();
}

void ReceiverFixture::MakeImage(uint64_t bytes, uint32_t cluster) {
    std::string error;
    ASSERT_TRUE(image::MakeReceiverImage(image_, bytes, cluster, &error)) << error;
}

void ReceiverFixture::Connect() {
    receiver_ = std::make_unique<emulator::EmulatedReceiver>();
    ASSERT_TRUE(receiver_->Open(image_));
    emulator::AttachEmulatedReceiver(receiver_.get());
    SetLinkBackend(emulator::EmulatedLinkBackend());
    SetTransferBufferSize(settings::BufferSize());
    CreateTransferEvents();
    ASSERT_EQ(InitDevice(), 1);
    pcfm_set_block_driver(&usb_block_driver);
    ASSERT_EQ(OV_FILE_init(), 0);
}

void ReceiverFixture::Reconnect() {
    for (int i = 0; i < 400 && !receiver_->IsPlugged(); ++i) platform::SleepMs(5);
    ASSERT_TRUE(receiver_->IsPlugged());
    Connect_ReopenPIPE();
    ASSERT_EQ(OV_FILE_init(), 0);
    UsbFailure = false;
}

void ReceiverFixture::ExpectDiskClean() {
    pcfm_release();
    ASSERT_TRUE(OpenBlockImage(image_, true));
    const CheckReport report = CheckReceiverDisk(image_block_driver, BlockImageSectorCount());
    CloseBlockImage();
    EXPECT_TRUE(report.Clean()) << FormatCheckReport(report);
    pcfm_set_block_driver(&usb_block_driver);
    ASSERT_EQ(OV_FILE_init(), 0);
}
