// tessel: the receiver's disk from the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "app/log.h"
#include "cli/commands.h"
#include "cli/disk_connection.h"
#include "emulator/image/image_creation.h"
#include "emulator/image/receiver_image.h"
#include "platform/profile_store.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/link/libusb_link_backend.h"
#include "transfer/receiver_errors.h"

namespace {

bool ParseBytes(const std::string& text, uint64_t* bytes) {
    char* end = nullptr;
    uint64_t value = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str()) return false;
    const std::string unit = end;
    if (unit == "K" || unit == "k")
        value <<= 10;
    else if (unit == "M" || unit == "m")
        value <<= 20;
    else if (unit == "G" || unit == "g")
        value <<= 30;
    else if (!unit.empty())
        return false;
    *bytes = value;
    return true;
}

int MakeImage(const std::string& path, const std::string& size, const std::string& cluster,
              image::ImageContent content, const std::string& from, bool force) {
    image::ImageRequest request;
    request.path = path;
    request.replace = force;
    request.content = content;
    request.from = from;
    uint64_t cluster_bytes = 0;
    if (!ParseBytes(size, &request.bytes) ||
        (!cluster.empty() && !ParseBytes(cluster, &cluster_bytes))) {
        std::fprintf(stderr, "tessel: sizes are numbers of bytes, or with K, M or G\n");
        return 2;
    }
    // Without a cluster size the smallest that lets the table reach the end of the disk.
    if (cluster.empty())
        for (cluster_bytes = image::kMinClusterBytes;
             cluster_bytes < (64u << 20) && image::MaxImageBytes(cluster_bytes) < request.bytes;)
            cluster_bytes *= 2;
    request.cluster_bytes = static_cast<uint32_t>(cluster_bytes);
    const image::ImageResult made = image::CreateImage(request);
    if (!made.ok) {
        std::fprintf(stderr, "tessel: cannot make %s: %s%s\n", path.c_str(), made.error.c_str(),
                     made.existed ? " (give --force to replace it)" : "");
        return 1;
    }
    if (content == image::ImageContent::kFolder)
        std::printf("%llu files and %llu folders copied from %s\n",
                    static_cast<unsigned long long>(made.files),
                    static_cast<unsigned long long>(made.folders), from.c_str());
    std::printf("%s: receiver disk of %s with clusters of %llu K\n", path.c_str(), size.c_str(),
                static_cast<unsigned long long>(cluster_bytes >> 10));
    return 0;
}

