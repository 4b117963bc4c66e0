#include "mount/receiver_mount.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include "app/log.h"
#include "mount/receiver_folder.h"
#include "pvrdisk/pcfm.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/receiver_operations.h"

namespace {

constexpr const char* kRoot = "C:\\";
// What one read of the receiver fetches at least, so that a player reading small pieces, or
// seeking and reading on, costs one transfer per this many bytes.
constexpr size_t kReadAhead = 256 * 1024;
// Receiver handles the open files may hold at once; the file system has ten, and listing a
// folder and resolving a path need some of them.
constexpr size_t kMaxFileHandles = 7;
constexpr size_t kZeroChunk = 64 * 1024;
// A file being written is written back after this many bytes, as a copy's target is, so that
// a receiver pulled out keeps all but the last of them.
constexpr uint64_t kWriteBackInterval = 16ull << 20;
// The longest name the receiver stores: 32 characters, a dot, an extension of 3.
constexpr unsigned kLongestName = 36;

// 0 when the receiver stores `name` for a new entry unchanged, else the errno that refuses
// it (the reason goes to the log, after `what`).
int RefuseNewName(const std::string& what, const std::string& name, bool directory) {
    const std::string problem = NewNameProblem(name, directory);
    if (problem.empty()) return 0;
    LogLine("Mount: " + what + " " + name + ": " + problem, 1);
    return name.size() > kLongestName ? -ENAMETOOLONG : -EINVAL;
}

bool IsLinkFailure(int code) {
    return code == EDEVICE || code == ESHORTIO;
}

// The file system's codes as errno values.
int Errno(int code) {
    switch (code) {
        case ENOTFOUND:
        case ENOPATH:
            return ENOENT;
        case EEXISTS:
            return EEXIST;
        case EDIRNOTEMPTY:
            return ENOTEMPTY;
        case EDISKFULL:
        case EDIRFULL:
            return ENOSPC;
        case ETOOLARGE:
            return EFBIG;
        case EREADONLY:
            return EACCES;
        case EBADNAME:
            return EINVAL;
        case ENOTADIR:
            return ENOTDIR;
        case EWRONGKIND:
            return EISDIR;
        case ETOOMANYOPEN:
            return EMFILE;
        default:
            return EIO;
    }
}

std::vector<std::string> Components(const std::string& fuse_path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= fuse_path.size()) {
        size_t end = fuse_path.find('/', start);
        if (end == std::string::npos) end = fuse_path.size();
        if (end > start) parts.push_back(fuse_path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

ReceiverMount::ReceiverMount(ReceiverConnection& connection, MountOptions options)
    : connection_(connection), options_(std::move(options)), mounted_at_(time(nullptr)) {}

bool ReceiverMount::LinkLost() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lost_;
}

int ReceiverMount::Failure(int code) {
    if (IsLinkFailure(code)) MarkLost();
    if (code != 0) LogLine("Mount: " + ReceiverErrorText(code), 2);
    return -Errno(code);
}

void ReceiverMount::MarkLost() {
    if (lost_) return;
    LogLine("Mount: the link to the receiver was lost; waiting for it", 1);
    lost_ = true;
    // Nothing a handle holds from before the outage is written back: the receiver may have
    // changed its disk meanwhile, and the remount reads it again.
    for (auto& [path, node] : nodes_) {
        if (node->file.Handle() == nullptr) continue;
        if (node->dirty) node->failed = true;
        node->file.Abandon();
        node->ahead.clear();
    }
    folders_.clear();
    wake_.notify_all();
}

int ReceiverMount::ChangeOutcome(bool done, const std::string& why) {
    if (done) return 0;
    LogLine("Mount: " + why, 1);
    return Failure(pcfm_errno != 0 ? pcfm_errno : EDEVICE);
}

int ReceiverMount::RefuseLost() {
    return lost_ ? -EIO : 0;
}

int ReceiverMount::RefuseChange() {
    if (!options_.read_write) return -EROFS;
    return RefuseLost();
}

int ReceiverMount::ResolveChangedFile(const std::string& fuse_path, Resolved* found) {
    if (const int error = Resolve(fuse_path, found); error != 0) return error;
    if (found->entry.directory) return -EISDIR;
    if (IsProtectedReceiverEntry(found->entry.receiver_name, false)) return -EPERM;
    return 0;
}

int ReceiverMount::ResolveNewEntry(const std::string& fuse_path, std::string* folder,
                                   std::string* name, Resolved* existing) {
    if (const int error = ResolveParent(fuse_path, folder, name); error != 0) return error;
    const int found = Resolve(fuse_path, existing);
    return found == 0 ? -EEXIST : found;
}

void ReceiverMount::ReconnectLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    while (!stopping_) {
        wake_.wait(hold, [&] { return stopping_ || lost_; });
        if (stopping_) break;
        connection_.Reset();
        while (!stopping_ && !connection_.Reinitialise())
            wake_.wait_for(hold, std::chrono::milliseconds(options_.reconnect_interval_ms),
                           [&] { return stopping_; });
        if (stopping_) break;
        lost_ = false;
        folders_.clear();
        LogLine("Mount: the receiver is back", 1);
    }
}

int ReceiverMount::Folder(const std::string& folder, const std::vector<MountEntry>** entries) {
    auto cached = folders_.find(folder);
    if (cached == folders_.end()) {
        std::vector<MountEntry> read;
        const int code = ReadReceiverFolder(folder, &read);
        if (code != 0) return Failure(code);
        cached = folders_.emplace(folder, std::move(read)).first;
    }
    *entries = &cached->second;
    return 0;
}

void ReceiverMount::Forget(const std::string& folder) {
    folders_.erase(folder);
}

int ReceiverMount::Resolve(const std::string& fuse_path, Resolved* out) {
    const std::vector<std::string> parts = Components(fuse_path);
    *out = Resolved{};
    out->path = kRoot;
    out->root = parts.empty();
    out->entry.directory = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::vector<MountEntry>* entries = nullptr;
        if (const int error = Folder(out->path, &entries); error != 0) return error;
        const auto found = std::find_if(entries->begin(), entries->end(),
                                        [&](const MountEntry& e) { return e.pc_name == parts[i]; });
        if (found == entries->end()) return -ENOENT;
        if (i + 1 < parts.size() && !found->directory) return -ENOTDIR;
        out->folder = out->path;
        out->path = JoinReceiverPath(out->path, found->receiver_name);
        out->entry = *found;
    }
    return 0;
}

