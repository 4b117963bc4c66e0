#include "emulator/image/sparse_block_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pvrdisk/transport/image_block_device.h"

namespace image {

namespace {

int g_probe_fd = -1;

bool AllZero(const uint8_t* data, size_t size) {
    return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

// True when no byte of [offset, offset + size) has been written in the file.
bool IsHole(uint64_t offset, uint64_t size) {
    const off_t data = lseek(g_probe_fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) return errno == ENXIO;
    return static_cast<uint64_t>(data) >= offset + size;
}

int SparseWrite(uint32_t first_sector, pcfm_blkreq* request) {
    if (request->buffer != nullptr && request->count != 0 && g_probe_fd >= 0) {
        const size_t bytes = size_t{request->count} * kSectorSize;
        if (uint64_t{first_sector} + request->count <= BlockImageSectorCount() &&
            AllZero(request->buffer, bytes) &&
            IsHole(uint64_t{first_sector} * kSectorSize, bytes)) {
            request->buffer += bytes;
            request->count = 0;
            return 0;
        }
    }
    return image_block_driver.write(first_sector, request);
}

}  // namespace

const pcfm_blkdrv sparse_image_block_driver = {
    .open = image_block_driver.open,
    .close = image_block_driver.close,
    .read = image_block_driver.read,
    .write = SparseWrite,
    .get_time = image_block_driver.get_time,
    .control = image_block_driver.control,
};

bool OpenSparseImage(const std::string& path) {
    CloseSparseImage();
    if (!OpenBlockImage(path, false)) return false;
    g_probe_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return g_probe_fd >= 0;
}

void CloseSparseImage() {
    if (g_probe_fd >= 0) close(g_probe_fd);
    g_probe_fd = -1;
    CloseBlockImage();
}

}  // namespace image
