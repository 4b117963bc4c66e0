#include "tests/fs/disk_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "emulator/image/receiver_image.h"
#include "pvrdisk/transport/image_block_device.h"

std::vector<BlockWrite> RecordingDriver::writes;
uint32_t RecordingDriver::fail_read_first = 0;
uint32_t RecordingDriver::fail_read_count = 0;
uint32_t RecordingDriver::fail_write_from = 0;

namespace {

uint32_t RequestSectors(const pcfm_blkreq* request) {
    return request->buffer == nullptr ? 1 : request->count;
}

int RecordingRead(uint32_t first_sector, pcfm_blkreq* request) {
    const uint32_t count = RequestSectors(request);
    if (RecordingDriver::fail_read_count != 0 &&
        first_sector < RecordingDriver::fail_read_first + RecordingDriver::fail_read_count &&
        first_sector + count > RecordingDriver::fail_read_first)
        return 1;
    return image_block_driver.read(first_sector, request);
}

int RecordingWrite(uint32_t first_sector, pcfm_blkreq* request) {
    const uint32_t count = RequestSectors(request);
    if (RecordingDriver::fail_write_from != 0 &&
        first_sector + count > RecordingDriver::fail_write_from)
        return 1;
    RecordingDriver::writes.push_back({first_sector, count});
    return image_block_driver.write(first_sector, request);
}

// The checker's own read-only view of the image file, beside any mount.
std::string g_checked_image;

int CheckerRead(uint32_t first, pcfm_blkreq* request) {
    const uint32_t count = RequestSectors(request);
    uint8_t* into = request->buffer == nullptr ? request->sector : request->buffer;
    const int image = open(g_checked_image.c_str(), O_RDONLY);
    const ssize_t n = pread(image, into, count * 512ull, static_cast<off_t>(first) * 512);
    close(image);
    if (n != static_cast<ssize_t>(count * 512ull)) return 1;
    if (request->buffer != nullptr) {
        request->buffer += count * 512ull;
        request->count = 0;
    }
    return 0;
}

int CheckerRefusesWrites(uint32_t, pcfm_blkreq*) {
    return 1;
}

}  // namespace

const pcfm_blkdrv RecordingDriver::table = {
    .open = image_block_driver.open,
    .close = image_block_driver.close,
    .read = RecordingRead,
    .write = RecordingWrite,
    .get_time = image_block_driver.get_time,
    .control = image_block_driver.control,
};

void DiskTest::SetUp() {
    image_ = folder_.File("receiver.img");
    RecordingDriver::writes.clear();
    RecordingDriver::fail_read_count = 0;
    RecordingDriver::fail_write_from = 0;
    pcfm_errno = 0;
}

void DiskTest::TearDown() {
    Unmount();
    if (!damaged_ && !image_.empty() && access(image_.c_str(), F_OK) == 0) ExpectClean();
}

int DiskTest::MakeAndMount(uint64_t bytes, uint32_t cluster_bytes) {
    Unmount();
    std::string error;
    EXPECT_TRUE(image::MakeReceiverImage(image_, bytes, cluster_bytes, &error)) << error;
    sectors_per_cluster_ = cluster_bytes / 512;
    return Remount();
}

int DiskTest::Remount() {
    Unmount();
    if (!OpenBlockImage(image_, false)) return EDEVICE;
    pcfm_set_block_driver(&RecordingDriver::table);
    const int result = OV_FILE_init();
    mounted_ = true;
    RecordingDriver::writes.clear();
    return result;
}

int DiskTest::MountSparse() {
    Unmount();
    const int result = image::MountReceiverImage(image_);
    mounted_ = true;
    sparse_ = true;
    return result;
}

void DiskTest::Unmount() {
    if (!mounted_) return;
    if (sparse_) {
        image::UnmountReceiverImage();
    } else {
        pcfm_release();
        CloseBlockImage();
    }
    mounted_ = false;
    sparse_ = false;
}

std::string DiskTest::WriteFile(const std::string& path, const std::string& data) {
    pcfm_file* file = pcfm_open(path.c_str(), "wb");
    if (file == nullptr) return "open failed with " + std::to_string(pcfm_errno);
    const size_t written = pcfm_write(data.data(), 1, data.size(), file);
    const int closed = pcfm_close(file);
    if (written != data.size()) return "wrote " + std::to_string(written);
    return closed == 0 ? "" : "close failed with " + std::to_string(pcfm_errno);
}

std::string DiskTest::ReadFile(const std::string& path) {
    pcfm_file* file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) return {};
    std::string data;
    char chunk[65536];
    for (size_t got; (got = pcfm_read(chunk, 1, sizeof chunk, file)) > 0;) data.append(chunk, got);
    pcfm_close(file);
    return data;
}

std::vector<std::string> DiskTest::List(const std::string& folder) {
    std::vector<std::string> names;
    pcfm_file* directory = pcfm_open(folder.c_str(), "d");
    if (directory == nullptr) return names;
    pcfm_dirent entry{};
    for (entry.index = 0; pcfm_readdir(directory, &entry) == 0; ++entry.index) {
        std::string name = entry.name;
        if (entry.extension[0] != 0) name += std::string(".") + entry.extension;
        names.push_back(name);
    }
    pcfm_close(directory);
    return names;
}

std::string DiskTest::ImageBytes(uint64_t offset, size_t size) const {
    std::string bytes(size, '\0');
    const int fd = open(image_.c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, bytes.data(), size, static_cast<off_t>(offset)),
              static_cast<ssize_t>(size));
    close(fd);
    return bytes;
}

void DiskTest::PutImageBytes(uint64_t offset, const std::string& bytes) const {
    const int fd = open(image_.c_str(), O_WRONLY);
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
}

uint16_t DiskTest::TableEntry(uint32_t cluster) const {
    const std::string bytes = ImageBytes(kFatStart * 512ull + 2ull * cluster, 2);
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1])
                                                                      << 8);
}

void DiskTest::SetTableEntry(uint32_t cluster, uint16_t value) const {
    const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    PutImageBytes(kFatStart * 512ull + 2ull * cluster, std::string(bytes, 2));
}

CheckReport DiskTest::Check() const {
    const int fd = open(image_.c_str(), O_RDONLY);
    const uint64_t sectors = static_cast<uint64_t>(lseek(fd, 0, SEEK_END)) / 512;
    close(fd);
    g_checked_image = image_;
    const pcfm_blkdrv reader = {.open = nullptr,
                                .close = nullptr,
                                .read = CheckerRead,
                                .write = CheckerRefusesWrites,
                                .get_time = nullptr,
                                .control = nullptr};
    return CheckReceiverDisk(reader, sectors);
}

void DiskTest::ExpectClean() const {
    const CheckReport report = Check();
    EXPECT_TRUE(report.Clean()) << FormatCheckReport(report);
}
