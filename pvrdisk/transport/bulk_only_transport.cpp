#include "pvrdisk/transport/bulk_only_transport.h"

#include <algorithm>
#include <cstring>

#include "app/log.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/image_block_device.h"

namespace {

constexpr uint32_t kCbwSize = 31;
constexpr uint32_t kCswSize = 13;
constexpr uint8_t kFlagsDataIn = 0x80;
constexpr uint8_t kFlagsDataOut = 0x00;
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpWrite10 = 0x2A;
constexpr uint8_t kCdbLength = 10;

// The command block wrapper, filled in place before every command; the bytes not set per
// command keep their first value for the whole run.
uint8_t g_cbw[kCbwSize] = {'U', 'S', 'B', 'C', 0x08, 0x18, 0x32, 0x85};
uint8_t g_csw[kCswSize] = {'U', 'S', 'B', 'S'};

uint32_t g_max_sectors = kDefaultBufferSize / kSectorSize;

void FillWrapper(uint8_t flags, uint8_t operation, uint32_t first_sector, uint16_t count) {
    uint8_t* cursor = g_cbw + 8;
    StoreLe32(cursor, static_cast<uint32_t>(count) * kSectorSize);
    g_cbw[12] = flags;
    g_cbw[14] = kCdbLength;
    g_cbw[15] = operation;
    cursor = g_cbw + 17;
    StoreBe32(cursor, first_sector);
    cursor = g_cbw + 22;
    StoreBe16(cursor, count);
}

uint32_t LoadLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

constexpr uint8_t kStatusPhaseError = 2;

enum class Outcome { kDone, kFailed, kOutOfStep };

// A command counts as done only with a 13-byte "USBS" wrapper of its own tag, status 0, no
// residue, and a data phase that moved every byte; anything else would leave stale bytes in
// the caller's buffer or data missing on the disk. A wrapper that is not valid or not
// meaningful, or a phase error, means host and device no longer agree where they stand: only
// reset recovery brings them back in step.
Outcome CheckStatus(uint32_t data_moved, uint32_t data_length, uint32_t status_received) {
    const bool wrapper_valid = status_received == kCswSize && std::memcmp(g_csw, "USBS", 4) == 0 &&
                               std::memcmp(g_csw + 4, g_cbw + 4, 4) == 0;
    const uint32_t residue = LoadLe32(g_csw + 8);
    if (wrapper_valid && g_csw[12] == 0 && residue == 0 && data_moved == data_length)
        return Outcome::kDone;
    LogLine("CSW_Command_buffer[0x0c] = 0x" + FormatHex2(g_csw[12]), 1);
    const bool meaningful =
        wrapper_valid && g_csw[12] <= kStatusPhaseError && residue <= data_length;
    if (!wrapper_valid) {
        LogLine("CSW is no valid status wrapper (" +
                    FormatDec(static_cast<int32_t>(status_received)) + " bytes)",
                1);
    } else if (!meaningful) {
        LogLine("CSW is not meaningful: status 0x" + FormatHex2(g_csw[12]) + ", residue " +
                    FormatDec(static_cast<int32_t>(residue)),
                1);
    } else if (g_csw[12] == kStatusPhaseError) {
        LogLine("CSW reports a phase error", 1);
    } else if (data_moved != data_length || residue != 0) {
        LogLine("Data phase incomplete: " + FormatDec(static_cast<int32_t>(data_moved)) + " of " +
                    FormatDec(static_cast<int32_t>(data_length)) + " bytes, residue " +
                    FormatDec(static_cast<int32_t>(residue)),
                1);
    }
    return meaningful && g_csw[12] != kStatusPhaseError ? Outcome::kFailed : Outcome::kOutOfStep;
}

int RunCommand(bool data_in, uint8_t* data, uint32_t first_sector, uint16_t count) {
    const uint32_t length = static_cast<uint32_t>(count) * kSectorSize;
    FillWrapper(data_in ? kFlagsDataIn : kFlagsDataOut, data_in ? kOpRead10 : kOpWrite10,
                first_sector, count);
    uint32_t transferred = 0;
    if (!UsbWrite(g_cbw, kCbwSize, &transferred)) {
        ResetDevice(0);
        return 1;
    }
    uint32_t data_moved = 0;
    if (data_in) {
        if (!UsbRead(data, length, &data_moved)) {
            ResetDevice(1);
            return 1;
        }
    } else if (!UsbWrite(data, length, &data_moved)) {
        ResetDevice(0);
        return 1;
    }
    // Stale bytes must not pass for a status: the buffer holds only what this read brings.
    std::memset(g_csw, 0, kCswSize);
    if (!UsbRead(g_csw, kCswSize, &transferred)) {
        ResetDevice(1);
        return 1;
    }
    switch (CheckStatus(data_moved, length, transferred)) {
        case Outcome::kDone:
            return 0;
        case Outcome::kFailed:
            return 1;
        case Outcome::kOutOfStep:
            ResetDevice(1);  // the reset device code is the bulk-only reset recovery
            return 1;
    }
    return 1;
}

int NoOp(pcfm_dev*) {
    return 0;
}
int NoControl(pcfm_dev*, int, void*) {
    return 0;
}

int Serve(bool data_in, uint32_t first_sector, pcfm_blkreq* request) {
    if (request->buffer == nullptr) return RunCommand(data_in, request->sector, first_sector, 1);
    while (request->count > 0) {
        const uint16_t chunk =
            static_cast<uint16_t>(std::min<uint32_t>(request->count, MaxSectorsPerCommand()));
        if (const int result = RunCommand(data_in, request->buffer, first_sector, chunk))
            return result;
        request->count = static_cast<uint16_t>(request->count - chunk);
        request->buffer += static_cast<size_t>(chunk) * kSectorSize;
        first_sector += chunk;
    }
    return 0;
}

int UsbBlockRead(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(true, first_sector, request);
}
int UsbBlockWrite(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(false, first_sector, request);
}

}  // namespace

