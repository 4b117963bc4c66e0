// tessel: the receiver's disk from the command line.
#include <CLI/CLI.hpp>
#include <algorithm>
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
    if (cluster.empty()) cluster_bytes = image::SmallestClusterFor(request.bytes);
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

constexpr const char* kTesselVersion = TESSEL_VERSION;

// The exit codes, as --help and the man page show them.
constexpr const char* kExitCodes =
    "Exit status:\n"
    "  0    everything asked for was done\n"
    "  1    something asked for was not done (each item is named on standard error)\n"
    "  2    wrong usage (unknown subcommand or option, conflicting choices)\n"
    "  130  stopped by Ctrl+C; a partial target is kept, and the same command with --resume\n"
    "       resumes it\n";

constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Edit distance, for suggesting the subcommand a user meant.
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

int UsageError(const std::string& text) {
    std::fprintf(stderr, "tessel: %s\n", text.c_str());
    LogLine("Usage error: " + text, 1);
    return kExitUsage;
}

// The first word that is no option, skipping the values of the options that take one: the
// subcommand. Empty when there is none.
std::string SubcommandWord(int argc, char** argv) {
    static const std::vector<std::string> kWithValue = {
        "--device", "--emulate", "--emulate-fault", "--emulate-speed", "--image", "--wait"};
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return i + 1 < argc ? argv[i + 1] : "";
        if (std::find(kWithValue.begin(), kWithValue.end(), word) != kWithValue.end()) {
            ++i;
            continue;
        }
        if (!word.empty() && word[0] == '-') continue;
        return word;
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    platform::SetProfile(platform::MakeKeyFileProfileStore(platform::DefaultProfilePath()));
    StartLog();
    LogLine("Log-Level: " + FormatDec(GetLogLevel()), 1);

    CLI::App app{
        "tessel: browse and copy the disk of a digital-TV receiver over USB.\n"
        "Receiver paths are written C:\\FOLDER\\FILE (quote them in the shell).",
        "tessel"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", std::string("tessel ") + kTesselVersion);
    app.require_subcommand(1);
    // Options of the whole program may stand before or after the subcommand.
    app.fallthrough();
    DiskChoice disk;
    app.add_option("--device", disk.device,
                   "USB receiver by its ids VID:PID (default: the UsbDevice setting)");
    app.add_option(
        "--emulate", disk.emulate_image,
        "the emulated receiver over this image; every byte goes through the real transport");
    app.add_option("--emulate-fault", disk.emulate_fault,
                   "faults of the emulated receiver: unplug-at=COMMAND, unplug-after-bytes=N, "
                   "replug-after=MS, fail-transfer=N, latency=MS");
    app.add_option("--emulate-speed", disk.emulate_speed,
                   "usb2: the emulated receiver takes as long as a USB 2.0 link would (default: "
                   "as fast as it can)")
        ->check(CLI::IsMember({"usb2"}));
    app.add_option(
        "--image", disk.image,
        "a receiver disk image, or the disk itself (/dev/sdX), read and written directly");
    CopyOptions copy;
    bool yes_all = false, no_all = false, resume = false, yes = false;
    app.add_flag("--yes-all", yes_all, "overwrite every existing file without asking");
    app.add_flag("--no-all", no_all, "keep every existing file without asking");
    app.add_flag("--resume", resume,
                 "resume partial targets (shorter than the source), keep every other existing "
                 "file, without asking");
    app.add_option("--wait", copy.wait_seconds,
                   "seconds a copy waits for a receiver that went away (default: until it is "
                   "back or Ctrl+C)");
    bool no_space_check = false;
    bool no_overlap = false;
    // For benchmarks only, so it is not listed in the help.
    app.add_flag("--no-overlap", no_overlap,
                 "read or write the PC file only between the link's chunks")
        ->group("");
    app.add_flag("--no-space-check", no_space_check,
                 "copy even when the target's free space is smaller than the copy needs "
                 "(default: such a copy is refused before it begins)");
    app.add_flag("--verify", copy.verify,
                 "read each copied file back from its target and compare it with its source; "
                 "a difference fails the file (the copy is kept) and the exit status is 1");
    std::string folder = "C:\\", filter, target, new_name;
    std::vector<std::string> sources;
    auto* ls = app.add_subcommand("ls", "list a receiver folder with the pane's columns and sort");
    ls->add_option("folder", folder, "receiver folder (default C:\\)");
    ls->add_option("--filter", filter, "only files whose name or programme title holds this text");
    bool long_listing = false;
    ls->add_flag("-l,--long", long_listing,
                 "also the names as stored (recordings are shown without their NNN&& prefix)");
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
    auto* sync = app.add_subcommand(
        "sync",
        "keep a PC folder in step with a receiver folder's contents: new files copied, grown "
        "ones resumed, equal ones kept; a PC file that differs otherwise is kept and reported");
    std::string sync_source, sync_target;
    SyncOptions sync_options;
    sync->add_option("folder", sync_source, "receiver folder")->required();
    sync->add_option("pc_folder", sync_target, "PC folder")->required();
    sync->add_flag("--delete", sync_options.delete_gone,
                   "also delete the files a sync of this receiver folder copied earlier whose "
                   "source is gone, unless they changed since (sync's record is .tessel-sync in "
                   "the PC folder)");
    sync->add_flag("--dry-run", sync_options.dry_run,
                   "print what would be done (new, grown, equal, delete, ...) and change nothing");
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
    rm->add_flag("--yes,-y", yes, "delete folders with their contents without asking");
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
    auto* mount = app.add_subcommand(
        "mount",
        "the receiver's disk as a folder (FUSE), under the names a copy to the PC gives; "
        "read-only unless --rw; fusermount3 -u FOLDER or Ctrl+C unmounts and writes back");
    std::string mountpoint;
    bool read_write = false;
    mount->add_option("folder", mountpoint, "an empty folder to mount on")->required();
    mount->add_flag("--rw", read_write,
                    "also create, write, rename and delete (tm_shift.000 and jukebox are kept; "
                    "new names must be stored unchanged: printable ASCII, 32.3)");

    const std::string word = SubcommandWord(argc, argv);
    const auto subcommands = app.get_subcommands([](const CLI::App*) { return true; });
    const bool known = std::any_of(subcommands.begin(), subcommands.end(),
                                   [&](const CLI::App* sub) { return sub->get_name() == word; });
    if (!word.empty() && !known) {
        std::string closest;
        size_t best = 3;
        for (const CLI::App* sub : subcommands) {
            const size_t d = Distance(word, sub->get_name());
            if (d < best) best = d, closest = sub->get_name();
        }
        return UsageError("unknown subcommand '" + word + "'" +
                          (closest.empty() ? "" : "; did you mean '" + closest + "'?") +
                          " ('tessel --help' lists them)");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }
    // Sources first, the target folder last, as cp has them.
    if (get->parsed() || put->parsed() || mv->parsed()) {
        target = sources.back();
        sources.pop_back();
    }

    if (yes_all + no_all + resume > 1)
        return UsageError("--yes-all, --no-all and --resume exclude each other");
    if (!disk.image.empty() + !disk.emulate_image.empty() + !disk.device.empty() > 1)
        return UsageError("give one disk: --image, --emulate or --device");
    if (!disk.emulate_fault.empty() && disk.emulate_image.empty())
        return UsageError("--emulate-fault goes with --emulate");
    if (!disk.emulate_speed.empty() && disk.emulate_image.empty())
        return UsageError("--emulate-speed goes with --emulate");
    copy.policy = yes_all  ? OverwritePolicy::kYesAll
                  : no_all ? OverwritePolicy::kNoAll
                  : resume ? OverwritePolicy::kResume
                           : OverwritePolicy::kAsk;
    copy.check_space = !no_space_check;
    copy.overlap = !no_overlap;
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
    const bool read_only = check->parsed() || ls->parsed() || df->parsed() || get->parsed() ||
                           sync->parsed() || (mount->parsed() && !read_write);
    if (!connection.Open(disk, &error, !check->parsed(), read_only)) {
        std::fprintf(stderr, "tessel: %s\n", error.c_str());
        LogLine(error, 1);
        return connection.UsageProblem() ? kExitUsage : 1;
    }
    // The mount takes Ctrl+C itself: it unmounts and writes back.
    if (mount->parsed()) return MountReceiver(mountpoint, read_write);
    InstallStopHandler();
    if (check->parsed()) {
        const CheckReport report = CheckReceiverDisk(connection.Receiver().BlockDriver(),
                                                     connection.Receiver().SectorCount());
        std::fputs(Visible(FormatCheckReport(report), true).c_str(), stdout);
        return report.Clean() ? 0 : 1;
    }
    // Receiver paths are checked before anything is done.
    std::vector<std::string> receiver_paths;
    if (ls->parsed() || rename->parsed() || mkdir->parsed() || rmdir->parsed())
        receiver_paths = {folder};
    if (get->parsed() || mv->parsed() || epg->parsed() || rm->parsed()) receiver_paths = sources;
    if (sync->parsed()) receiver_paths = {sync_source};
    if (put->parsed() || mv->parsed()) receiver_paths.push_back(target);
    for (const std::string& path : receiver_paths)
        if (const std::string problem = ReceiverPathProblem(path); !problem.empty())
            return UsageError(problem);

    int status = kExitUsage;
    if (ls->parsed()) status = ListFolder(folder, filter, long_listing);
    if (get->parsed()) status = GetFiles(sources, target, copy);
    if (put->parsed()) status = PutFiles(sources, target, copy);
    if (sync->parsed()) status = SyncFolder(sync_source, sync_target, copy, sync_options);
    if (mv->parsed()) status = MoveEntries(sources, target, copy);
    if (rename->parsed()) status = RenameEntry(folder, new_name);
    if (epg->parsed()) status = EpgRename(sources);
    if (rm->parsed()) status = RemoveEntries(sources, yes);
    if (mkdir->parsed()) status = MakeFolder(folder);
    if (rmdir->parsed()) status = RemoveFolder(folder);
    if (df->parsed()) status = ShowFreeSpace();
    return StopRequested() && status != 0 ? kExitInterrupted : status;
}
