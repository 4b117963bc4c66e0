// The operations by path: mkdir, rmdir, remove and rename, and the handle operations behind
// them (making a directory's cluster, removing a directory, deleting and copying entries).
#include <cstdlib>
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

pcfm_entry* EntryAt(uint8_t* directory, uint32_t index) {
    return reinterpret_cast<pcfm_entry*>(directory + index * sizeof(pcfm_entry));
}

int Fail(int error) {
    pcfm_errno = error;
    return -1;
}

void SetDotName(pcfm_entry* entry, int dots) {
    std::memset(entry->name, 0, sizeof entry->name);
    std::memset(entry->name, '.', static_cast<size_t>(dots));
}

// Marks the entry deleted and writes the table range and the entry back, then releases the
// handle.
int DeleteEntry(pcfm_file* file) {
    file->entry->name[0] = kDeletedMark;
    const int result = pcfm_write_back(file);
    pcfm_discard(file);
    return result;
}

// Opens for reading, or as a directory when the path names one.
pcfm_file* OpenEither(const char* path) {
    pcfm_file* file = pcfm_open_traced(path, "r", nullptr);
    if (file == nullptr && pcfm_errno == EWRONGKIND) file = pcfm_open_traced(path, "d", nullptr);
    return file;
}

bool TraceHolds(const pcfm_path_trace& trace, uint32_t cluster) {
    for (int i = 0; i < trace.count; ++i)
        if (trace.clusters[i] == cluster) return true;
    return false;
}

int RemoveConverted(const char* path) {
    pcfm_file* file = pcfm_open_traced(path, "w~", nullptr);
    if (file == nullptr) return -1;
    const int result = file->fileops->unlink(file);
    return result == 0 ? 0 : Fail(result);
}

}  // namespace

bool pcfm_is_dot_name(const pcfm_entry& entry) {
    return entry.name[0] == '.' &&
           (entry.name[1] == 0 || (entry.name[1] == '.' && entry.name[2] == 0)) &&
           entry.extension[0] == 0;
}

int pcfm_make_directory(pcfm_file* file) {
    const int error = pcfm_allocate(file, 1, nullptr);
    if (error != 0) return error;
    auto* cluster = static_cast<uint8_t*>(pcfm_alloc(kDirectoryBytes));
    if (cluster == nullptr) return EOUTOFMEM;
    const uint32_t self = file->entry->first_cluster;
    for (int dots = 1; dots <= 2; ++dots) {
        pcfm_entry* entry = EntryAt(cluster, static_cast<uint32_t>(dots - 1));
        SetDotName(entry, dots);
        entry->attributes = kAttrDirectory;
        pcfm_stamp(&entry->time, &entry->date);
        // ".." names the directory itself, as the receiver's disks have always had it.
        entry->first_cluster = self;
        entry->last_cluster = self;
    }
    // One write of the whole directory: the zeroed entries and the first sector with "." and "..".
    const int result = pcfm_transfer(file, true, cluster, pcfm_cluster_sector(file->volume, self),
                                     kDirectorySectors);
    std::free(cluster);
    pcfm_forget_directory(file->volume, self, 1);
    if (result != 0) return result;
    file->entry->attributes = kAttrDirectory;
    file->entry->size = 0;
    return 0;
}

int pcfm_unlink(pcfm_file* file) {
    return DeleteEntry(file);
}

int pcfm_remove_directory(pcfm_file* file) {
    int error = 0;
    uint8_t* directory = pcfm_get_directory(file, file->entry->first_cluster, &error);
    if (directory == nullptr) {
        pcfm_discard(file);
        return error;
    }
    // Every live entry but "." and ".." counts, wherever it stands.
    for (uint32_t index = 0; index < kDirectoryEntries; ++index) {
        const pcfm_entry* entry = EntryAt(directory, index);
        if (entry->name[0] == 0) break;
        if (entry->name[0] == kDeletedMark || pcfm_is_dot_name(*entry)) continue;
        pcfm_discard(file);
        return EDIRNOTEMPTY;
    }
    const uint32_t first = file->entry->first_cluster;
    pcfm_free_chain(file);
    pcfm_forget_directory(file->volume, first, 1);
    return DeleteEntry(file);
}