int Read10(uint8_t* destination, uint32_t first_sector, uint16_t sector_count) {
    return RunCommand(true, destination, first_sector, sector_count);
}

int Write10(const uint8_t* source, uint32_t first_sector, uint16_t sector_count) {
    // The data phase only reads from the buffer.
    return RunCommand(false, const_cast<uint8_t*>(source), first_sector, sector_count);
}

const pcfm_blkdrv usb_block_driver = {
    .open = NoOp,
    .close = NoOp,
    .read = UsbBlockRead,
    .write = UsbBlockWrite,
    .get_time = GetReceiverTime,
    .control = NoControl,
};

uint32_t ClampTransferBufferSize(int32_t buffer_size) {
    // Below one sector no command could move anything; above the driver's limit it would fail.
    return static_cast<uint32_t>(std::clamp<int64_t>(buffer_size, kSectorSize, kMaxTransferBytes));
}

void SetTransferBufferSize(int32_t buffer_size) {
    g_max_sectors = ClampTransferBufferSize(buffer_size) / kSectorSize;
}

uint32_t MaxSectorsPerCommand() {
    return g_max_sectors;
}

void StoreLe32(uint8_t*& cursor, uint32_t value) {
    for (int i = 0; i < 4; ++i) *cursor++ = static_cast<uint8_t>(value >> (8 * i));
}

void StoreBe32(uint8_t*& cursor, uint32_t value) {
    for (int i = 3; i >= 0; --i) *cursor++ = static_cast<uint8_t>(value >> (8 * i));
}

void StoreBe16(uint8_t*& cursor, uint16_t value) {
    *cursor++ = static_cast<uint8_t>(value >> 8);
    *cursor++ = static_cast<uint8_t>(value);
}

uint16_t LoadLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

const uint8_t* LastCommandBlockWrapper() {
    return g_cbw;
}

const uint8_t* LastCommandStatusWrapper() {
    return g_csw;
}
