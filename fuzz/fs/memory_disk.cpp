#include "fuzz/fs/memory_disk.h"

#include <cstring>

namespace fuzzing {

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
uint64_t g_sector_limit = 0;
std::unordered_map<uint32_t, std::array<uint8_t, kSectorSize>> g_overlay;

void ReadOne(uint32_t sector, uint8_t* into) {
    const auto written = g_overlay.find(sector);
    if (written != g_overlay.end()) {
        std::memcpy(into, written->second.data(), kSectorSize);
        return;
    }
    const uint64_t offset = uint64_t{sector} * kSectorSize;
    std::memset(into, 0, kSectorSize);
    if (offset < g_size)
        std::memcpy(into, g_data + offset, std::min<uint64_t>(kSectorSize, g_size - offset));
}

int NoOp(pcfm_dev*) {
    return 0;
}
int NoControl(pcfm_dev*, int, void*) {
    return 0;
}
int FixedTime(uint16_t* time_word, uint16_t* date_word) {
    *time_word = 0;
    *date_word = 0x21;
    return 0;
}

int Serve(bool write, uint32_t first_sector, pcfm_blkreq* request) {
    const uint32_t count = request->buffer == nullptr ? 1 : request->count;
    if (uint64_t{first_sector} + count > g_sector_limit) return 1;
    uint8_t* buffer = request->buffer == nullptr ? request->sector : request->buffer;
    for (uint32_t i = 0; i < count; ++i) {
        if (write) {
            std::memcpy(g_overlay[first_sector + i].data(), buffer + size_t{i} * kSectorSize,
                        kSectorSize);
        } else {
            ReadOne(first_sector + i, buffer + size_t{i} * kSectorSize);
        }
    }
    if (request->buffer != nullptr) {
        request->buffer += size_t{count} * kSectorSize;
        request->count = 0;
    }
    return 0;
}

int Read(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(false, first_sector, request);
}
int Write(uint32_t first_sector, pcfm_blkreq* request) {
    return Serve(true, first_sector, request);
}

}  // namespace

void SetMemoryDisk(const uint8_t* data, size_t size, uint64_t sector_limit) {
    g_data = data;
    g_size = size;
    g_sector_limit = sector_limit;
    g_overlay.clear();
}

void ClearMemoryDisk() {
    SetMemoryDisk(nullptr, 0, 0);
}

const pcfm_blkdrv memory_block_driver = {
    .open = NoOp,
    .close = NoOp,
    .read = Read,
    .write = Write,
    .get_time = FixedTime,
    .control = NoControl,
};

}  // namespace fuzzing
