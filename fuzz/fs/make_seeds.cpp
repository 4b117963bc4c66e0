// Writes the seed corpus of the receiver-disk fuzzer: generated images, each cut after its
// last sector that is not zero (the fuzzer reads the rest as zeros).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "emulator/image/folder_filler.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "pvrdisk/pcfm.h"

namespace {

constexpr uint32_t kClusterBytes = 32768;

bool SaveTrimmed(const std::string& image, const std::string& seed) {
    const int fd = open(image.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::vector<uint8_t> bytes;
    uint8_t sector[512];
    uint64_t last_used = 0;
    for (uint64_t offset = 0;; offset += sizeof sector) {
        const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0) break;
        offset = static_cast<uint64_t>(data) / 512 * 512;
        if (pread(fd, sector, sizeof sector, static_cast<off_t>(offset)) != sizeof sector) break;
        for (uint8_t byte : sector)
            if (byte != 0) {
                last_used = offset + sizeof sector;
                break;
            }
    }
    bytes.resize(last_used);
    const bool ok = pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    close(fd);
    FILE* out = std::fopen(seed.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written && ok;
}

using Filler = bool (*)(std::string* error);

bool Empty(std::string*) {
    return true;
}

bool SmallTree(std::string* error) {
    return pcfm_mkdir("C:\\Recordings") == 0 && pcfm_mkdir("C:\\Recordings\\Old") == 0 &&
           pcfm_mkdir("C:\\jukebox") == 0 &&
           image::WriteReceiverFile("C:\\Recordings\\001&&News.TP0", std::string(1300, 'r'),
                                    error) &&
           image::WriteReceiverFile("C:\\Recordings\\Old\\a.ts", std::string(512, 'a'), error) &&
           image::WriteReceiverFile("C:\\tm_shift.000", std::string(70000, 't'), error) &&
           image::WriteReceiverFile("C:\\M\xE4rchen.txt", std::string(1, 'm'), error) &&
           image::WriteReceiverFile("C:\\zero", std::string(), error);
}

bool Fragmented(std::string* error) {
    // a and b interleave: a's chain jumps over b's cluster.
    pcfm_file* a = pcfm_open("C:\\a.bin", "wb");
    pcfm_file* b = pcfm_open("C:\\b.bin", "wb");
    const std::string block(kClusterBytes, 'x');
    const bool ok = pcfm_write(block.data(), 1, block.size(), a) == block.size() &&
                    pcfm_write(block.data(), 1, 100, b) == 100 &&
                    pcfm_write(block.data(), 1, 2000, a) == 2000;
    pcfm_close(a);
    pcfm_close(b);
    if (!ok) *error = "fragmented write failed";
    return ok && pcfm_remove("C:\\b.bin") == 0;
}

bool FullFolder(std::string* error) {
    if (pcfm_mkdir("C:\\Full") != 0) return false;
    for (int i = 0; i < 510; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "C:\\Full\\e%03d", i);
        if (!image::WriteReceiverFile(name, std::string(), error)) return false;
    }
    return true;
}

bool Recording(std::string* error) {
    return image::WriteReceiverFile("C:\\Film.TP0", image::MakeRecording("Sch\x02\x66\x01n"),
                                    error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);
    const std::string image_path = folder + "/.work.img";
    const struct {
        const char* name;
        Filler fill;
    } seeds[] = {{"empty", Empty},
                 {"small_tree", SmallTree},
                 {"fragmented", Fragmented},
                 {"full_folder", FullFolder},
                 {"recording", Recording}};
    for (const auto& seed : seeds) {
        std::string error;
        if (!image::MakeReceiverImage(image_path, image::MaxImageBytes(kClusterBytes),
                                      kClusterBytes, &error) ||
            image::MountReceiverImage(image_path) != 0 || !seed.fill(&error)) {
            std::fprintf(stderr, "seed %s: %s (%d)\n", seed.name, error.c_str(), pcfm_errno);
            return 1;
        }
        image::UnmountReceiverImage();
        if (!SaveTrimmed(image_path, folder + "/" + seed.name)) return 1;
    }
    std::filesystem::remove(image_path);
    return 0;
}
