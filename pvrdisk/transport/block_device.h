// The block-device table through which the receiver's file system reaches the disk, in its
// slot order, and the block request it hands to it. Sectors are 512 bytes.
//
// Two tables exist: the bulk-only transport over the USB link (bulk_only_transport.h) and the
// direct table over an image file or block device (image_block_device.h). The file system
// runs on either unchanged.
#pragma once

#include <cstdint>

struct pcfm_dev;

inline constexpr uint32_t kSectorSize = 512;

struct pcfm_blkreq {
    pcfm_dev* device;             // the mount-table entry the request is for
    uint8_t* buffer;              // the caller's data, or null for the embedded sector
    uint16_t count;               // sectors; counted down as chunks complete
    uint8_t sector[kSectorSize];  // used when buffer is null
};

struct pcfm_blkdrv {
    // Open and close do nothing and return 0.
    int (*open)(pcfm_dev* device);
    int (*close)(pcfm_dev* device);
    // Reads or writes request->count sectors from `first_sector` through request->buffer, or
    // exactly one sector through request->sector when buffer is null. The buffer pointer and
    // the count are consumed in place: afterwards they point past the data and read zero.
    // 0 on success, 1 on a failed transfer (the rest of the request is then left undone).
    int (*read)(uint32_t first_sector, pcfm_blkreq* request);
    int (*write)(uint32_t first_sector, pcfm_blkreq* request);
    // Fills the receiver's time word and date word for a time stamp (FAT-style packing:
    // time = h << 11 | m << 5 | s / 2, date = (y - 1980) << 9 | month << 5 | day), local time.
    int (*get_time)(uint16_t* time_word, uint16_t* date_word);
    // Does nothing and returns 0.
    int (*control)(pcfm_dev* device, int code, void* argument);
};
