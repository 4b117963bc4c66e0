// Handles: the ten slots, opening by path and mode, reads and writes through the sector
// buffer and straight between the caller's buffer and the disk, seek, tell, close.
#include <cstdlib>
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

pcfm_file* g_slots[kSlotCount] = {};
// Marks a slot as taken while its handle is being built.
pcfm_file* const kSlotReserved = reinterpret_cast<pcfm_file*>(&g_slots);

constexpr uint64_t kFileLimit = 1ull << 35;

int ParseMode(const char* mode, uint8_t* flags) {
    uint8_t value = kModeText;
    for (const char* letter = mode; *letter != 0; ++letter) {
        switch (*letter) {
            case 'r':
                value |= kModeRead;
                break;
            case 'w':
                value |= 0x92;
                break;
            case 'a':
                value |= 0x8A;
                break;
            case '+':
                value |= kModeRead | kModeWrite;
                break;
            case 'b':
                value &= static_cast<uint8_t>(~kModeText);
                break;
            case 't':
                value |= kModeText;
                break;
            case 'd':
                value = static_cast<uint8_t>((value & ~0x45) | 0x41);
                break;
            case '~':
                value |= kModeNoCreate;
                break;
            default:
                return EBADARG;
        }
    }
    *flags = value;
    return 0;
}

void Advance(pcfm_file* file, uint64_t bytes) {
    file->position += bytes;
}

// Writes the buffered sector back if a write changed it.
int FlushSector(pcfm_file* file) {
    if (!(file->buffer_state & kBufferChanged)) return 0;
    file->buffer_state &= static_cast<uint8_t>(~kBufferChanged);
    return pcfm_transfer(file, true, nullptr, file->buffered_sector, 1);
}

int LoadSector(pcfm_file* file, uint8_t state) {
    uint64_t sector = 0;
    uint64_t available = 0;
    const int error = pcfm_map_position(file, 1, &sector, &available);
    if (error != 0) return error;
    if (sector != file->buffered_sector) {
        const int flushed = FlushSector(file);
        if (flushed != 0) return flushed;
        file->buffered_sector = kNoSector;
        const int result = pcfm_transfer(file, false, nullptr, sector, 1);
        if (result != 0) return result;
        file->buffered_sector = sector;
    }
    if (state == kBufferChanged) pcfm_forget_directory(file->volume, file->cluster, 1);
    file->buffer_state = state;
    return 0;
}

// Moves whole sectors between `data` and the disk: the bytes moved, or -1 with the error in
// the handle.
int64_t TransferDirect(pcfm_file* file, uint8_t* data, uint64_t length, bool write) {
    const pcfm_volume* volume = file->volume;
    const uint64_t offset = file->position % volume->bytes_per_cluster;
    const uint64_t clusters =
        (offset + length + volume->bytes_per_cluster - 1) / volume->bytes_per_cluster;
    uint64_t sector = 0;
    uint64_t available = 0;
    int error = pcfm_map_position(
        file, static_cast<uint32_t>(clusters < kHighestCluster ? clusters : kHighestCluster),
        &sector, &available);
    if (error != 0) {
        file->error = error;
        return -1;
    }
    uint64_t sectors = length / kSectorSize;
    if (sectors > available) sectors = available;
    if (sectors > 0xFFFF) sectors = 0xFFFF;
    if (write) {
        pcfm_forget_directory(file->volume, file->cluster, file->run);
        if (file->buffered_sector >= sector && file->buffered_sector - sector < sectors)
            file->buffered_sector = kNoSector;
    }
    error = pcfm_transfer(file, write, data, sector, static_cast<uint32_t>(sectors));
    const uint64_t moved = sectors - file->request.count;
    if (error != 0) {
        file->error = error;
        return -1;
    }
    return static_cast<int64_t>(moved * kSectorSize);
}

