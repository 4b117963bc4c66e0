// End to end: the transport and the receiver's file system over a link backend that goes
// through OvPvrUSB on the kernel model to the emulated receiver serving a sample disk.
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "driver/kernel_model/driver_link_backend.h"
#include "driver/kernel_model/emulated_receiver_function.h"
#include "emulator/emulated_receiver.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"

using ::testing::IsEmpty;

namespace {

constexpr uint64_t kImageBytes = 64ull << 20;
constexpr const char* kSampleFile = "C:\\copy.bin";
constexpr const char* kWrittenFile = "C:\\from_pc.bin";

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<char>((i * 31 + seed + i / 509) & 0xFF);
    return bytes;
}

bool WriteReceiverFile(const char* path, const std::string& bytes) {
    pcfm_file* file = pcfm_open(path, "wb");
    if (file == nullptr) return false;
    const bool written = pcfm_write(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return pcfm_close(file) == 0 && written;
}

bool ReadReceiverFile(const char* path, std::string* bytes) {
    pcfm_file* file = pcfm_open(path, "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char chunk[65536];
    size_t got;
    while ((got = pcfm_read(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, got);
    return pcfm_close(file) == 0;
}

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kernel_model::Reset();
        // CTest runs the tests of this fixture side by side: each needs its own image.
        image_path_ = ::testing::TempDir() + "ovpvrusb_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                      std::to_string(getpid()) + ".img";
        std::string error;
        ASSERT_TRUE(image::MakeReceiverImage(image_path_, kImageBytes, 32768, &error)) << error;
        ASSERT_EQ(image::MountReceiverImage(image_path_), 0);
        ASSERT_TRUE(image::FillSampleContent(image::SampleOptions{}, &error)) << error;
        sample_ = Pattern(1500000, 7);
        ASSERT_TRUE(WriteReceiverFile(kSampleFile, sample_));
        image::UnmountReceiverImage();

        ASSERT_TRUE(receiver_.Open(image_path_));
        function_ = std::make_unique<kernel_model::EmulatedReceiverFunction>(receiver_);
        bus_ = std::make_unique<kernel_model::SimulatedUsbBus>(
            function_.get(), kernel_model::ReceiverConfigurationDescriptor(false, false));
        seed_ = kernel_model::CompletionSeed();
        bus_->CompleteTransfersLater(seed_);
        kernel_model::SeedPowerRequestTiming(seed_);
        host_ = std::make_unique<kernel_model::DriverHost>(*bus_);
        ASSERT_EQ(host_->Plug(), STATUS_SUCCESS);
        kernel_model::AttachDriverHost(host_.get());
        SetLinkBackend(kernel_model::DriverModelLinkBackend());
        ASSERT_EQ(InitDevice(), 1);
        pcfm_set_block_driver(&usb_block_driver);
    }

    void TearDown() override {
        EXPECT_EQ(CloseUSBDrv(), 0);
        kernel_model::AttachDriverHost(nullptr);
        if (host_ != nullptr) host_->Unplug();
        EXPECT_THAT(kernel_model::Leaks(), IsEmpty());
        EXPECT_THAT(kernel_model::Faults(), IsEmpty());
        if (HasFailure()) std::printf("completion timing: OVPVRUSB_SEED=%u\n", seed_);
        host_.reset();
        bus_.reset();
        kernel_model::Reset();
        std::remove(image_path_.c_str());
    }

    std::string image_path_;
    std::string sample_;
    emulator::EmulatedReceiver receiver_;
    std::unique_ptr<kernel_model::EmulatedReceiverFunction> function_;
    uint32_t seed_ = 0;  // of the bus's completion timing and the power manager's
    std::unique_ptr<kernel_model::SimulatedUsbBus> bus_;
    std::unique_ptr<kernel_model::DriverHost> host_;
};

TEST_F(EndToEndTest, SectorsReadThroughTheDriverMatchTheImage) {
    SetTransferBufferSize(524288);
    std::vector<uint8_t> sectors(1024 * 512);
    ASSERT_EQ(Read10(sectors.data(), 100, 1024), 0);
    std::ifstream image(image_path_, std::ios::binary);
    std::vector<uint8_t> expected(sectors.size());
    image.seekg(100 * 512);
    image.read(reinterpret_cast<char*>(expected.data()), expected.size());
    EXPECT_EQ(sectors, expected);
    // A 524 288-byte data phase is one transfer through the driver.
    bool whole = false;
    for (const kernel_model::TransferRecord& transfer : bus_->Transfers())
        whole |= transfer.endpoint == 0x82 && transfer.length == 524288;
    EXPECT_TRUE(whole);
    SetTransferBufferSize(static_cast<int32_t>(kDefaultBufferSize));
}

TEST_F(EndToEndTest, AFileIsCopiedFromAndToTheReceiverByteForByte) {
    ASSERT_EQ(OV_FILE_init(), 0);
    std::string copied;
    ASSERT_TRUE(ReadReceiverFile(kSampleFile, &copied));
    EXPECT_TRUE(copied == sample_);
    // Every sector came through the driver's bulk path.
    EXPECT_GT(bus_->Transfers().size(), 3u * (sample_.size() / kDefaultBufferSize));

    const std::string from_pc = Pattern(700001, 3);
    ASSERT_TRUE(WriteReceiverFile(kWrittenFile, from_pc));
    pcfm_release();

    // Read back straight from the image, without the driver.
    EXPECT_EQ(CloseUSBDrv(), 0);
    ASSERT_EQ(image::MountReceiverImage(image_path_), 0);
    std::string stored;
    EXPECT_TRUE(ReadReceiverFile(kWrittenFile, &stored));
    EXPECT_TRUE(stored == from_pc);
    image::UnmountReceiverImage();
}

TEST_F(EndToEndTest, TheLinkResetsThePipeAndTheDeviceThroughTheControlCodes) {
    ResetDevice(1);
    EXPECT_EQ(bus_->ResetPipesOf(0x01), 1u);
    EXPECT_EQ(bus_->PortStatusQueries(), 1u);
    EXPECT_EQ(bus_->PortResets(), 0u);  // the port is healthy
    std::vector<uint8_t> sector(512);
    EXPECT_EQ(Read10(sector.data(), 0, 1), 0);
}

}  // namespace