int ReceiverMount::ResolveParent(const std::string& fuse_path, std::string* folder,
                                 std::string* name) {
    const size_t cut = fuse_path.rfind('/');
    *name = fuse_path.substr(cut + 1);
    if (name->empty()) return -EINVAL;
    Resolved parent;
    if (const int error = Resolve(fuse_path.substr(0, cut), &parent); error != 0) return error;
    if (!parent.entry.directory) return -ENOTDIR;
    *folder = parent.path;
    return 0;
}

bool ReceiverMount::AnyNodeBelow(const std::string& path) const {
    const std::string prefix = path + "\\";
    return std::any_of(nodes_.begin(), nodes_.end(),
                       [&](const auto& item) { return item.first.rfind(prefix, 0) == 0; });
}

ReceiverMount::OpenNode* ReceiverMount::NodeOf(fuse_file_info* fi) {
    return reinterpret_cast<OpenNode*>(fi->fh);
}

int ReceiverMount::WriteBack(OpenNode* node) {
    if (!node->writable || node->file.Handle() == nullptr) return 0;
    const ChunkOutcome outcome = node->file.Commit();
    if (outcome.ok()) {
        node->dirty = false;
        node->unwritten = 0;
        return 0;
    }
    return Failure(outcome.code != 0 ? outcome.code : EDEVICE);
}

int ReceiverMount::CloseHandle(OpenNode* node) {
    if (node->file.Handle() == nullptr) return 0;
    const int written = WriteBack(node);
    if (node->file.Handle() != nullptr) node->file.Close();
    node->ahead.clear();
    return written;
}

int ReceiverMount::MakeRoomForHandle(const OpenNode* keep) {
    OpenNode* oldest = nullptr;
    for (auto& [path, node] : nodes_)
        if (node.get() != keep && node->file.Handle() != nullptr &&
            (oldest == nullptr || node->last_use < oldest->last_use))
            oldest = node.get();
    if (oldest == nullptr) return -EMFILE;
    // It is opened again by its path when next used.
    return CloseHandle(oldest);
}

