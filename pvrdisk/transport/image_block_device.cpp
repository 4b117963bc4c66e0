#include "pvrdisk/transport/image_block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "app/log.h"

namespace {

int g_image_fd = -1;
uint64_t g_image_sectors = 0;

int NoOp(pcfm_dev*) {
    return 0;
}
int NoControl(pcfm_dev*, int, void*) {
    return 0;
}

// Moves `sectors` sectors at `first_sector` with positioned I/O, retrying short transfers.
bool Transfer(bool write, uint8_t* buffer, uint32_t first_sector, uint32_t sectors) {
    if (g_image_fd < 0) return false;
    if (static_cast<uint64_t>(first_sector) + sectors > g_image_sectors) return false;
    uint64_t offset = static_cast<uint64_t>(first_sector) * kSectorSize;
    size_t left = static_cast<size_t>(sectors) * kSectorSize;
    while (left > 0) {
        const ssize_t n = write ? pwrite(g_image_fd, buffer, left, static_cast<off_t>(offset))
                                : pread(g_image_fd, buffer, left, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        offset += static_cast<uint64_t>(n);
        left -= static_cast<size_t>(n);
    }
    return true;
}

int Serve(bool write, uint32_t first_sector, pcfm_blkreq* request) {
    if (request->buffer == nullptr)
        return Transfer(write, request->sector, first_sector, 1) ? 0 : 1;
    if (request->count == 0) return 0;
    if (!Transfer(write, request->buffer, first_sector, request->count)) {
        LogLine(write ? "Image write failed" : "Image read failed", 1);
        return 1;
    }
    request->buffer += static_cast<size_t>(request->count) * kSectorSize;
    request->count = 0;
    return 0;
}

int ImageRead(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(false, first_sector, request);
}
int ImageWrite(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(true, first_sector, request);
}

}  // namespace

const pcfm_blkdrv image_block_driver = {
    .open = NoOp,
    .close = NoOp,
    .read = ImageRead,
    .write = ImageWrite,
    .get_time = GetReceiverTime,
    .control = NoControl,
};

bool OpenBlockImage(const std::string& path, bool read_only) {
    CloseBlockImage();
    const int fd = open(path.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    uint64_t bytes = 0;
    if (fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) bytes = 0;
    } else if (fstat(fd, &st) == 0) {
        bytes = static_cast<uint64_t>(st.st_size);
    }
    g_image_fd = fd;
    g_image_sectors = bytes / kSectorSize;
    return true;
}

void CloseBlockImage() {
    if (g_image_fd >= 0) close(g_image_fd);
    g_image_fd = -1;
    g_image_sectors = 0;
}

uint64_t BlockImageSectorCount() {
    return g_image_sectors;
}

int GetReceiverTime(uint16_t* time_word, uint16_t* date_word) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    *time_word = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    const int year = local.tm_year + 1900 - 1980;
    *date_word =
        static_cast<uint16_t>((year & 0x7F) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    return 0;
}
