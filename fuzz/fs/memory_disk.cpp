#include "fuzz/fs/memory_disk.h"

#include <array>
#include <cstring>
#include <memory>

namespace fuzzing {

namespace {

// The first sectors (where the boot sector, the table and the first clusters of a small disk
// lie) are held in place, the rest by open addressing over a fixed table. A sector belongs to
// the current disk only when its stamp is the current one, so that a reset is one increment.
constexpr uint32_t kDirectSectors = 1 << 16;
constexpr uint32_t kSlots = 1 << 15;
constexpr uint32_t kMaxSectors = 1 << 14;

struct Slot {
    uint32_t stamp;
    uint32_t sector;
    uint32_t index;  // into the sector store
};

// The sector arrays are left uninitialised: a sector is read only once its stamp says it was
// put or written, so their pages are touched only as the disk uses them.
struct Store {
    std::array<uint32_t, kDirectSectors> direct_stamps{};
    std::array<std::array<uint8_t, kSectorSize>, kDirectSectors> direct;
    std::array<Slot, kSlots> slots{};
    std::array<std::array<uint8_t, kSectorSize>, kMaxSectors> sectors;
    uint32_t used = 0;
    uint32_t stamp = 1;
    uint64_t limit = 0;
};

Store& TheStore() {
    static const std::unique_ptr<Store> store(new Store);
    return *store;
}

uint32_t Hash(uint32_t sector) {
    return (sector * 2654435761u) >> 17;
}

uint8_t* Find(uint32_t sector) {
    Store& store = TheStore();
    if (sector < kDirectSectors)
        return store.direct_stamps[sector] == store.stamp ? store.direct[sector].data() : nullptr;
    for (uint32_t slot = Hash(sector);; slot = (slot + 1) % kSlots) {
        const Slot& entry = store.slots[slot];
        if (entry.stamp != store.stamp) return nullptr;
        if (entry.sector == sector) return store.sectors[entry.index].data();
    }
}

uint8_t* FindOrAdd(uint32_t sector) {
    Store& store = TheStore();
    if (sector < kDirectSectors) {
        uint8_t* data = store.direct[sector].data();
        if (store.direct_stamps[sector] != store.stamp) {
            store.direct_stamps[sector] = store.stamp;
            std::memset(data, 0, kSectorSize);
        }
        return data;
    }
    for (uint32_t slot = Hash(sector);; slot = (slot + 1) % kSlots) {
        Slot& entry = store.slots[slot];
        if (entry.stamp == store.stamp) {
            if (entry.sector == sector) return store.sectors[entry.index].data();
            continue;
        }
        if (store.used == kMaxSectors) return nullptr;
        entry = {store.stamp, sector, store.used++};
        uint8_t* data = store.sectors[entry.index].data();
        std::memset(data, 0, kSectorSize);
        return data;
    }
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
    if (uint64_t{first_sector} + count > TheStore().limit) return 1;
    uint8_t* buffer = request->buffer == nullptr ? request->sector : request->buffer;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* at = buffer + size_t{i} * kSectorSize;
        if (write) {
            uint8_t* stored = FindOrAdd(first_sector + i);
            if (stored == nullptr) return 1;
            std::memcpy(stored, at, kSectorSize);
        } else if (const uint8_t* stored = Find(first_sector + i); stored != nullptr) {
            std::memcpy(at, stored, kSectorSize);
        } else {
            std::memset(at, 0, kSectorSize);
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

void ResetMemoryDisk(uint64_t sector_limit) {
    Store& store = TheStore();
    ++store.stamp;
    store.used = 0;
    store.limit = sector_limit;
}

bool PutSectorBytes(uint32_t sector, const uint8_t* data, size_t size) {
    uint8_t* stored = FindOrAdd(sector);
    if (stored == nullptr) return false;
    std::memcpy(stored, data, size < kSectorSize ? size : kSectorSize);
    return true;
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
