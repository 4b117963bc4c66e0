// tessel_image: makes, fills, lists and checks receiver disk images.
//
//   tessel_image make IMAGE SIZE CLUSTER     sizes in bytes, or with K, M or G
//   tessel_image fill IMAGE FOLDER [TARGET]  copies a PC folder tree to TARGET (default C:\)
//   tessel_image sample IMAGE [--big] [--huge]
//   tessel_image hostile IMAGE               a new image of damaged and awkward entries
//   tessel_image list IMAGE [FOLDER]
//   tessel_image check IMAGE                 exit status 0 clean, 1 damaged, 2 unusable
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/image/folder_filler.h"
#include "emulator/image/hostile_image.h"
#include "emulator/image/image_creation.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "platform/text.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/image_block_device.h"

namespace {

bool ParseSize(const char* text, uint64_t* bytes) {
    char* end = nullptr;
    uint64_t value = std::strtoull(text, &end, 10);
    if (end == text) return false;
    switch (*end) {
        case 'K':
        case 'k':
            value <<= 10;
            ++end;
            break;
        case 'M':
        case 'm':
            value <<= 20;
            ++end;
            break;
        case 'G':
        case 'g':
            value <<= 30;
            ++end;
            break;
        default:
            break;
    }
    *bytes = value;
    return *end == 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessel_image make IMAGE SIZE CLUSTER\n"
                 "       tessel_image fill IMAGE FOLDER [TARGET]\n"
                 "       tessel_image sample IMAGE [--big] [--huge]\n"
                 "       tessel_image hostile IMAGE\n"
                 "       tessel_image list IMAGE [FOLDER]\n"
                 "       tessel_image check IMAGE\n");
    return 2;
}

bool Mount(const std::string& image) {
    const int result = image::MountReceiverImage(image);
    if (result == 0) return true;
    std::fprintf(stderr, "cannot mount %s: error %d\n", image.c_str(), result);
    return false;
}

int Check(const std::string& image) {
    if (!OpenBlockImage(image, true)) {
        std::fprintf(stderr, "cannot open %s\n", image.c_str());
        return 2;
    }
    const CheckReport report = CheckReceiverDisk(image_block_driver, BlockImageSectorCount());
    CloseBlockImage();
    std::fputs(FormatCheckReport(report).c_str(), stdout);
    return report.Clean() ? 0 : 1;
}

int List(const std::string& image, const std::string& folder) {
    if (!Mount(image)) return 2;
    pcfm_file* directory = pcfm_open(folder.c_str(), "d");
    if (directory == nullptr) {
        std::fprintf(stderr, "cannot open %s: error %d\n", folder.c_str(), pcfm_errno);
        image::UnmountReceiverImage();
        return 1;
    }
    pcfm_dirent entry{};
    for (entry.index = 0; pcfm_readdir(directory, &entry) == 0; ++entry.index) {
        const uint64_t size = uint64_t{entry.size_high} << 32 | entry.size_low;
        std::string name = entry.name;
        if (entry.extension[0] != 0) name += std::string(".") + entry.extension;
        std::printf("%04u-%02u-%02u %02u:%02u:%02u %s %14llu %s\n", entry.year, entry.month,
                    entry.day, entry.hour, entry.minute, entry.second,
                    (entry.attributes & kAttrDirectory) ? "<DIR>" : "     ",
                    static_cast<unsigned long long>(size), platform::Cp1252ToUtf8(name).c_str());
    }
    std::printf("%u MiB free\n", pcfm_free_space(directory) / 2048);
    pcfm_close(directory);
    image::UnmountReceiverImage();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const std::string image_path = argv[2];
    if (command == "make" && argc == 5) {
        uint64_t size = 0;
        uint64_t cluster = 0;
        if (!ParseSize(argv[3], &size) || !ParseSize(argv[4], &cluster) || cluster > UINT32_MAX)
            return Usage();
        std::string error;
        if (!image::MakeReceiverImage(image_path, size, static_cast<uint32_t>(cluster), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (command == "fill" && (argc == 4 || argc == 5)) {
        if (!Mount(image_path)) return 2;
        const image::FillResult result =
            image::FillFromFolder(argv[3], argc == 5 ? platform::Utf8ToCp1252(argv[4]) : "C:\\");
        image::UnmountReceiverImage();
        std::printf("%llu files, %llu folders, %llu bytes\n",
                    static_cast<unsigned long long>(result.files),
                    static_cast<unsigned long long>(result.folders),
                    static_cast<unsigned long long>(result.bytes));
        if (!result.ok) std::fprintf(stderr, "%s\n", result.error.c_str());
        return result.ok ? 0 : 1;
    }
    if (command == "sample") {
        image::SampleOptions options;
        bool huge = false;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--big") == 0)
                options.big_recording = true;
            else if (std::strcmp(argv[i], "--huge") == 0)
                huge = true;
            else
                return Usage();
        }
        if (!Mount(image_path)) return 2;
        if (huge) {
            // What is left after the rest, less a margin, and below the 32 GiB file limit.
            pcfm_file* root = pcfm_open("C:\\", "d");
            const uint64_t free_bytes = uint64_t{pcfm_free_space(root)} * 512;
            pcfm_close(root);
            const uint64_t reserve =
                (options.big_recording ? image::kBigRecordingBytes : 0) + (512ull << 20);
            const uint64_t limit = (1ull << 35) - (1ull << 20);
            options.huge_recording_bytes =
                free_bytes > reserve ? std::min(free_bytes - reserve, limit) : 0;
        }
        std::string error;
        const bool ok = image::FillSampleContent(options, &error);
        image::UnmountReceiverImage();
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
        return ok ? 0 : 1;
    }
    if (command == "hostile" && argc == 3) {
        image::ImageRequest request;
        request.path = image_path;
        request.bytes = image::kHostileImageBytes;
        request.cluster_bytes = image::kHostileClusterBytes;
        request.content = image::ImageContent::kHostile;
        const image::ImageResult made = image::CreateImage(request);
        if (!made.ok) std::fprintf(stderr, "%s\n", made.error.c_str());
        return made.ok ? 0 : 1;
    }
    if (command == "list" && (argc == 3 || argc == 4))
        return List(image_path, argc == 4 ? platform::Utf8ToCp1252(argv[3]) : "C:\\");
    if (command == "check" && argc == 3) return Check(image_path);
    return Usage();
}