int ReceiverMount::EnsureHandle(OpenNode* node) {
    node->last_use = ++use_clock_;
    if (node->failed || lost_) return -EIO;
    if (node->file.Handle() != nullptr) return 0;
    const size_t open =
        static_cast<size_t>(std::count_if(nodes_.begin(), nodes_.end(), [](const auto& item) {
            return item.second->file.Handle() != nullptr;
        }));
    if (open >= kMaxFileHandles)
        if (const int error = MakeRoomForHandle(node); error != 0) return error;
    const unsigned mode =
        (node->writable ? CFile::modeReadWrite : CFile::modeRead) | CFile::typeBinary;
    if (!node->file.Open(ToBox(node->path).c_str(), mode)) return Failure(pcfm_errno);
    node->size = node->file.GetLength();
    return 0;
}

int ReceiverMount::Empty(OpenNode* node) {
    // The file system empties a file only when it is opened anew with "w".
    node->file.Close();
    const bool opened = node->file.Open(
        ToBox(node->path).c_str(), CFile::modeReadWrite | CFile::modeCreate | CFile::typeBinary);
    node->size = 0;
    node->dirty = true;
    return opened ? 0 : Failure(pcfm_errno);
}

int ReceiverMount::ReadInto(OpenNode* node, char* data, size_t size, uint64_t offset) {
    if (offset >= node->size) return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, node->size - offset));
    if (offset >= node->ahead_offset && offset + size <= node->ahead_offset + node->ahead.size()) {
        std::memcpy(data, node->ahead.data() + (offset - node->ahead_offset), size);
        return static_cast<int>(size);
    }
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(std::max(size, kReadAhead), node->size - offset));
    node->ahead.resize(want);
    node->ahead_offset = offset;
    if (pcfm_seek(node->file.Handle(), &offset, 0) != 0) {
        node->ahead.clear();
        return Failure(pcfm_errno);
    }
    const ChunkOutcome outcome =
        node->file.ReadChunk(node->ahead.data(), static_cast<unsigned>(want));
    if (!outcome.ok()) {
        node->ahead.clear();
        return Failure(outcome.code != 0 ? outcome.code : EDEVICE);
    }
    node->ahead.resize(outcome.bytes);
    const size_t given = std::min<size_t>(size, outcome.bytes);
    std::memcpy(data, node->ahead.data(), given);
    return static_cast<int>(given);
}

int ReceiverMount::WriteAt(OpenNode* node, const char* data, size_t size, uint64_t offset) {
    node->ahead.clear();
    // The file system cannot seek past a file's end: a gap is written as zeros.
    if (offset > node->size) {
        const std::vector<char> zeros(kZeroChunk, 0);
        uint64_t end = node->size;
        if (pcfm_seek(node->file.Handle(), &end, 0) != 0) return Failure(pcfm_errno);
        while (node->size < offset) {
            const auto piece =
                static_cast<unsigned>(std::min<uint64_t>(zeros.size(), offset - node->size));
            const ChunkOutcome outcome = node->file.WriteChunk(zeros.data(), piece);
            node->dirty = true;
            node->size += outcome.bytes;
            if (!outcome.ok()) return Failure(outcome.code != 0 ? outcome.code : EDISKFULL);
        }
    }
    if (pcfm_seek(node->file.Handle(), &offset, 0) != 0) return Failure(pcfm_errno);
    const ChunkOutcome outcome = node->file.WriteChunk(data, static_cast<unsigned>(size));
    node->dirty = true;
    node->size = std::max<uint64_t>(node->size, offset + outcome.bytes);
    node->unwritten += outcome.bytes;
    if (outcome.ok() && node->unwritten >= kWriteBackInterval)
        if (const int error = WriteBack(node); error != 0) return error;
    if (outcome.ok()) return static_cast<int>(size);
    if (outcome.kind == ChunkOutcome::kDiskFull && outcome.bytes > 0)
        return static_cast<int>(outcome.bytes);
    return Failure(outcome.code != 0 ? outcome.code : EDISKFULL);
}

