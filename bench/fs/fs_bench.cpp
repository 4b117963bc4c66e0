// Reading and writing 1 GiB through pcfm_read / pcfm_write over the bulk-only transport and
// the emulated receiver, side by side with positioned reads and writes of the same bytes of
// the image; and the bulk-only commands that mounting and listing a folder of 500 entries take.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "emulator/emulated_link_backend.h"
#include "emulator/emulated_receiver.h"
#include "emulator/image/receiver_image.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"

namespace {

constexpr uint64_t kFileBytes = 1ull << 30;
constexpr size_t kChunk = kDefaultBufferSize;
constexpr uint32_t kClusterBytes = 512u << 10;
constexpr uint64_t kDataStartBytes = (image::kImageFatStart + 256) * 512ull;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double MiBPerSecond(double seconds) {
    return kFileBytes / 1048576.0 / seconds;
}

}  // namespace

int main() {
    const std::string folder =
        std::filesystem::temp_directory_path() / ("tessel-fs-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string image_path = folder + "/bench.img";
    std::string error;
    if (!image::MakeReceiverImage(image_path, 2ull << 30, kClusterBytes, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    emulator::EmulatedReceiver receiver;
    receiver.Open(image_path);
    emulator::AttachEmulatedReceiver(&receiver);
    SetLinkBackend(emulator::EmulatedLinkBackend());
    SetTransferBufferSize(kDefaultBufferSize);
    if (InitDevice() != 1) return 1;
    pcfm_set_block_driver(&usb_block_driver);
    receiver.ResetCounters();
    if (OV_FILE_init() != 0) return 1;
    const uint64_t mount_commands = receiver.GetCounters().commands;

    std::vector<char> chunk(kChunk);
    for (size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<char>(i * 7 + 1);

    // The new file's chain is contiguous from cluster 1, so its bytes lie at one offset.
    auto start = std::chrono::steady_clock::now();
    pcfm_file* file = pcfm_open("C:\\bench.bin", "wb");
    for (uint64_t done = 0; done < kFileBytes; done += kChunk)
        if (pcfm_write(chunk.data(), 1, kChunk, file) != kChunk) return 1;
    pcfm_close(file);
    const double pcfm_write_seconds = Seconds(start);

    start = std::chrono::steady_clock::now();
    file = pcfm_open("C:\\bench.bin", "rb");
    for (uint64_t done = 0; done < kFileBytes; done += kChunk)
        if (pcfm_read(chunk.data(), 1, kChunk, file) != kChunk) return 1;
    pcfm_close(file);
    const double pcfm_read_seconds = Seconds(start);

    const int fd = open(image_path.c_str(), O_RDWR);
    const uint64_t file_offset = kDataStartBytes + kClusterBytes;
    start = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < kFileBytes; done += kChunk)
        if (pwrite(fd, chunk.data(), kChunk, static_cast<off_t>(file_offset + done)) !=
            static_cast<ssize_t>(kChunk))
            return 1;
    const double direct_write_seconds = Seconds(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < kFileBytes; done += kChunk)
        if (pread(fd, chunk.data(), kChunk, static_cast<off_t>(file_offset + done)) !=
            static_cast<ssize_t>(kChunk))
            return 1;
    const double direct_read_seconds = Seconds(start);
    close(fd);

    pcfm_mkdir("C:\\Five hundred");
    for (int i = 0; i < 498; ++i) {
        const std::string name = "C:\\Five hundred\\entry" + std::to_string(i);
        pcfm_close(pcfm_open(name.c_str(), "wb"));
    }
    pcfm_release();
    OV_FILE_init();
    receiver.ResetCounters();
    pcfm_file* listed = pcfm_open("C:\\Five hundred", "d");
    pcfm_dirent entry{};
    int entries = 0;
    for (entry.index = 0; pcfm_readdir(listed, &entry) == 0; ++entry.index) ++entries;
    pcfm_close(listed);
    const uint64_t list_commands = receiver.GetCounters().commands;

    std::printf(
        "1 GiB in %zu-byte chunks       pcfm over transport   positioned I/O   pcfm / positioned\n",
        kChunk);
    std::printf("write                          %8.1f MiB/s        %8.1f MiB/s   %5.2f\n",
                MiBPerSecond(pcfm_write_seconds), MiBPerSecond(direct_write_seconds),
                direct_write_seconds / pcfm_write_seconds);
    std::printf("read                           %8.1f MiB/s        %8.1f MiB/s   %5.2f\n",
                MiBPerSecond(pcfm_read_seconds), MiBPerSecond(direct_read_seconds),
                direct_read_seconds / pcfm_read_seconds);
    std::printf("bulk-only commands: mount %llu, listing %d entries %llu\n",
                static_cast<unsigned long long>(mount_commands), entries,
                static_cast<unsigned long long>(list_commands));
    pcfm_release();
    CloseUSBDrv();
    emulator::AttachEmulatedReceiver(nullptr);
    std::filesystem::remove_all(folder);
    return 0;
}
