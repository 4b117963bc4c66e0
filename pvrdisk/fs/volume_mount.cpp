// The device table, the mount buffers, mounting and release.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/log.h"
#include "pvrdisk/fs/pcfm_internal.h"

int pcfm_errno = 0;

namespace {

// The transport moves 512-byte sectors; a directory needs a cluster of at least 32 KiB.
constexpr uint16_t kSupportedSectorBytes = 512;
constexpr uint32_t kMinSectorsPerCluster = kDirectoryBytes / kSupportedSectorBytes;
constexpr uint16_t kMinFatStart = 10;
constexpr uint8_t kDeviceMounted = 0x01;
constexpr uint8_t kDeviceReadsBootSector = 0x80;

bool g_first_init = true;
uint16_t* g_table = nullptr;
uint8_t* g_root = nullptr;
uint8_t* g_directory = nullptr;

pcfm_dev g_devices[2] = {
    {.name = "C",
     .unit = 0,
     .state = 0,
     .flags = 0x80,
     .driver = nullptr,
     .fileops = &pcfm_file_operations,
     .volume = {}},
    {.name = "D",
     .unit = 1,
     .state = 0,
     .flags = 0x81,
     .driver = nullptr,
     .fileops = &pcfm_file_operations,
     .volume = {}},
};

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void LogBootSectorDump(const uint8_t* sector) {
    for (int line = 0; line < 4; ++line) {
        char text[160];
        int used = std::snprintf(text, sizeof text, "   0x%04X: ", line * 16);
        for (int i = 0; i < 16; ++i) {
            const uint8_t byte = sector[line * 16 + i];
            const bool printable = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                                   (byte >= 'a' && byte <= 'z');
            used += std::snprintf(text + used, sizeof text - used, "%02X %c  ", byte,
                                  printable ? byte : '.');
        }
        LogLine(text, 3);
    }
}

uint16_t Load16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

void* pcfm_alloc(size_t bytes) {
    void* memory = std::calloc(1, bytes);
    if (memory == nullptr) pcfm_errno = EOUTOFMEM;
    return memory;
}

pcfm_dev* pcfm_device(int index) {
    return &g_devices[index];
}

int pcfm_find_device(const char* name) {
    for (int i = 0; i < 2; ++i)
        if (std::strcmp(g_devices[i].name, name) == 0) return i;
    return -1;
}

uint8_t* pcfm_directory_buffer() {
    return g_directory;
}

void pcfm_set_block_driver(const pcfm_blkdrv* driver) {
    for (pcfm_dev& device : g_devices) device.driver = driver;
}

int pcfm_get_bpb(pcfm_dev* device) {
    LogScope trace("pcfm_get_bpb", 3);
    if (device->driver == nullptr) return EDEVICE;
    auto* request = static_cast<pcfm_blkreq*>(pcfm_alloc(sizeof(pcfm_blkreq)));
    if (request == nullptr) return EOUTOFMEM;
    request->device = device;
    int result = 0;
    if (device->flags & kDeviceReadsBootSector) {
        request->buffer = nullptr;
        request->count = 1;
        result = device->driver->read(0, request);
        if (result != 0) {
            LogLine("devp->driver->read(bootsect) result: " + Hex8(result), 3);
            std::free(request);
            return result;
        }
    }
    const uint8_t* boot = request->sector;
    static const uint8_t kSignature[4] = {0x55, 0xAA, 0x55, 0xAA};
    if (std::memcmp(boot, kSignature, 4) != 0) {
        LogLine("Signature missing!", 3);
        LogBootSectorDump(boot);
        LogLine("Try to continue, maybe just missing and filesystem is ok otherwise.", 3);
    }
    const uint16_t bytes_per_sector = Load16(boot + 64);
    const uint16_t fat_start = Load16(boot + 66);
    const uint16_t table_sectors = Load16(boot + 68);
    const uint16_t sectors_per_cluster = Load16(boot + 70);
    std::free(request);
    if (bytes_per_sector == 0 || sectors_per_cluster == 0 || fat_start < kMinFatStart ||
        table_sectors != kTableSectors) {
        LogLine("status = EBADBPB, found invalid filesystem parameters", 3);
        return EBADBPB;
    }
    if (bytes_per_sector != kSupportedSectorBytes || sectors_per_cluster < kMinSectorsPerCluster) {
        LogLine("status = EBADBPB, sector or cluster size not supported", 3);
        return EBADBPB;
    }

    pcfm_volume& volume = device->volume;
    volume = {};
    pcfm_chains_changed();
    volume.sector_mask = bytes_per_sector - 1u;
    volume.table_count = 1;
    volume.fat_start = fat_start;
    volume.fat_start_as_read = fat_start;
    volume.data_start = fat_start + volume.table_count * kTableSectors;
    volume.rootdir_start = volume.data_start;
    volume.sectors_per_cluster = sectors_per_cluster;
    volume.end_of_chain = kEndOfChain;
    volume.highest_cluster = kHighestCluster;
    volume.table_sectors = kTableSectors;
    volume.root_cluster = 0;
    volume.cached_directory = kNoCachedDirectory;
    volume.bytes_per_sector = bytes_per_sector;
    volume.bytes_per_cluster = static_cast<uint32_t>(bytes_per_sector) * sectors_per_cluster;

    pcfm_blkreq bulk{};
    bulk.device = device;
    bulk.buffer = reinterpret_cast<uint8_t*>(g_table);
    bulk.count = kTableSectors;
    result = device->driver->read(volume.fat_start, &bulk);
    if (result != 0) {
        LogLine("devp->driver->read(fat_start) result: " + Hex8(result), 3);
        return result;
    }
    bulk.buffer = g_root;
    bulk.count = kDirectoryBytes / bytes_per_sector;
    result = device->driver->read(volume.rootdir_start, &bulk);
    if (result != 0) {
        LogLine("devp->driver->read(rootdir_start) result: " + Hex8(result), 3);
        return result;
    }
    device->state |= kDeviceMounted;
    volume.table = g_table;
    volume.root = g_root;
    return 0;
}

int OV_FILE_init() {
    LogScope trace("OV_FILE_init", 2);
    if (g_first_init) {
        LogLine("First_init", 3);
        g_table = static_cast<uint16_t*>(pcfm_alloc(kTableBufferBytes));
        g_root = static_cast<uint8_t*>(pcfm_alloc(kDirectoryBytes));
        g_directory = static_cast<uint8_t*>(pcfm_alloc(kDirectoryBytes));
        g_first_init = false;
    }
    int result;
    if (g_table == nullptr || g_root == nullptr || g_directory == nullptr) {
        LogLine("Program Error!!", 2);
        result = EOUTOFMEM;
    } else {
        // A failed remount must not leave the old mount usable over half-loaded buffers.
        g_devices[0].state &= static_cast<uint8_t>(~kDeviceMounted);
        result = pcfm_get_bpb(&g_devices[0]);
    }
    LogLine("returning status: " + Hex8(static_cast<uint32_t>(result)), 2);
    return result;
}

void pcfm_release() {
    pcfm_discard_all();
    for (pcfm_dev& device : g_devices) {
        device.state &= static_cast<uint8_t>(~kDeviceMounted);
        device.volume.table = nullptr;
        device.volume.root = nullptr;
    }
    std::free(g_table);
    std::free(g_root);
    std::free(g_directory);
    g_table = nullptr;
    g_root = nullptr;
    g_directory = nullptr;
    g_first_init = true;
}
