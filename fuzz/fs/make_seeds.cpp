// Writes the seed corpus of the receiver-disk fuzzer: generated images in their compact form
// (compact_disk.h), file clusters cut to their first kFileClusterCut bytes.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "emulator/image/folder_filler.h"
#include "emulator/image/hostile_image.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "fuzz/fs/compact_disk.h"
#include "pvrdisk/pcfm.h"

namespace {

constexpr uint32_t kClusterBytes = 32768;
constexpr size_t kFileClusterCut = 1024;

bool SaveCompact(const std::string& image, size_t cluster_cut, const std::string& seed) {
    std::vector<uint8_t> compact;
    if (!fuzzing::EncodeCompactDisk(image, cluster_cut, &compact)) return false;
    FILE* out = std::fopen(seed.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(compact.data(), 1, compact.size(), out) == compact.size();
    return std::fclose(out) == 0 && written;
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
        size_t cluster_cut;  // the full folder needs all of its cluster
    } seeds[] = {
        {"empty", Empty, kFileClusterCut},           {"small_tree", SmallTree, kFileClusterCut},
        {"fragmented", Fragmented, kFileClusterCut}, {"full_folder", FullFolder, kClusterBytes},
        {"recording", Recording, kFileClusterCut},   {"hostile", nullptr, kFileClusterCut}};
    for (const auto& seed : seeds) {
        std::string error;
        bool ok = image::MakeReceiverImage(image_path, image::MaxImageBytes(kClusterBytes),
                                           kClusterBytes, &error);
        if (ok && seed.fill == nullptr) {
            ok = image::FillHostileContent(image_path, &error);
        } else if (ok) {
            ok = image::MountReceiverImage(image_path) == 0 && seed.fill(&error);
            image::UnmountReceiverImage();
        }
        if (!ok) {
            std::fprintf(stderr, "seed %s: %s (%d)\n", seed.name, error.c_str(), pcfm_errno);
            return 1;
        }
        if (!SaveCompact(image_path, seed.cluster_cut, folder + "/" + seed.name)) return 1;
    }
    std::filesystem::remove(image_path);
    return 0;
}
