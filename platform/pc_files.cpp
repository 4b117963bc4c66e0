#include "platform/pc_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

bool Fill(int result, const struct stat& st, PcFileInfo* info, std::string* error) {
    *info = PcFileInfo{};
    if (result != 0) {
        if (error != nullptr) *error = ErrorText(errno);
        return false;
    }
    info->kind = S_ISREG(st.st_mode)   ? PcKind::kRegular
                 : S_ISDIR(st.st_mode) ? PcKind::kDirectory
                 : S_ISLNK(st.st_mode) ? PcKind::kSymbolicLink
                                       : PcKind::kOther;
    info->size = info->kind == PcKind::kRegular ? static_cast<uint64_t>(st.st_size) : 0;
    info->modified = st.st_mtim.tv_sec;
    info->device = st.st_dev;
    info->inode = st.st_ino;
    return true;
}

// Linux's magic numbers of the file systems statfs reports.
struct FileSystemMagic {
    unsigned long magic;
    const char* name;
};
constexpr FileSystemMagic kFileSystems[] = {
    {0x4d44, "vfat"},         {0x2011BAB0, "exfat"},   {0xEF53, "ext4"},      {0x9123683E, "btrfs"},
    {0x58465342, "xfs"},      {0x5346544e, "ntfs"},    {0x7366746e, "ntfs3"}, {0x01021994, "tmpfs"},
    {0x65735546, "fuseblk"},  {0x794c7630, "overlay"}, {0x6969, "nfs"},       {0xFF534D42, "cifs"},
    {0xFE534D42, "smb2"},     {0x2FC12FC1, "zfs"},     {0xF2F52010, "f2fs"},  {0x3153464a, "jfs"},
    {0x52654973, "reiserfs"}, {0x858458f6, "ramfs"},   {0x9fa0, "proc"},
};

bool Rename(const std::string& from, const std::string& to, unsigned flags, std::string* error,
            bool* cross_device) {
    if (cross_device != nullptr) *cross_device = false;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0) return true;
    const int code = errno;
    if (cross_device != nullptr) *cross_device = code == EXDEV;
    if (error != nullptr) *error = code == EEXIST ? "the target exists" : ErrorText(code);
    return false;
}

}  // namespace

bool InspectPcPath(const std::string& path, PcFileInfo* info, std::string* error) {
    struct stat st {};
    return Fill(::lstat(path.c_str(), &st), st, info, error);
}

bool InspectPcTarget(const std::string& path, PcFileInfo* info, std::string* error) {
    struct stat st {};
    return Fill(::stat(path.c_str(), &st), st, info, error);
}

bool SameFile(const PcFileInfo& a, const PcFileInfo& b) {
    return a.kind != PcKind::kMissing && b.kind != PcKind::kMissing && a.device == b.device &&
           a.inode == b.inode;
}

bool ListPcFolder(const std::string& path, std::vector<std::string>* names, std::string* error) {
    names->clear();
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        if (error != nullptr) *error = ErrorText(errno);
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    const int code = errno;
    ::closedir(dir);
    if (code != 0) {
        if (error != nullptr) *error = ErrorText(code);
        return false;
    }
    return true;
}

bool MakePcFolder(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int code = errno;
    PcFileInfo info;
    if (code == EEXIST && InspectPcTarget(path, &info) && info.kind == PcKind::kDirectory)
        return true;
    if (error != nullptr) *error = code == EEXIST ? "a file of that name exists" : ErrorText(code);
    return false;
}

bool RenamePcNoReplace(const std::string& from, const std::string& to, std::string* error,
                       bool* cross_device) {
    return Rename(from, to, RENAME_NOREPLACE, error, cross_device);
}

bool RenamePcReplace(const std::string& from, const std::string& to, std::string* error,
                     bool* cross_device) {
    return Rename(from, to, 0, error, cross_device);
}

bool RemovePcFile(const std::string& path, std::string* error) {
    if (::unlink(path.c_str()) == 0) return true;
    if (error != nullptr) *error = ErrorText(errno);
    return false;
}

bool SetOpenFileTime(int descriptor, int64_t time) {
    const timespec times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
    return ::futimens(descriptor, times) == 0;
}

std::string PcFileSystemName(const std::string& path) {
    struct statfs info {};
    // A folder a transfer has yet to make lies on the volume of the nearest one that exists.
    std::string probe = path.empty() ? "." : path;
    while (::statfs(probe.c_str(), &info) != 0) {
        if ((errno != ENOENT && errno != ENOTDIR) || probe == "/" || probe == ".") return "";
        while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
        const size_t slash = probe.rfind('/');
        probe = slash == std::string::npos ? "." : slash == 0 ? "/" : probe.substr(0, slash);
    }
    for (const FileSystemMagic& known : kFileSystems)
        if (static_cast<unsigned long>(info.f_type) == known.magic) return known.name;
    return "";
}

bool PcFreeBytes(const std::string& path, uint64_t* bytes) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

bool LocalCalendar(int64_t time, std::tm* local) {
    const std::time_t when = static_cast<std::time_t>(time);
    return ::localtime_r(&when, local) != nullptr;
}

std::string ErrorText(int error_number) {
    char text[256];
    return ::strerror_r(error_number, text, sizeof text);
}

}  // namespace platform