int ReceiverMount::GetAttr(const char* path, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    st->st_uid = getuid();
    st->st_gid = getgid();
    const mode_t write_bits = options_.read_write ? 0200 : 0;
    if (std::strcmp(path, "/") == 0) {
        // The mount point itself answers even while the receiver is away.
        st->st_mode = S_IFDIR | 0555 | write_bits;
        st->st_nlink = 2;
        st->st_mtime = st->st_ctime = st->st_atime = mounted_at_;
        return 0;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseLost(); error != 0) return error;
    Resolved found;
    if (const int error = Resolve(path, &found); error != 0) return error;
    uint64_t size = found.entry.size;
    if (const auto node = nodes_.find(found.path); node != nodes_.end()) size = node->second->size;
    st->st_mode = found.entry.directory ? S_IFDIR | 0555 | write_bits : S_IFREG | 0444 | write_bits;
    st->st_nlink = found.entry.directory ? 2 : 1;
    st->st_size = static_cast<off_t>(size);
    st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
    st->st_mtime = st->st_ctime = st->st_atime = static_cast<time_t>(found.entry.time);
    return 0;
}

int ReceiverMount::ReadDir(const char* path, std::vector<std::string>* names) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseLost(); error != 0) return error;
    Resolved found;
    if (const int error = Resolve(path, &found); error != 0) return error;
    if (!found.entry.directory) return -ENOTDIR;
    const std::vector<MountEntry>* entries = nullptr;
    if (const int error = Folder(found.path, &entries); error != 0) return error;
    for (const MountEntry& entry : *entries) names->push_back(entry.pc_name);
    return 0;
}

int ReceiverMount::Open(const char* path, fuse_file_info* fi) {
    const bool writing = (fi->flags & O_ACCMODE) != O_RDONLY;
    if (writing && !options_.read_write) return -EROFS;
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseLost(); error != 0) return error;
    Resolved found;
    if (const int error = Resolve(path, &found); error != 0) return error;
    if (found.entry.directory) return -EISDIR;
    if (writing && IsProtectedReceiverEntry(found.entry.receiver_name, false)) return -EPERM;
    std::unique_ptr<OpenNode>& slot = nodes_[found.path];
    if (!slot) {
        slot = std::make_unique<OpenNode>();
        slot->path = found.path;
        slot->folder = found.folder;
        slot->size = found.entry.size;
    }
    OpenNode* node = slot.get();
    if (writing && !node->writable) {
        // A handle opened for reading is opened again for writing: one handle per file.
        CloseHandle(node);
        node->writable = true;
    }
    ++node->refs;
    int error = EnsureHandle(node);
    if (error == 0 && writing && (fi->flags & O_TRUNC) && node->size != 0) {
        error = Empty(node);
        if (error == 0) error = WriteBack(node);
        Forget(node->folder);
    }
    if (error != 0) {
        if (--node->refs == 0 && node->file.Handle() == nullptr) nodes_.erase(found.path);
        return error;
    }
    fi->fh = reinterpret_cast<uint64_t>(node);
    return 0;
}

int ReceiverMount::Create(const char* path, fuse_file_info* fi) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (const int error = RefuseChange(); error != 0) return error;
        std::string folder, name;
        Resolved existing;
        const int found = ResolveNewEntry(path, &folder, &name, &existing);
        if (found != -EEXIST && found != -ENOENT) return found;
        if (found == -ENOENT) {
            if (const int refused = RefuseNewName("not made:", name, false); refused != 0)
                return refused;
            const std::string receiver_path = JoinReceiverPath(folder, name);
            auto node = std::make_unique<OpenNode>();
            node->path = receiver_path;
            node->folder = folder;
            node->writable = true;
            node->refs = 1;
            node->last_use = ++use_clock_;
            if (static_cast<size_t>(std::count_if(nodes_.begin(), nodes_.end(), [](const auto& i) {
                    return i.second->file.Handle() != nullptr;
                })) >= kMaxFileHandles)
                if (const int error = MakeRoomForHandle(nullptr); error != 0) return error;
            if (!node->file.Open(ToBox(receiver_path).c_str(),
                                 CFile::modeReadWrite | CFile::modeCreate | CFile::typeBinary))
                return Failure(pcfm_errno);
            // Written back at once, so that the folder lists the new entry.
            node->dirty = true;
            if (const int error = WriteBack(node.get()); error != 0) return error;
            Forget(folder);
            fi->fh = reinterpret_cast<uint64_t>(node.get());
            nodes_[receiver_path] = std::move(node);
            return 0;
        }
    }
    // A name that shows already opens that file, emptied.
    fi->flags = (fi->flags & ~O_ACCMODE) | O_RDWR | O_TRUNC;
    return Open(path, fi);
}

