#include "platform/trash.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/pc_files.h"

namespace platform {

bool MoveToTrash(const std::string& path, std::string* error) {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* failure = nullptr;
    const bool moved = g_file_trash(file, nullptr, &failure) != FALSE;
    if (!moved) *error = failure != nullptr ? failure->message : "cannot move to the trash";
    if (failure != nullptr) g_error_free(failure);
    g_object_unref(file);
    return moved;
}

namespace {
// Removes an emptied folder; false with the reason.
bool RemoveFolder(const std::string& path, std::string* reason) {
    if (::rmdir(path.c_str()) == 0) return true;
    *reason = ErrorText(errno);
    return false;
}
}  // namespace

bool DeleteForGood(const std::string& path, std::string* error) {
    std::string reason;
    PcFileInfo info;
    std::vector<std::string> names;
    if (!InspectPcPath(path, &info, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    bool removed = false;
    if (info.kind != PcKind::kDirectory) {
        removed = RemovePcFile(path, &reason);
    } else if (ListPcFolder(path, &names, &reason)) {
        for (const std::string& name : names)
            if (!DeleteForGood(path + "/" + name, error)) return false;
        removed = RemoveFolder(path, &reason);
    }
    if (!removed) *error = path + ": " + reason;
    return removed;
}

}  // namespace platform