int64_t ReadOperation(pcfm_file* file, uint8_t* destination, uint64_t length) {
    const uint64_t size = file->entry->size;
    if (file->position >= size) {
        file->error |= ENOENTRY;
        return 0;
    }
    uint64_t amount = length < size - file->position ? length : size - file->position;
    uint64_t done = 0;
    while (done < amount) {
        const uint64_t left = amount - done;
        const uint32_t in_sector = static_cast<uint32_t>(file->position % kSectorSize);
        if (in_sector != 0 || left < kSectorSize) {
            const int error = LoadSector(file, kBufferRead);
            if (error != 0) {
                pcfm_errno = error;
                file->error = error;
                return static_cast<int64_t>(done);
            }
            uint64_t piece = kSectorSize - in_sector;
            if (piece > left) piece = left;
            std::memcpy(destination + done, file->request.sector + in_sector, piece);
            Advance(file, piece);
            done += piece;
            continue;
        }
        const int64_t moved = TransferDirect(file, destination + done, left, false);
        if (moved < 0) {
            pcfm_errno = file->error;
            return static_cast<int64_t>(done);
        }
        if (moved == 0) {
            file->error = ESHORTIO;
            pcfm_errno = ESHORTIO;
            return static_cast<int64_t>(done);
        }
        Advance(file, static_cast<uint64_t>(moved));
        done += static_cast<uint64_t>(moved);
    }
    if (done < length) file->error |= ENOENTRY;
    return static_cast<int64_t>(done);
}

int64_t WriteOperation(pcfm_file* file, const uint8_t* source, uint64_t length) {
    if (length != 0) file->mode |= kModeWriteType;
    if (file->position + length >= kFileLimit || length >= kFileLimit) {
        pcfm_errno = ETOOLARGE;
        return 0;
    }
    uint64_t done = 0;
    int failure = 0;
    while (done < length) {
        const uint64_t left = length - done;
        const uint32_t in_sector = static_cast<uint32_t>(file->position % kSectorSize);
        if (in_sector != 0 || left < kSectorSize) {
            const int error = LoadSector(file, kBufferChanged);
            if (error != 0) {
                failure = error;
                break;
            }
            uint64_t piece = kSectorSize - in_sector;
            if (piece > left) piece = left;
            std::memcpy(file->request.sector + in_sector, source + done, piece);
            Advance(file, piece);
            done += piece;
        } else {
            const int64_t moved =
                TransferDirect(file, const_cast<uint8_t*>(source + done), left, true);
            if (moved <= 0) {
                failure = moved < 0 ? file->error : ESHORTIO;
                break;
            }
            Advance(file, static_cast<uint64_t>(moved));
            done += static_cast<uint64_t>(moved);
        }
        if (file->position > file->entry->size) file->entry->size = file->position;
    }
    if (failure != 0) {
        pcfm_errno = failure;
        file->error = failure;
    }
    const int flushed = FlushSector(file);
    if (flushed != 0) {
        file->error = flushed;
        if (failure == 0) pcfm_errno = flushed;
    }
    return static_cast<int64_t>(done);
}

int OpenOperation(pcfm_file* file, const char* path, pcfm_path_trace* trace) {
    if (!(file->device->state & 0x01)) return EDEVICE;
    pcfm_component last{};
    int error = pcfm_resolve(file, path, trace, &last);
    if (file->mode & kModeWriteType) {
        if (error == 0) {
            if (file->mode & kModeAppend) file->position = file->entry->size;
            if (file->mode & kModeTruncate) {
                pcfm_free_chain(file);
                file->mode |= kModeWriteType;
            }
        } else if (error == ENOTFOUND && !(file->mode & kModeNoCreate)) {
            error = pcfm_create_entry(file, last);
            if (error == 0) file->entry->attributes |= kAttrArchive;
        }
    }
    if (error != 0) return error;
    file->open_flags = file->mode;
    file->buffer_state = kBufferNone;
    file->buffered_sector = kNoSector;
    return 0;
}

int CloseOperation(pcfm_file* file) {
    // A handle whose file another removed writes nothing back: its slot may hold a new entry
    // by now, and its clusters may be another file's.
    const bool writable = (file->open_flags & kModeWrite) != 0 && !pcfm_entry_removed(file);
    file->open_flags = 0;
    const int result = writable ? pcfm_write_back(file) : 0;
    pcfm_discard(file);
    return result;
}

int SeekOperation(pcfm_file* file, uint64_t position) {
    file->position = position;
    return 0;
}

int ControlOperation(pcfm_file* file, int code, void* argument) {
    switch (code) {
        case kControlCopyEntry:
            return pcfm_copy_entry(file, static_cast<const pcfm_file*>(argument));
        case kControlRemoveDirectory:
            return pcfm_remove_directory(file);
        case kControlReadEntry:
            return pcfm_read_entry(file, static_cast<pcfm_dirent*>(argument));
        case kControlFlush:
            if (!(file->open_flags & kModeWrite)) return EWRONGKIND;
            return pcfm_entry_removed(file) ? ENOTFOUND : pcfm_write_back(file);
        default:
            return EBADCONTROL;
    }
}

