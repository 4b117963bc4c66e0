// Sequential reading of a 256 MiB range of an image: through the bulk-only transport, the
// link and the emulated receiver, against positioned reads of the same range of the same
// image, measured side by side in one run at two transfer buffer sizes.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator/emulated_link_backend.h"
#include "emulator/emulated_receiver.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"

namespace {

constexpr uint64_t kRangeBytes = 256ull << 20;
constexpr uint32_t kRequestSectors = 4096;  // 2 MiB per block request, as large file reads do

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double ReadThroughTransport(std::vector<uint8_t>& buffer) {
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t sector = 0; sector < kRangeBytes / 512; sector += kRequestSectors) {
        pcfm_blkreq request{};
        request.buffer = buffer.data();
        request.count = kRequestSectors;
        if (usb_block_driver.read(sector, &request) != 0) {
            std::fprintf(stderr, "transport read failed at sector %u\n", sector);
            std::exit(1);
        }
    }
    return Seconds(start);
}

double ReadPositioned(int fd, std::vector<uint8_t>& buffer) {
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kRangeBytes; offset += buffer.size()) {
        if (pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(buffer.size())) {
            std::perror("pread");
            std::exit(1);
        }
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string image = argc > 1 ? argv[1] : "/tmp/tessel-link-bench.img";
    {
        // Real bytes, not a sparse file: both sides then read the same cached pages.
        const int fd = open(image.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        std::vector<uint8_t> block(1 << 20);
        for (uint64_t mib = 0; mib < kRangeBytes >> 20; ++mib) {
            for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 31 + mib);
            if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                std::perror("write");
                return 1;
            }
        }
        close(fd);
    }
    emulator::EmulatedReceiver receiver;
    if (!receiver.Open(image)) return 1;
    emulator::AttachEmulatedReceiver(&receiver);
    SetLinkBackend(emulator::EmulatedLinkBackend());
    if (!InitDevice()) return 1;
    const int fd = open(image.c_str(), O_RDONLY);
    std::vector<uint8_t> buffer(kRequestSectors * 512);

    std::printf("Sequential read of %llu MiB, %u-sector requests\n",
                static_cast<unsigned long long>(kRangeBytes >> 20), kRequestSectors);
    std::printf("%-10s %14s %14s %8s %10s %16s\n", "BufferSize", "transport MiB/s", "pread MiB/s",
                "ratio", "commands", "USB 2.0 model MiB/s");
    ReadPositioned(fd, buffer);  // warm the page cache for both
    for (int32_t buffer_size : {64 * 1024, 512 * 1024}) {
        SetTransferBufferSize(buffer_size);
        receiver.ResetCounters();
        const double transport = ReadThroughTransport(buffer);
        const emulator::Counters counters = receiver.GetCounters();
        const double positioned = ReadPositioned(fd, buffer);
        const double mib = static_cast<double>(kRangeBytes >> 20);
        std::printf("%-10d %14.1f %14.1f %8.3f %10llu %16.1f\n", buffer_size, mib / transport,
                    mib / positioned, positioned / transport,
                    static_cast<unsigned long long>(counters.commands),
                    mib / counters.modeled_seconds);
    }
    std::printf(
        "ratio = transport speed / pread speed; the model column is what the same "
        "commands would take on a USB 2.0 high-speed link.\n");
    close(fd);
    CloseUSBDrv();
    unlink(image.c_str());
    return 0;
}
