#include "transfer/receiver_connection.h"

#include <cerrno>

#include "app/log.h"
#include "pvrdisk/link/link_backend.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "pvrdisk/transport/image_block_device.h"
#include "transfer/receiver_errors.h"

namespace {

ReceiverConnection* g_active = nullptr;

// Why an image or block device cannot be used, in words.
std::string ImageProblem(const std::string& path, bool read_only) {
    platform::PcFileInfo info;
    std::string error;
    if (!platform::InspectPcTarget(path, &info, &error)) return path + ": " + error;
    if (info.kind == platform::PcKind::kDirectory) return path + " is a folder, not a disk image";
    return "cannot open " + path + (read_only ? " for reading" : " for reading and writing") +
           ": " + platform::ErrorText(errno == 0 ? EACCES : errno);
}

}  // namespace

ReceiverConnection* ActiveReceiver() {
    return g_active;
}

ReceiverConnection::~ReceiverConnection() {
    Close();
}

bool ReceiverConnection::Open(const ReceiverConfig& config, std::string* error, bool mount) {
    LogScope scope("ReceiverConnection::Open", 1);
    Close();
    config_ = config;
    if (!config_.backing_file.empty()) platform::InspectPcTarget(config_.backing_file, &backing_);
    // Two runs on one disk would each keep their own table and overwrite each other's.
    const std::string locked = config_.backend == nullptr ? config_.image : config_.backing_file;
    if (!locked.empty()) {
        platform::PcFileInfo info;
        if (platform::InspectPcTarget(locked, &info) && info.kind != platform::PcKind::kDirectory &&
            !lock_.Take(locked, config_.read_only, error))
            return false;
    }
    if (config_.backend == nullptr) {
        errno = 0;
        platform::PcFileInfo info;
        if (platform::InspectPcTarget(config_.image, &info) &&
            info.kind == platform::PcKind::kDirectory) {
            *error = config_.image + " is a folder, not a disk image";
            return false;
        }
        if (!OpenBlockImage(config_.image, config_.read_only)) {
            *error = ImageProblem(config_.image, config_.read_only);
            return false;
        }
        image_open_ = true;
        if (config_.sectors == 0) config_.sectors = BlockImageSectorCount();
        if (config_.backing_file.empty()) platform::InspectPcTarget(config_.image, &backing_);
        pcfm_set_block_driver(&image_block_driver);
    } else {
        SetLinkBackend(*config_.backend);
        SetTransferBufferSize(config_.buffer_size);
        CreateTransferEvents();
        if (!InitDevice()) {
            CloseUSBDrv();
            *error =
                "the receiver does not answer: is it switched on and plugged in, and may this "
                "user open it (udev rule)?";
            return false;
        }
        linked_ = true;
        pcfm_set_block_driver(&usb_block_driver);
    }
    g_active = this;
    if (!mount) return true;
    const int mounted = Mount();
    if (mounted != 0) {
        *error = "the receiver's disk cannot be mounted: " + ReceiverErrorText(mounted) +
                 "; 'tessel check' tells what is wrong with it";
        return false;
    }
    return true;
}

int ReceiverConnection::Mount() {
    return OV_FILE_init();
}

void ReceiverConnection::Close() {
    if (g_active == this) g_active = nullptr;
    lock_.Release();
    if (!linked_ && !image_open_) return;
    pcfm_release();
    if (linked_) CloseUSBDrv();
    if (image_open_) CloseBlockImage();
    linked_ = image_open_ = false;
}

void ReceiverConnection::Reset() {
    if (linked_) ResetDevice(1);
}

bool ReceiverConnection::Reinitialise() {
    if (linked_) {
        if (!CheckDeviceAttached()) return false;
        Connect_ReopenPIPE();
        if (!ReadPipeOpen() || !WritePipeOpen()) return false;
    }
    pcfm_release();
    return OV_FILE_init() == 0;
}

const pcfm_blkdrv& ReceiverConnection::BlockDriver() const {
    return image_open_ ? image_block_driver : usb_block_driver;
}

bool ReceiverConnection::IsBackingFile(const platform::PcFileInfo& info) const {
    return platform::SameFile(info, backing_);
}

bool QueryReceiverSpace(const ReceiverConnection* connection, ReceiverSpace* space) {
    pcfm_file* root = pcfm_open("C:\\", "d");
    if (root == nullptr) return false;
    const uint64_t free_sectors = pcfm_free_space(root);
    const uint64_t cluster_kb = pcfm_total_space(root) / 65533;
    pcfm_close(root);
    space->free_bytes = free_sectors * 512;
    space->total_bytes = cluster_kb * 1024 * 65533;
    // On a disk smaller than the table's reach, the clusters past its end do not exist.
    const uint64_t sectors = connection != nullptr ? connection->SectorCount() : 0;
    if (sectors != 0 && sectors * 512 < space->total_bytes) space->total_bytes = sectors * 512;
    if (space->free_bytes > space->total_bytes) space->free_bytes = space->total_bytes;
    return true;
}
