#include "cli/sync_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/pc_files.h"

namespace {

// Walks to the folder that holds `relative`, each step opened without following a link, so
// that a record can reach nothing outside the target folder. -1 when it cannot be reached.
int OpenHoldingFolder(const std::string& target_folder, const std::string& relative,
                      std::string* name, SyncRemoval* outcome, std::string* error) {
    int folder = open(target_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        *outcome = SyncRemoval::kFailed;
        *error = "cannot open " + target_folder + ": " + platform::ErrorText(errno);
        return -1;
    }
    size_t start = 0;
    for (size_t cut = relative.find('/'); cut != std::string::npos;
         start = cut + 1, cut = relative.find('/', start)) {
        const std::string step = relative.substr(start, cut - start);
        const int inner =
            openat(folder, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int open_error = errno;
        close(folder);
        if (inner < 0) {
            *outcome = open_error == ENOENT ? SyncRemoval::kMissing : SyncRemoval::kFailed;
            *error = relative.substr(0, cut) +
                     (open_error == ELOOP || open_error == ENOTDIR
                          ? " is no folder of the target (a symbolic link or a file)"
                          : ": " + platform::ErrorText(open_error));
            return -1;
        }
        folder = inner;
    }
    *name = relative.substr(start);
    return folder;
}

SyncRemoval Inspect(int folder, const std::string& name, const SyncRecord& record) {
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? SyncRemoval::kMissing : SyncRemoval::kChanged;
    if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) != record.size ||
        static_cast<int64_t>(info.st_mtime) != record.modified)
        return SyncRemoval::kChanged;
    return SyncRemoval::kRemoved;
}

SyncRemoval Handle(const std::string& target_folder, const std::string& relative,
                   const SyncRecord& record, bool remove, std::string* error) {
    if (!IsSafeRelativePath(relative)) {
        *error = relative + " does not name a file inside the target folder";
        return SyncRemoval::kFailed;
    }
    std::string name;
    SyncRemoval outcome = SyncRemoval::kFailed;
    const int folder = OpenHoldingFolder(target_folder, relative, &name, &outcome, error);
    if (folder < 0) return outcome;
    outcome = Inspect(folder, name, record);
    if (remove && outcome == SyncRemoval::kRemoved && unlinkat(folder, name.c_str(), 0) != 0) {
        *error = "cannot delete " + relative + ": " + platform::ErrorText(errno);
        outcome = SyncRemoval::kFailed;
    }
    close(folder);
    return outcome;
}

}  // namespace

SyncRemoval InspectRecordedFile(const std::string& target_folder, const std::string& relative,
                                const SyncRecord& record, std::string* error) {
    return Handle(target_folder, relative, record, false, error);
}

SyncRemoval RemoveRecordedFile(const std::string& target_folder, const std::string& relative,
                               const SyncRecord& record, std::string* error) {
    return Handle(target_folder, relative, record, true, error);
}
