// The block-device table over an image file or a block device (such as the receiver's disk
// attached as /dev/sdX), read and written directly with positioned I/O.
#pragma once

#include <cstdint>
#include <string>

#include "pvrdisk/transport/block_device.h"

extern const pcfm_blkdrv image_block_driver;

// Opens the image (read-write, or read-only when `read_only`) that image_block_driver serves;
// closes any image opened before. False with errno set when it cannot be opened.
bool OpenBlockImage(const std::string& path, bool read_only);
void CloseBlockImage();
// Sectors in the open image (its size truncated to whole sectors); 0 when none is open.
uint64_t BlockImageSectorCount();

// The local time as the receiver's time and date words; the get_time slot of both tables.
int GetReceiverTime(uint16_t* time_word, uint16_t* date_word);