int ReceiverMount::Read(fuse_file_info* fi, char* data, size_t size, off_t offset) {
    std::lock_guard<std::mutex> hold(mutex_);
    OpenNode* node = NodeOf(fi);
    if (const int error = EnsureHandle(node); error != 0) return error;
    return ReadInto(node, data, size, static_cast<uint64_t>(offset));
}

int ReceiverMount::Write(fuse_file_info* fi, const char* data, size_t size, off_t offset) {
    if (!options_.read_write) return -EROFS;
    std::lock_guard<std::mutex> hold(mutex_);
    OpenNode* node = NodeOf(fi);
    if (!node->writable) return -EBADF;
    if (const int error = EnsureHandle(node); error != 0) return error;
    return WriteAt(node, data, size, static_cast<uint64_t>(offset));
}

int ReceiverMount::Flush(fuse_file_info* fi) {
    std::lock_guard<std::mutex> hold(mutex_);
    OpenNode* node = NodeOf(fi);
    if (node->failed) return -EIO;
    if (!node->writable || !node->dirty) return 0;
    if (const int error = EnsureHandle(node); error != 0) return error;
    return WriteBack(node);
}

int ReceiverMount::Release(fuse_file_info* fi) {
    std::lock_guard<std::mutex> hold(mutex_);
    OpenNode* node = NodeOf(fi);
    if (--node->refs > 0) return 0;
    const std::string path = node->path;
    const std::string folder = node->folder;
    const bool wrote = node->writable;
    if (!node->failed) CloseHandle(node);
    nodes_.erase(path);
    if (wrote) Forget(folder);
    return 0;
}

int ReceiverMount::Truncate(const char* path, off_t size) {
    if (size < 0) return -EINVAL;
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseChange(); error != 0) return error;
    Resolved found;
    if (const int error = ResolveChangedFile(path, &found); error != 0) return error;
    // The open file's node, or one for this call only.
    std::unique_ptr<OpenNode> own;
    OpenNode* node = nullptr;
    if (const auto open = nodes_.find(found.path); open != nodes_.end()) {
        node = open->second.get();
    } else {
        own = std::make_unique<OpenNode>();
        own->path = found.path;
        own->folder = found.folder;
        own->size = found.entry.size;
        node = own.get();
    }
    if (!node->writable) {
        CloseHandle(node);
        node->writable = true;
    }
    int error = EnsureHandle(node);
    const auto wanted = static_cast<uint64_t>(size);
    if (error == 0 && wanted > node->size) {
        const int written = WriteAt(node, "", 0, wanted);
        if (written < 0) error = written;
    } else if (error == 0 && wanted == 0 && node->size != 0) {
        error = Empty(node);
    } else if (error == 0 && wanted < node->size) {
        // The file system frees a file's clusters only all at once.
        error = -EOPNOTSUPP;
    }
    if (error == 0) error = WriteBack(node);
    if (own) {
        const int closed = CloseHandle(node);
        if (error == 0) error = closed;
    }
    Forget(found.folder);
    return error;
}

int ReceiverMount::Unlink(const char* path) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseChange(); error != 0) return error;
    Resolved found;
    if (const int error = ResolveChangedFile(path, &found); error != 0) return error;
    // An open file keeps its entry: its handle writes the entry back when it closes.
    if (nodes_.count(found.path) != 0) return -EBUSY;
    CDirEntry record;
    record.fullPath = found.path;
    record.folderPath = found.folder;
    record.name = found.entry.receiver_name;
    record.isFile = 1;
    CDirList one;
    one.Add(record);
    pcfm_errno = 0;
    const bool deleted = box_.DeleteFiles(&one);
    Forget(found.folder);
    return ChangeOutcome(deleted, "not deleted: " + found.path);
}

int ReceiverMount::MakeDir(const char* path) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseChange(); error != 0) return error;
    std::string folder, name;
    Resolved existing;
    if (const int found = ResolveNewEntry(path, &folder, &name, &existing); found != -ENOENT)
        return found;
    if (const int refused = RefuseNewName("not made:", name, true); refused != 0) return refused;
    std::string error;
    pcfm_errno = 0;
    const bool made = !MakeReceiverFolder(folder, name, &error).empty();
    Forget(folder);
    return ChangeOutcome(made, error);
}

