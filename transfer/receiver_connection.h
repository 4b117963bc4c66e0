// The connection to the receiver's disk: the link (over the backend the configuration names),
// the transport, and the mounted file system, owned together so that bringing them up and
// bringing them back after a lost link is one call each. Either over USB (any link backend:
// libusb, the driver's pipes, the emulated receiver) or straight to an image or block device.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_lock.h"
#include "platform/pc_files.h"

struct LinkBackend;
struct pcfm_blkdrv;

struct ReceiverConfig {
    // The receiver over USB through this backend, or, when null, the disk image or block
    // device `image` read and written directly.
    const LinkBackend* backend = nullptr;
    std::string image;
    bool read_only = false;
    // The PC file that holds the disk (an image, also one the emulated receiver serves); a
    // transfer never reads from it or writes to it as a PC file.
    std::string backing_file;
    // The disk's size in sectors when the caller knows it (0: unknown).
    uint64_t sectors = 0;
    // The transfer buffer size (the setting "BufferSize").
    int32_t buffer_size = 65536;
};

class ReceiverConnection {
  public:
    ReceiverConnection() = default;
    ~ReceiverConnection();
    ReceiverConnection(const ReceiverConnection&) = delete;
    ReceiverConnection& operator=(const ReceiverConnection&) = delete;

    // Brings the link up and, when `mount`, mounts the disk. False with a message that says
    // what to do. The connection becomes the active one (ActiveReceiver).
    bool Open(const ReceiverConfig& config, std::string* error, bool mount = true);
    // Mounts the disk: 0 or the file system's error code.
    int Mount();
    // Lets go of the disk and the link.
    void Close();

    // The steps of a reconnection after a lost link. Reset cancels and resets the failed
    // link. Reinitialise reopens the pipes when the receiver is there and mounts the disk
    // afresh: whatever the file system held in memory from before (the table, entries of open
    // handles) is dropped unwritten and read again, since the receiver may have changed its
    // disk meanwhile. Streams over the link must have been abandoned first.
    void Reset();
    bool Reinitialise();

    // The block-device table the disk is reached through (for the consistency check).
    const pcfm_blkdrv& BlockDriver() const;
    uint64_t SectorCount() const { return config_.sectors; }
    bool Direct() const { return config_.backend == nullptr; }
    // Whether `info` names the PC file that holds the disk.
    bool IsBackingFile(const platform::PcFileInfo& info) const;

  private:
    ReceiverConfig config_;
    platform::PcFileInfo backing_;
    // The image (or the file the emulated receiver serves) is locked while it is in use.
    platform::FileLock lock_;
    bool linked_ = false;
    bool image_open_ = false;
};

// The connection transfers reconnect through; null when none is open.
ReceiverConnection* ActiveReceiver();

// Free and total bytes of the mounted disk: free clusters, and the clusters the table
// reaches, both within the disk's end when its size is known.
struct ReceiverSpace {
    uint64_t free_bytes = 0;
    uint64_t total_bytes = 0;
};
bool QueryReceiverSpace(const ReceiverConnection* connection, ReceiverSpace* space);