int pcfm_copy_entry(pcfm_file* target, const pcfm_file* source) {
    const pcfm_entry& from = *source->entry;
    pcfm_entry& to = *target->entry;
    to.attributes = from.attributes;
    to.time = from.time;
    to.date = from.date;
    to.first_cluster = from.first_cluster;
    to.last_cluster = from.last_cluster;
    to.size = (from.attributes & kAttrDirectory) ? 0 : from.size;
    return 0;
}

int pcfm_mkdir(const char* path) {
    if (path == nullptr) return Fail(ENOPATH);
    char converted[kMaxPathBytes + 1];
    if (pcfm_convert_path(path, converted) != 0) return Fail(EBADNAME);
    pcfm_file* existing = pcfm_open_traced(converted, "d", nullptr);
    if (existing != nullptr) {
        pcfm_close(existing);
        return Fail(EEXISTS);
    }
    if (pcfm_errno != ENOTFOUND) return -1;
    pcfm_file* file = pcfm_open_traced(converted, "wb", nullptr);
    if (file == nullptr) return -1;
    const int error = file->fileops->mkdir(file);
    const int closed = pcfm_close(file);
    if (error != 0) {
        RemoveConverted(converted);
        return Fail(error);
    }
    return closed;
}

int pcfm_rmdir(const char* path) {
    if (path == nullptr) return Fail(ENOPATH);
    char converted[kMaxPathBytes + 1];
    if (pcfm_convert_path(path, converted) != 0) return Fail(EBADNAME);
    pcfm_file* file = pcfm_open_traced(converted, "d", nullptr);
    if (file == nullptr) return -1;
    // The root, and "." or ".." inside a directory, are never removed: their cluster is a
    // directory that is still in use.
    if (file->is_root || pcfm_is_dot_name(*file->entry)) {
        pcfm_discard(file);
        return Fail(EBADNAME);
    }
    const int result = file->fileops->control(file, kControlRemoveDirectory, nullptr);
    return result == 0 ? 0 : Fail(result);
}

int pcfm_remove(const char* path) {
    if (path == nullptr) return Fail(ENOPATH);
    char converted[kMaxPathBytes + 1];
    if (pcfm_convert_path(path, converted) != 0) return Fail(EBADNAME);
    return RemoveConverted(converted);
}

int pcfm_rename(const char* old_path, const char* new_path) {
    if (old_path == nullptr || new_path == nullptr) return Fail(ENOPATH);
    char old_converted[kMaxPathBytes + 1];
    char new_converted[kMaxPathBytes + 1];
    if (pcfm_convert_path(old_path, old_converted) != 0 ||
        pcfm_convert_path(new_path, new_converted) != 0)
        return Fail(EBADNAME);
    // The source is opened for reading, which takes a pattern as given; it is deleted all the
    // same, so a pattern is refused here.
    if (std::strpbrk(old_converted, "*?") != nullptr) return Fail(EBADNAME);

    pcfm_file* source = OpenEither(old_converted);
    if (source == nullptr) return -1;
    if (source->is_root || pcfm_is_dot_name(*source->entry)) {
        pcfm_discard(source);
        return Fail(EBADNAME);
    }
    pcfm_file* existing = OpenEither(new_converted);
    if (existing != nullptr) {
        pcfm_close(existing);
        pcfm_close(source);
        return Fail(EEXISTS);
    }
    pcfm_path_trace trace{};
    pcfm_file* target = pcfm_open_traced(new_converted, "a", &trace);
    if (target == nullptr) {
        const int error = pcfm_errno;
        pcfm_close(source);
        return Fail(error);
    }
    if (target->device != source->device) {
        pcfm_close(target);
        pcfm_close(source);
        RemoveConverted(new_converted);
        return Fail(ECROSSDEVICE);
    }
    // A directory moved below itself would be cut off from the root with all it holds.
    if ((source->entry->attributes & kAttrDirectory) &&
        TraceHolds(trace, source->entry->first_cluster)) {
        DeleteEntry(target);
        pcfm_close(source);
        return Fail(EBADNAME);
    }
    source->fileops->control(target, kControlCopyEntry, source);
    // The new entry reaches the disk before the old one is deleted: an interruption leaves the
    // file under both names rather than under none.
    if (pcfm_close(target) != 0) {
        const int error = pcfm_errno;
        pcfm_close(source);
        return Fail(error);
    }
    source->entry->name[0] = kDeletedMark;
    const int result = pcfm_write_entry(source);
    pcfm_discard(source);
    return result == 0 ? 0 : Fail(result);
}
