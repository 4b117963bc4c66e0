// The file system over the real bulk-only transport and the emulated receiver.
#include "emulator/emulated_receiver.h"

#include "emulator/emulated_link_backend.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "tests/fs/disk_fixture.h"

namespace {

class OverTransportTest : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        std::string error;
        ASSERT_TRUE(image::MakeReceiverImage(image_, 256ull << 20, 32768, &error)) << error;
        ASSERT_TRUE(receiver_.Open(image_));
        emulator::AttachEmulatedReceiver(&receiver_);
        SetLinkBackend(emulator::EmulatedLinkBackend());
        SetTransferBufferSize(kDefaultBufferSize);
        ASSERT_EQ(InitDevice(), 1);
        pcfm_set_block_driver(&usb_block_driver);
        receiver_.ResetCounters();
        ASSERT_EQ(OV_FILE_init(), 0);
    }
    void TearDown() override {
        // The checker reads through the transport as the command line will.
        const CheckReport report = CheckReceiverDisk(usb_block_driver, receiver_.SectorCount());
        EXPECT_TRUE(report.Clean()) << FormatCheckReport(report);
        pcfm_release();
        CloseUSBDrv();
        emulator::AttachEmulatedReceiver(nullptr);
        DiskTest::TearDown();
    }
    emulator::EmulatedReceiver receiver_;
};

TEST_F(OverTransportTest, MountTakesFourCommands) {
    EXPECT_EQ(receiver_.GetCounters().commands, 4u);  // boot sector, table in two, root
}

TEST_F(OverTransportTest, RoundTripsAndListing) {
    for (size_t size : {0, 1, 511, 512, 513, 65536, 300000}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 3 + size);
        const std::string path = "C:\\t" + std::to_string(size);
        ASSERT_EQ(WriteFile(path, data), "");
        EXPECT_EQ(ReadFile(path), data);
    }
    ASSERT_EQ(pcfm_mkdir("C:\\Five"), 0);
    for (int i = 0; i < 498; ++i) ASSERT_EQ(WriteFile("C:\\Five\\f" + std::to_string(i), ""), "");
    pcfm_release();
    ASSERT_EQ(OV_FILE_init(), 0);
    receiver_.ResetCounters();
    EXPECT_EQ(List("C:\\Five").size(), 500u);
    EXPECT_EQ(receiver_.GetCounters().commands, 1u);  // one read of the directory
}

TEST_F(OverTransportTest, SampleContentAndChunkedReads) {
    std::string error;
    ASSERT_TRUE(image::FillSampleContent({}, &error)) << error;
    const std::string recording = ReadFile("C:\\Recordings\\001&&Tagesschau.TP0");
    EXPECT_EQ(recording.substr(image::kTitleOffset, 10), "Tagesschau");
    receiver_.ResetCounters();
    pcfm_file* file = pcfm_open("C:\\tm_shift.000", "rb");
    std::string chunk(65536, '\0');
    EXPECT_EQ(pcfm_read(chunk.data(), 1, chunk.size(), file), chunk.size());
    pcfm_close(file);
    EXPECT_EQ(receiver_.GetCounters().commands, 1u);  // an aligned chunk goes straight through
    EXPECT_EQ(chunk, std::string(65536, 't'));
}

TEST_F(OverTransportTest, LostLinkIsReportedAsADeviceFailure) {
    ASSERT_EQ(WriteFile("C:\\f", std::string(100000, 'f')), "");
    pcfm_file* file = pcfm_open("C:\\f", "rb");
    receiver_.Unplug();
    char buffer[4096];
    EXPECT_EQ(pcfm_read(buffer, 1, sizeof buffer, file), 0u);
    EXPECT_EQ(Errno(), EDEVICE);
    pcfm_close(file);
    receiver_.Plug();
    CloseUSBDrv();
    ASSERT_EQ(InitDevice(), 1);
    ASSERT_EQ(OV_FILE_init(), 0);
    EXPECT_EQ(ReadFile("C:\\f"), std::string(100000, 'f'));
}

}  // namespace