int ReceiverMount::RemoveDir(const char* path) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseChange(); error != 0) return error;
    Resolved found;
    if (const int error = Resolve(path, &found); error != 0) return error;
    if (found.root) return -EBUSY;
    if (!found.entry.directory) return -ENOTDIR;
    if (IsProtectedReceiverEntry(found.entry.receiver_name, true)) return -EPERM;
    std::string error;
    pcfm_errno = 0;
    const bool removed = RemoveReceiverFolder(found.path, &error);
    Forget(found.folder);
    Forget(found.path);
    return ChangeOutcome(removed, error);
}

int ReceiverMount::Rename(const char* from, const char* to, unsigned flags) {
    if (flags & RENAME_EXCHANGE) return -EINVAL;
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseChange(); error != 0) return error;
    Resolved source;
    if (const int error = Resolve(from, &source); error != 0) return error;
    if (source.root) return -EBUSY;
    std::string folder, name;
    if (const int error = ResolveParent(to, &folder, &name); error != 0) return error;
    const bool directory = source.entry.directory;
    if (IsProtectedReceiverEntry(source.entry.receiver_name, directory)) return -EPERM;
    Resolved existing;
    const int found = Resolve(to, &existing);
    if (found != 0 && found != -ENOENT) return found;
    const bool replacing = found == 0;
    std::string new_name = name;
    if (replacing) {
        if (existing.path == source.path) return 0;
        if (flags & RENAME_NOREPLACE) return -EEXIST;
        if (IsProtectedReceiverEntry(existing.entry.receiver_name, existing.entry.directory))
            return -EPERM;
        if (existing.entry.directory != directory)
            return existing.entry.directory ? -EISDIR : -ENOTDIR;
        if (nodes_.count(existing.path) != 0) return -EBUSY;
        // The replaced entry's stored name is the one that shows as `to`.
        new_name = existing.entry.receiver_name;
    } else if (const int refused = RefuseNewName("not renamed to", name, directory); refused != 0) {
        return refused;
    }
    const std::string target = JoinReceiverPath(folder, new_name);
    if (directory) {
        // A folder moved below itself would be cut off from the root with all it holds.
        if ((target + "\\").rfind(source.path + "\\", 0) == 0) return -EINVAL;
        if (AnyNodeBelow(source.path)) return -EBUSY;
    } else if (nodes_.count(source.path) != 0) {
        // An open file's handle writes its entry back where it was.
        return -EBUSY;
    }
    pcfm_errno = 0;
    if (replacing) {
        const int removed = directory ? pcfm_rmdir(ToBox(existing.path).c_str())
                                      : pcfm_remove(ToBox(existing.path).c_str());
        Forget(folder);
        if (removed != 0) return Failure(pcfm_errno);
    }
    CDirEntry record;
    record.fullPath = source.path;
    record.folderPath = source.folder;
    record.name = source.entry.receiver_name;
    record.isFile = directory ? 0 : 1;
    bool renamed = false;
    if (!replacing && folder == source.folder) {
        renamed = box_.RenameFile(record, new_name);
    } else if (!replacing && new_name == source.entry.receiver_name && !directory) {
        renamed = box_.MoveEntry(record, folder);
    } else {
        renamed = pcfm_rename(ToBox(source.path).c_str(), ToBox(target).c_str()) == 0;
    }
    Forget(source.folder);
    Forget(folder);
    // Paths below a renamed folder changed.
    if (directory) folders_.clear();
    return ChangeOutcome(renamed, box_.failure);
}

int ReceiverMount::StatFs(struct statvfs* st) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (const int error = RefuseLost(); error != 0) return error;
    ReceiverSpace space;
    pcfm_errno = 0;
    if (!QueryReceiverSpace(&connection_, &space)) return Failure(pcfm_errno);
    constexpr uint64_t kBlock = 4096;
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = kBlock;
    st->f_blocks = space.total_bytes / kBlock;
    st->f_bfree = st->f_bavail = space.free_bytes / kBlock;
    st->f_namemax = kLongestName;
    return 0;
}

void ReceiverMount::WriteBackAll() {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto& [path, node] : nodes_)
        if (!node->failed) CloseHandle(node.get());
}
