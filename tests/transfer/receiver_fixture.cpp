#include "tests/transfer/receiver_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "app/settings.h"
#include "emulator/emulated_link_backend.h"
#include "emulator/image/receiver_image.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/fs/raw_file.h"
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

void WriteSparsePcFile(const std::string& path, uint64_t size, const std::string& head,
                       uint64_t offset, const std::string& piece) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(pwrite(fd, piece.data(), piece.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(piece.size()));
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
}

std::string ReadPcRange(const std::string& path, uint64_t offset, size_t length) {
    std::string bytes(length, '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return "";
    const ssize_t got = pread(fd, bytes.data(), length, static_cast<off_t>(offset));
    close(fd);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

void ReceiverFixture::WriteSparseReceiverFile(const std::string& path, uint64_t size,
                                              const std::string& head, const std::string& tail) {
    ASSERT_EQ(image::MountReceiverImage(image_), 0);
    pcfm_file* file = pcfm_open(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(pcfm_write(head.data(), 1, head.size(), file), head.size());
    const std::vector<char> zeros(1 << 20, 0);
    for (uint64_t left = size - head.size() - tail.size(); left > 0;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, zeros.size()));
        ASSERT_EQ(pcfm_write(zeros.data(), 1, piece, file), piece);
        left -= piece;
    }
    ASSERT_EQ(pcfm_write(tail.data(), 1, tail.size(), file), tail.size());
    ASSERT_EQ(pcfm_close(file), 0);
    image::UnmountReceiverImage();
}

void ReceiverFixture::SetUp() {
    platform::SetProfile(platform::MakeMemoryProfileStore());
    platform::Profile().WriteInt("Settings", "LogLevel", 0);
    image_ = folder_.File("receiver.img");
    UsbFailure = false;
}

void ReceiverFixture::TearDown() {
    connection_.Close();
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
    ReceiverConfig config;
    config.backend = &emulator::EmulatedLinkBackend();
    config.backing_file = image_;
    config.sectors = receiver_->SectorCount();
    config.buffer_size = settings::BufferSize();
    std::string error;
    ASSERT_TRUE(connection_.Open(config, &error)) << error;
}

void ReceiverFixture::Reconnect() {
    for (int i = 0; i < 400 && !receiver_->IsPlugged(); ++i) platform::SleepMs(5);
    ASSERT_TRUE(receiver_->IsPlugged());
    ASSERT_TRUE(connection_.Reinitialise());
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

std::string ReceiverFixture::ReceiverBytes(const std::string& path) {
    CRawFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return "<missing>";
    std::string bytes(file.GetLength(), '\0');
    if (!bytes.empty()) file.Read(bytes.data(), static_cast<unsigned>(bytes.size()));
    return bytes;
}