bool ByteCount(size_t item_size, size_t item_count, uint64_t* bytes) {
    size_t product = 0;
    if (__builtin_mul_overflow(item_size, item_count, &product)) return false;
    *bytes = product;
    return true;
}

}  // namespace

const pcfm_fileops pcfm_file_operations = {
    .open = OpenOperation,
    .read = ReadOperation,
    .write = WriteOperation,
    .close = CloseOperation,
    .seek = SeekOperation,
    .mkdir = pcfm_make_directory,
    .unlink = pcfm_unlink,
    .control = ControlOperation,
};

bool pcfm_entry_removed(const pcfm_file* file) {
    return file->entry->name[0] == kDeletedMark;
}

bool pcfm_valid(const pcfm_file* file) {
    // Compared against the slots before it is looked into, so a stale pointer is refused
    // without being read.
    if (file == nullptr) return false;
    for (int slot = 0; slot < kSlotCount; ++slot)
        if (g_slots[slot] == file) return file->open_flags != 0 && file->slot == slot;
    return false;
}

pcfm_entry* pcfm_held_entry(const pcfm_file* file, uint32_t directory_cluster, uint32_t index) {
    if (directory_cluster == 0) return nullptr;
    for (pcfm_file* other : g_slots) {
        if (other == nullptr || other == kSlotReserved || other == file || other->open_flags == 0)
            continue;
        if (other->device == file->device && !other->is_root &&
            other->directory_cluster == directory_cluster && other->entry_index == index)
            return other->entry;
    }
    return nullptr;
}

void pcfm_orphan_holders(const pcfm_file* file, uint32_t directory_cluster, uint32_t index) {
    for (pcfm_file* other : g_slots) {
        if (other == nullptr || other == kSlotReserved || other == file || other->open_flags == 0)
            continue;
        if (other->device != file->device || other->is_root ||
            other->directory_cluster != directory_cluster || other->entry_index != index)
            continue;
        other->private_entry = *other->entry;
        other->private_entry.name[0] = kDeletedMark;
        other->entry = &other->private_entry;
    }
}

void pcfm_discard(pcfm_file* file) {
    if (file->slot < kSlotCount && g_slots[file->slot] == file) g_slots[file->slot] = nullptr;
    // Handles that share this handle's entry keep it: the first of them takes it over.
    pcfm_file* heir = nullptr;
    for (pcfm_file* other : g_slots) {
        if (other == nullptr || other == kSlotReserved || other->entry != &file->private_entry)
            continue;
        if (heir == nullptr) {
            heir = other;
            heir->private_entry = file->private_entry;
        }
        other->entry = &heir->private_entry;
    }
    std::free(file);
}

void pcfm_discard_all() {
    for (pcfm_file*& slot : g_slots) {
        if (slot != nullptr && slot != kSlotReserved) std::free(slot);
        slot = nullptr;
    }
}

pcfm_file* pcfm_open_traced(const char* path, const char* mode, pcfm_path_trace* trace) {
    if (path == nullptr || mode == nullptr) {
        pcfm_errno = ENOPATH;
        return nullptr;
    }
    uint8_t flags = 0;
    int error = ParseMode(mode, &flags);
    if (error != 0) {
        pcfm_errno = error;
        return nullptr;
    }
    const char* colon = std::strchr(path, ':');
    char device_name[kMaxPathBytes + 1];
    const size_t name_length = colon == nullptr ? 0 : static_cast<size_t>(colon - path);
    if (colon == nullptr || name_length > kMaxPathBytes) {
        pcfm_errno = ENOPATH;
        return nullptr;
    }
    for (size_t i = 0; i < name_length; ++i) {
        const char c = path[i];
        device_name[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    device_name[name_length] = 0;
    const int device_index = pcfm_find_device(device_name);
    if (device_index < 0) {
        pcfm_errno = ENOPATH;
        return nullptr;
    }
    int slot = 0;
    while (slot < kSlotCount && g_slots[slot] != nullptr) ++slot;
    if (slot == kSlotCount) {
        pcfm_errno = ETOOMANYOPEN;
        return nullptr;
    }
    g_slots[slot] = kSlotReserved;
    auto* file = static_cast<pcfm_file*>(pcfm_alloc(sizeof(pcfm_file)));
    if (file == nullptr) {
        g_slots[slot] = nullptr;
        return nullptr;
    }
    pcfm_dev* device = pcfm_device(device_index);
    file->device_index = static_cast<uint8_t>(device_index);
    file->slot = static_cast<uint8_t>(slot);
    file->driver = device->driver;
    file->fileops = device->fileops;
    file->device = device;
    file->volume = &device->volume;
    file->mode = flags;
    file->buffered_sector = kNoSector;
    file->dirty_low = UINT32_MAX;
    file->dirty_high = 0;
    file->entry = &file->private_entry;
    g_slots[slot] = file;
    error = file->fileops->open(file, colon + 1, trace);
    if (error != 0) {
        pcfm_discard(file);
        pcfm_errno = error;
        return nullptr;
    }
    return file;
}

pcfm_file* pcfm_open(const char* path, const char* mode) {
    if (path == nullptr) {
        pcfm_errno = ENOPATH;
        return nullptr;
    }
    char converted[kMaxPathBytes + 1];
    if (pcfm_convert_path(path, converted) != 0) {
        pcfm_errno = EBADNAME;
        return nullptr;
    }
    return pcfm_open_traced(converted, mode, nullptr);
}

int pcfm_close(pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return -1;
    }
    const int result = file->fileops->close(file);
    if (result != 0) {
        pcfm_errno = result;
        return -1;
    }
    return 0;
}

int pcfm_flush(pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return -1;
    }
    const int result = file->fileops->control(file, kControlFlush, nullptr);
    if (result != 0) {
        pcfm_errno = result;
        return -1;
    }
    return 0;
}

