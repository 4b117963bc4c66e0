#include "tests/support/emulated_link.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "emulator/emulated_link_backend.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"

EmulatedLink::EmulatedLink(uint32_t sectors, bool open_link) : image_(folder_.File("disk.img")) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(sectors) * 512);
    for (uint32_t s = 0; s < sectors; ++s) bytes += PatternSector(s);
    WriteFileBytes(image_, bytes);
    receiver_.Open(image_);
    emulator::AttachEmulatedReceiver(&receiver_);
    SetLinkBackend(emulator::EmulatedLinkBackend());
    SetTransferBufferSize(kDefaultBufferSize);
    if (open_link) InitDevice();
}

EmulatedLink::~EmulatedLink() {
    SetTransferTimeoutMs(kTransferTimeoutMs);
    CloseUSBDrv();
    emulator::AttachEmulatedReceiver(nullptr);
}

std::string EmulatedLink::PatternSector(uint32_t sector) {
    std::string bytes(512, '\0');
    for (uint32_t i = 0; i < 512; ++i)
        bytes[i] = static_cast<char>((sector * 7 + i * 13) ^ (sector >> 8));
    std::snprintf(bytes.data(), 16, "sector %08u", sector);
    return bytes;
}

std::string EmulatedLink::ImageBytes(uint32_t first, uint32_t count) const {
    std::string bytes(static_cast<size_t>(count) * 512, '\0');
    const int fd = open(image_.c_str(), O_RDONLY);
    if (fd >= 0) {
        const ssize_t n = pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(first) * 512);
        if (n < 0) bytes.clear();
        close(fd);
    }
    return bytes;
}