int ListDevices() {
    const auto devices = ListUsbMassStorageDevices();
    if (devices.empty()) std::printf("No USB mass-storage device found.\n");
    for (const auto& d : devices)
        std::printf("%04x:%04x  bus %03u device %03u  %s\n", d.id.vendor, d.id.product, d.bus,
                    d.address, d.description.c_str());
    std::printf("Give the receiver's ids with --device VID:PID, or set UsbDevice in %s\n",
                platform::DefaultProfilePath().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    platform::SetProfile(platform::MakeKeyFileProfileStore(platform::DefaultProfilePath()));
    StartLog();
    LogLine("Log-Level: " + FormatDec(GetLogLevel()), 1);

    CLI::App app{
        "tessel: browse and copy the disk of a digital-TV receiver over USB.\n"
        "Receiver paths are written C:\\FOLDER\\FILE (quote them in the shell)."};
    app.require_subcommand(1);
    DiskChoice disk;
    app.add_option("--device", disk.device,
                   "USB receiver by its ids VID:PID (default: the UsbDevice setting)");
    app.add_option(
        "--emulate", disk.emulate_image,
        "the emulated receiver over this image; every byte goes through the real transport");
    app.add_option("--emulate-fault", disk.emulate_fault,
                   "faults of the emulated receiver: unplug-at=COMMAND, unplug-after-bytes=N, "
                   "replug-after=MS, fail-transfer=N, latency=MS");
    app.add_option(
        "--image", disk.image,
        "a receiver disk image, or the disk itself (/dev/sdX), read and written directly");
    CopyOptions copy;
    bool yes_all = false, no_all = false;
    app.add_flag("--yes-all", yes_all, "overwrite every existing file without asking");
    app.add_flag("--no-all", no_all, "keep every existing file without asking");
    app.add_option("--wait", copy.wait_seconds,
                   "seconds a copy waits for a receiver that went away (default: until it is "
                   "back or Ctrl+C)");

    std::string folder = "C:\\", filter, target, new_name;
    std::vector<std::string> sources;
    auto* ls = app.add_subcommand("ls", "list a receiver folder with the pane's columns and sort");
    ls->add_option("folder", folder, "receiver folder (default C:\\)");
    ls->add_option("--filter", filter, "only files whose name or programme title holds this text");
    auto* get = app.add_subcommand(
        "get", "copy receiver files and folders to a PC folder (resumes partial copies)");
    get->add_option("paths", sources, "receiver files and folders, then the PC folder")
        ->required()
        ->expected(2, -1);
    auto* put = app.add_subcommand(
        "put", "copy PC files and folders to a receiver folder (resumes partial copies)");
    put->add_option("paths", sources, "PC files and folders, then the receiver folder")
        ->required()
        ->expected(2, -1);
    auto* mv = app.add_subcommand("mv", "move receiver files into another receiver folder");
    mv->add_option("paths", sources, "receiver files, then the receiver folder")
        ->required()
        ->expected(2, -1);
    auto* rename = app.add_subcommand("rename", "rename a receiver file or folder");
    rename->add_option("path", folder, "receiver path")->required();
    rename->add_option("name", new_name, "new name")->required();
    auto* epg = app.add_subcommand(
        "epg-rename", "rename recordings (.TP0) after the programme title stored in them");
    epg->add_option("paths", sources, "receiver recordings and folders")->required();
    auto* rm = app.add_subcommand(
        "rm", "delete receiver files and folders (tm_shift.000 and jukebox are protected)");
    rm->add_option("paths", sources, "receiver files and folders")->required();
    auto* mkdir = app.add_subcommand("mkdir", "make a receiver folder");
    mkdir->add_option("path", folder, "receiver folder")->required();
    auto* rmdir = app.add_subcommand("rmdir", "remove an empty receiver folder");
    rmdir->add_option("path", folder, "receiver folder")->required();
    auto* df = app.add_subcommand("df", "free and total space of the receiver's disk");
    auto* check = app.add_subcommand(
        "check", "check the receiver's disk for damage (read only); exit status 1 when damaged");
    auto* mkimage = app.add_subcommand("mkimage", "make a receiver disk image (sparse)");
    std::string image_path, size = "8G", cluster, from;
    bool sample = false, force = false, hostile = false;
    mkimage->add_option("file", image_path, "image file")->required();
    mkimage->add_option("--size", size, "size in bytes, or with K, M or G (default 8G)");
    mkimage->add_option(
        "--cluster", cluster,
        "cluster size, at least 32K (default: the smallest whose table covers the size)");
    mkimage->add_flag("--sample", sample, "fill it with generated sample recordings and folders");
    mkimage->add_option("--from", from, "fill it from a PC folder");
    mkimage->add_flag("--force", force, "replace an existing file");
    mkimage->add_flag("--hostile", hostile,
                      "fill it with damaged chains, awkward names and folder loops (for "
                      "testing; the size must leave clusters beyond the disk, as 64M does)");
    auto* devices =
        app.add_subcommand("devices", "list USB mass-storage devices with their VID:PID");
    CLI11_PARSE(app, argc, argv);
    // Sources first, the target folder last, as cp has them.
    if (get->parsed() || put->parsed() || mv->parsed()) {
        target = sources.back();
        sources.pop_back();
    }

    if (yes_all && no_all) {
        std::fprintf(stderr, "tessel: --yes-all and --no-all exclude each other\n");
        return 2;
    }
    copy.policy = yes_all  ? OverwritePolicy::kYesAll
                  : no_all ? OverwritePolicy::kNoAll
                           : OverwritePolicy::kAsk;
    if (mkimage->parsed()) {
        if (sample + hostile + !from.empty() > 1) {
            std::fprintf(stderr, "tessel: --sample, --hostile and --from exclude each other\n");
            return 2;
        }
        const image::ImageContent content = sample          ? image::ImageContent::kSample
                                            : hostile       ? image::ImageContent::kHostile
                                            : !from.empty() ? image::ImageContent::kFolder
                                                            : image::ImageContent::kEmpty;
        return MakeImage(image_path, size, cluster, content, from, force);
    }
    if (devices->parsed()) return ListDevices();

    DiskConnection connection;
    std::string error;
    // Commands that only read open an image for reading only.
    const bool read_only = check->parsed() || ls->parsed() || df->parsed() || get->parsed();
    if (!connection.Open(disk, &error, !check->parsed(), read_only)) {
        std::fprintf(stderr, "tessel: %s\n", error.c_str());
        return 1;
    }
    InstallStopHandler();
    if (check->parsed()) {
        const CheckReport report = CheckReceiverDisk(connection.Receiver().BlockDriver(),
                                                     connection.Receiver().SectorCount());
        std::fputs(FormatCheckReport(report).c_str(), stdout);
        return report.Clean() ? 0 : 1;
    }
    if (ls->parsed()) return ListFolder(folder, filter);
    if (get->parsed()) return GetFiles(sources, target, copy);
    if (put->parsed()) return PutFiles(sources, target, copy);
    if (mv->parsed()) return MoveEntries(sources, target, copy);
    if (rename->parsed()) return RenameEntry(folder, new_name);
    if (epg->parsed()) return EpgRename(sources);
    if (rm->parsed()) return RemoveEntries(sources);
    if (mkdir->parsed()) return MakeFolder(folder);
    if (rmdir->parsed()) return RemoveFolder(folder);
    if (df->parsed()) return ShowFreeSpace();
    return 2;
}
