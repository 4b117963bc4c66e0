// Directories: the shared directory buffer, looking components up, resolving paths, creating
// and writing entries, time stamps and reading entries one by one.
#include <cstring>
#include <ctime>

#include "platform/pc_files.h"
#include "pvrdisk/fs/pcfm_internal.h"

namespace {

pcfm_entry* EntryAt(uint8_t* directory, uint32_t index) {
    return reinterpret_cast<pcfm_entry*>(directory + index * sizeof(pcfm_entry));
}

bool SameName(const pcfm_entry& entry, const pcfm_component& component) {
    return std::memcmp(entry.name, component.name, 32) == 0 &&
           std::memcmp(entry.extension, component.extension, 3) == 0;
}

// Looks `component` up in the handle's directory and makes the found entry the handle's.
int Lookup(pcfm_file* file, bool more, const pcfm_component& component) {
    int error = 0;
    uint8_t* directory = pcfm_get_directory(file, file->directory_cluster, &error);
    if (directory == nullptr) return error;
    for (uint32_t index = 0; index < kDirectoryEntries; ++index) {
        pcfm_entry* entry = EntryAt(directory, index);
        if (entry->name[0] == 0) break;
        // A deleted entry never matches, whatever byte a converted name starts with.
        if (entry->name[0] == kDeletedMark || (entry->attributes & kAttrVolumeLabel)) continue;
        if (!SameName(*entry, component)) continue;
        entry->root_marker = component.root ? 1 : 0;
        pcfm_entry* held = pcfm_held_entry(file, file->directory_cluster, index);
        if (file->directory_cluster == 0) {
            file->entry = entry;
        } else if (held != nullptr) {
            file->entry = held;
        } else {
            file->private_entry = *entry;
            file->entry = &file->private_entry;
        }
        file->chain_detached = false;
        file->cluster = entry->first_cluster;
        file->ordinal = 0;
        file->run = 0;
        file->entry_index = index;
        if (pcfm_is_data_cluster(file->cluster)) pcfm_count_run(file, 0);
        return 0;
    }
    return more ? ENOPATH : ENOTFOUND;
}

// A new entry in the end slot (a name starting with 0) must not make what follows it live:
// whatever lies behind the end of a directory was never an entry. The next slot becomes the
// end, on the disk first.
int KeepTheEndAfter(pcfm_file* file, uint8_t* directory, uint32_t slot) {
    if (EntryAt(directory, slot)->name[0] != 0 || slot + 1 == kDirectoryEntries) return 0;
    pcfm_entry* next = EntryAt(directory, slot + 1);
    if (next->name[0] == 0) return 0;
    next->name[0] = 0;
    const uint32_t sector = (slot + 1) * sizeof(pcfm_entry) / kSectorSize;
    return pcfm_transfer(file, true, directory + sector * kSectorSize,
                         pcfm_cluster_sector(file->volume, file->directory_cluster) + sector, 1);
}

void MakeRootHandle(pcfm_file* file) {
    file->private_entry = {};
    file->entry = &file->private_entry;
    file->entry_index = 0;
    file->directory_cluster = 0;
    file->cluster = 0;
    file->is_root = true;
    file->mode &= static_cast<uint8_t>(~kModeWrite);
}

}  // namespace

uint8_t* pcfm_get_directory(pcfm_file* file, uint32_t cluster, int* error) {
    pcfm_volume* volume = file->volume;
    if (cluster == 0) return volume->root;
    if (!pcfm_is_data_cluster(cluster)) {
        *error = ENOTFOUND;
        return nullptr;
    }
    uint8_t* buffer = pcfm_directory_buffer();
    if (volume->cached_directory == cluster) return buffer;
    // The tag names the buffer's contents only after a read that succeeded.
    volume->cached_directory = kNoCachedDirectory;
    if (pcfm_transfer(file, false, buffer, pcfm_cluster_sector(volume, cluster),
                      kDirectorySectors) != 0) {
        *error = ENOTFOUND;
        return nullptr;
    }
    volume->cached_directory = cluster;
    return buffer;
}

void pcfm_forget_directory(pcfm_volume* volume, uint32_t first_cluster, uint32_t clusters) {
    if (volume->cached_directory >= first_cluster &&
        volume->cached_directory - first_cluster < clusters)
        volume->cached_directory = kNoCachedDirectory;
}

int pcfm_resolve(pcfm_file* file, const char* path, pcfm_path_trace* trace, pcfm_component* last) {
    pcfm_component component{};
    component.root = true;
    const char* cursor = path;
    int more = pcfm_parse_component(cursor, &component);
    if (more < 0) return EBADNAME;
    if ((file->mode & kModeDirectory) && (component.name[0] == 0 || component.wildcard)) {
        MakeRootHandle(file);
        return 0;
    }
    file->directory_cluster = 0;
    for (;;) {
        *last = component;
        const int error = Lookup(file, more != 0, component);
        if (error != 0) return error;
        if (!more) break;
        if (!(file->entry->attributes & kAttrDirectory)) return ENOTADIR;
        file->directory_cluster = file->entry->first_cluster;
        if (trace != nullptr && trace->count < 256)
            trace->clusters[trace->count++] = file->directory_cluster;
        component = {};
        more = pcfm_parse_component(cursor, &component);
        if (more < 0) return EBADNAME;
    }
    // A pattern names no entry to change: "a*" is looked up as "a", which the user did not
    // name. Only reading and the root pattern of a directory open take it as given.
    if (last->wildcard && (file->mode & (kModeWrite | kModeDirectory))) return EBADNAME;
    const uint8_t attributes = file->entry->attributes;
    if (!(file->mode & kModeDirectory)) {
        if (attributes & (kAttrDirectory | kAttrVolumeLabel)) return EWRONGKIND;
        if ((attributes & kAttrReadOnly) && (file->mode & kModeWrite)) return EREADONLY;
    } else {
        if (!(attributes & kAttrDirectory)) return EWRONGKIND;
        file->mode &= static_cast<uint8_t>(~kModeWrite);
    }
    return 0;
}

