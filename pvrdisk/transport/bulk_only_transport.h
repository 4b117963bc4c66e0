// SCSI READ(10) and WRITE(10) as Bulk-Only Transport commands over the USB link: a 31-byte
// command block wrapper on the bulk-out pipe, the data phase, a 13-byte status wrapper on the
// bulk-in pipe. Commands are issued one at a time, each with its three phases in order.
#pragma once

#include <cstdint>

#include "pvrdisk/transport/block_device.h"

// 0 done, 1 transport failure (the link has been reset) or a failed command status.
int Read10(uint8_t* destination, uint32_t first_sector, uint16_t sector_count);
int Write10(const uint8_t* source, uint32_t first_sector, uint16_t sector_count);

// The block-device table over these commands; requests are split into commands of at most
// MaxSectorsPerCommand() sectors.
extern const pcfm_blkdrv usb_block_driver;

// Sets the size of one transfer block from the `BufferSize` setting, held within one sector
// and the driver's 524 288-byte limit. Read when the main dialog starts and after the settings
// dialog is confirmed.
void SetTransferBufferSize(int32_t buffer_size);
uint32_t MaxSectorsPerCommand();
// The setting held within its limits, in bytes (the copy engine sizes its chunks with it).
uint32_t ClampTransferBufferSize(int32_t buffer_size);

inline constexpr uint32_t kDefaultBufferSize = 65536;
inline constexpr uint32_t kMaxTransferBytes = 0x80000;  // the driver's limit per transfer

// Byte-order routines that fill the wrappers at a cursor and advance it, and the companion
// load for parsing.
void StoreLe32(uint8_t*& cursor, uint32_t value);
void StoreBe32(uint8_t*& cursor, uint32_t value);
void StoreBe16(uint8_t*& cursor, uint16_t value);
uint16_t LoadLe16(const uint8_t* bytes);

// The wrappers as the last command left them, for tests and diagnostics.
const uint8_t* LastCommandBlockWrapper();   // 31 bytes
const uint8_t* LastCommandStatusWrapper();  // 13 bytes
