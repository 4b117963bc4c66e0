#include "pvrdisk/fs/entry_identity.h"

#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"

bool IdentifyReceiverEntry(const char* path, ReceiverEntryId* id) {
    // A file opens with "r"; a folder, and the root, only as a directory.
    pcfm_file* file = pcfm_open(path, "r");
    if (file == nullptr) {
        const int as_file = pcfm_errno;
        file = pcfm_open(path, "d");
        if (file == nullptr && as_file != EWRONGKIND) pcfm_errno = as_file;
    }
    if (file == nullptr) return false;
    id->root = file->is_root;
    id->directory_cluster = file->directory_cluster;
    id->entry_index = file->entry_index;
    id->first_cluster = file->entry->first_cluster;
    id->directory = (file->entry->attributes & kAttrDirectory) != 0 || file->is_root;
    pcfm_convert_name(file->entry->name, id->name);
    for (int i = 0; i < 3; ++i) id->extension[i] = static_cast<char>(file->entry->extension[i]);
    id->extension[3] = 0;
    pcfm_close(file);
    return true;
}