size_t pcfm_read(void* destination, size_t item_size, size_t item_count, pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return 0;
    }
    if (!(file->open_flags & kModeRead)) {
        pcfm_errno = EWRONGKIND;
        return 0;
    }
    uint64_t bytes = 0;
    if (!ByteCount(item_size, item_count, &bytes)) {
        pcfm_errno = EBADARG;
        return 0;
    }
    if (bytes == 0) return 0;
    const int64_t done = file->fileops->read(file, static_cast<uint8_t*>(destination), bytes);
    return static_cast<size_t>(done) / item_size;
}

size_t pcfm_write(const void* source, size_t item_size, size_t item_count, pcfm_file* file) {
    if (!pcfm_valid(file)) {
        pcfm_errno = EBADHANDLE;
        return 0;
    }
    if (!(file->open_flags & kModeWrite)) {
        pcfm_errno = EWRONGKIND;
        return 0;
    }
    uint64_t bytes = 0;
    if (!ByteCount(item_size, item_count, &bytes)) {
        pcfm_errno = EBADARG;
        return 0;
    }
    if (bytes == 0) return 0;
    const int64_t done = file->fileops->write(file, static_cast<const uint8_t*>(source), bytes);
    return static_cast<size_t>(done) / item_size;
}

int pcfm_seek(pcfm_file* file, const uint64_t* offset, int origin) {
    if (!pcfm_valid(file)) return pcfm_errno = EBADHANDLE;
    const uint64_t size = file->entry->size;
    uint64_t position = 0;
    switch (origin) {
        case 0:
            if (offset == nullptr) return pcfm_errno = EBADARG;
            position = *offset;
            break;
        case 1: {
            if (offset == nullptr) return pcfm_errno = EBADARG;
            if (*offset >> 32 != 0) return pcfm_errno = ESEEKRANGE;
            const int32_t displacement = static_cast<int32_t>(static_cast<uint32_t>(*offset));
            if (displacement < 0 &&
                static_cast<uint64_t>(-static_cast<int64_t>(displacement)) > file->position)
                return pcfm_errno = ESEEKRANGE;
            position = file->position + static_cast<uint64_t>(static_cast<int64_t>(displacement));
            break;
        }
        case 2:
            position = size;
            break;
        default:
            return pcfm_errno = EBADARG;
    }
    if (position > size) return pcfm_errno = ESEEKRANGE;
    const int result = file->fileops->seek(file, position);
    if (result != 0) pcfm_errno = result;
    return result;
}

int pcfm_tell(pcfm_file* file, uint64_t* position) {
    if (!pcfm_valid(file) || position == nullptr) return EBADHANDLE;
    *position = file->position;
    return 0;
}

int pcfm_set_time(pcfm_file* file, uint16_t time_word, uint16_t date_word) {
    if (!pcfm_valid(file)) return EBADHANDLE;
    file->entry->time = time_word;
    file->entry->date = date_word;
    return 0;
}

int pcfm_error(const pcfm_file* file) {
    return pcfm_valid(file) ? file->error : EBADHANDLE;
}