int pcfm_create_entry(pcfm_file* file, const pcfm_component& component) {
    if (!pcfm_can_be_made(component)) return EBADNAME;
    int error = 0;
    uint8_t* directory = pcfm_get_directory(file, file->directory_cluster, &error);
    if (directory == nullptr) return error;
    uint32_t slot = 0;
    while (slot < kDirectoryEntries && EntryAt(directory, slot)->name[0] != 0 &&
           EntryAt(directory, slot)->name[0] != kDeletedMark)
        ++slot;
    if (slot == kDirectoryEntries) return EDIRFULL;
    error = KeepTheEndAfter(file, directory, slot);
    if (error != 0) return error;
    pcfm_orphan_holders(file, file->directory_cluster, slot);
    file->entry_index = slot;
    file->cluster = 0;
    file->ordinal = 0;
    file->run = 0;
    file->chain_detached = false;
    pcfm_entry* entry =
        file->directory_cluster == 0 ? EntryAt(directory, slot) : &file->private_entry;
    *entry = {};
    entry->root_marker = file->directory_cluster == 0 ? 1 : 0;
    std::memcpy(entry->name, component.name, 32);
    std::memcpy(entry->extension, component.extension, 3);
    pcfm_stamp(&entry->time, &entry->date);
    file->entry = entry;
    // The entry goes to the disk at once, so that the slot is taken there too: another
    // handle creating in the same directory cannot pick it before this one closes.
    return pcfm_write_entry(file);
}

void pcfm_stamp(uint16_t* time_word, uint16_t* date_word) {
    std::tm local{};
    platform::LocalCalendar(pcfm_stamp_time(static_cast<int64_t>(std::time(nullptr))), &local);
    *time_word = static_cast<uint16_t>(local.tm_hour * 2048 + local.tm_min * 32 + local.tm_sec / 2);
    *date_word = static_cast<uint16_t>(((local.tm_year + 1900 - 1980) & 0x7F) * 512 +
                                       (local.tm_mon + 1) * 32 + local.tm_mday);
}

int64_t pcfm_stamp_time(int64_t time_value) {
    static int64_t stored = 0;
    if (time_value != 0) stored = time_value;
    return stored;
}

int pcfm_write_entry(pcfm_file* file) {
    pcfm_volume* volume = file->volume;
    const uint32_t sector_index = file->entry_index * sizeof(pcfm_entry) / kSectorSize;
    uint8_t* directory = volume->root;
    if (file->directory_cluster != 0) {
        int error = 0;
        directory = pcfm_get_directory(file, file->directory_cluster, &error);
        if (directory == nullptr) return error;
        *EntryAt(directory, file->entry_index) = *file->entry;
    }
    return pcfm_transfer(file, true, directory + sector_index * kSectorSize,
                         pcfm_cluster_sector(volume, file->directory_cluster) + sector_index, 1);
}

int pcfm_read_entry(pcfm_file* file, pcfm_dirent* record) {
    int error = 0;
    uint8_t* directory = pcfm_get_directory(file, file->entry->first_cluster, &error);
    if (directory == nullptr) return error;
    uint32_t live = 0;
    for (uint32_t index = 0; index < kDirectoryEntries; ++index) {
        const pcfm_entry* entry = EntryAt(directory, index);
        if (entry->name[0] == 0) break;
        if (entry->name[0] == kDeletedMark || (entry->attributes & kAttrVolumeLabel)) continue;
        if (live++ != record->index) continue;
        pcfm_convert_name(entry->name, record->name);
        std::memset(record->extension, 0, sizeof record->extension);
        std::memcpy(record->extension, entry->extension, 3);
        record->size_low = static_cast<uint32_t>(entry->size);
        record->size_high = static_cast<uint32_t>(entry->size >> 32);
        record->year = static_cast<uint16_t>(1980 + (entry->date >> 9));
        record->month = static_cast<uint8_t>(entry->date >> 5 & 0x0F);
        record->day = static_cast<uint8_t>(entry->date & 0x1F);
        record->hour = static_cast<uint8_t>(entry->time >> 11);
        record->minute = static_cast<uint8_t>(entry->time >> 5 & 0x3F);
        record->second = static_cast<uint8_t>((entry->time & 0x1F) * 2);
        record->attributes = entry->attributes;
        return 0;
    }
    return ENOENTRY;
}

int pcfm_readdir(pcfm_file* directory, pcfm_dirent* entry) {
    if (entry == nullptr || entry->index >= kDirectoryEntries) return EBADARG;
    if (!pcfm_valid(directory)) {
        pcfm_errno = EBADHANDLE;
        return -1;
    }
    if (!(directory->entry->attributes & kAttrDirectory) && directory->entry->name[0] != 0) {
        pcfm_errno = ENOTADIR;
        return -1;
    }
    const int error = directory->fileops->control(directory, kControlReadEntry, entry);
    if (error != 0) {
        pcfm_errno = error;
        return -1;
    }
    return 0;
}
