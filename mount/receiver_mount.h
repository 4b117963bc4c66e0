// The receiver's disk as a folder of the PC, through FUSE: folders listed with sizes and
// times under the names a copy to the PC would give them, files read at any offset, and with
// `read_write` files created, written, renamed and deleted and folders made and removed,
// through the engine the copy and the command line use.
//
// The engine is entered from one thread at a time: every request takes one mutex, and so does
// the reconnection, which runs on its own thread. The FUSE loop itself runs on the thread that
// calls Serve, one request after another, since the engine could not overlap two anyway.
//
// A lost link makes every request fail with EIO at once; the reconnection brings the receiver
// back as a copy does (Reset, then Reinitialise every `reconnect_interval_ms`), and the mount
// goes on. A file that was being written and had bytes not yet written back fails with EIO
// from then on; files open for reading go on where they were.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mount/mount_names.h"
#include "pvrdisk/fs/raw_file.h"
#include "transfer/box_function_mgr.h"
#include "transfer/receiver_connection.h"

struct fuse;
struct stat;
struct statvfs;
struct fuse_file_info;

struct MountOptions {
    std::string mountpoint;
    bool read_write = false;
    // SIGINT, SIGTERM and SIGHUP end Serve (for the command line; the caller's thread must be
    // the one they reach).
    bool handle_signals = false;
    uint32_t reconnect_interval_ms = 500;
};

class ReceiverMount {
  public:
    // `connection` is open and mounted, and stays so for the mount's life.
    ReceiverMount(ReceiverConnection& connection, MountOptions options);
    ~ReceiverMount();
    ReceiverMount(const ReceiverMount&) = delete;
    ReceiverMount& operator=(const ReceiverMount&) = delete;

    // Mounts the folder; false with a message.
    bool Mount(std::string* error);
    // Serves requests until the folder is unmounted (fusermount3 -u, Unmount, a signal when
    // handled), then writes back every file still open. Blocks.
    void Serve();
    // Asks for the unmount from any thread (a lazy one: files still open are served until
    // they are closed); Serve then returns.
    void Unmount();
    // Whether the link is lost and the receiver not yet back.
    bool LinkLost();

    // The requests, as the FUSE operations table calls them; each returns 0 (or a count) or a
    // negative errno.
    int GetAttr(const char* path, struct stat* st);
    int ReadDir(const char* path, std::vector<std::string>* names);
    int Open(const char* path, fuse_file_info* fi);
    int Create(const char* path, fuse_file_info* fi);
    int Read(fuse_file_info* fi, char* data, size_t size, off_t offset);
    int Write(fuse_file_info* fi, const char* data, size_t size, off_t offset);
    int Flush(fuse_file_info* fi);
    int Release(fuse_file_info* fi);
    int Truncate(const char* path, off_t size);
    int Unlink(const char* path);
    int MakeDir(const char* path);
    int RemoveDir(const char* path);
    int Rename(const char* from, const char* to, unsigned flags);
    int StatFs(struct statvfs* st);
    // Writes back every file still open (the unmount's last step).
    void WriteBackAll();

  private:
    // One receiver file open through the mount, shared by all its FUSE handles: the file
    // system keeps one entry per handle, so two handles on one file would overwrite each
    // other's entry.
    struct OpenNode {
        std::string path;  // receiver path
        std::string folder;
        CRawFile file;  // closed while the link is lost, or when its slot went to another
        bool writable = false;
        bool dirty = false;      // written since the last write-back
        uint64_t unwritten = 0;  // bytes written since the last write-back
        bool failed = false;     // written bytes were lost with the link: EIO from now on
        int refs = 0;
        uint64_t size = 0;
        uint64_t last_use = 0;
        uint64_t ahead_offset = 0;
        std::vector<char> ahead;  // the read-ahead: bytes from ahead_offset
    };
    struct Resolved {
        std::string path;    // receiver path
        std::string folder;  // receiver folder holding it
        MountEntry entry;
        bool root = false;
    };

    // Everything below runs with mutex_ held.
    int Resolve(const std::string& fuse_path, Resolved* out);
    int ResolveParent(const std::string& fuse_path, std::string* folder, std::string* name);
    int Folder(const std::string& folder, const std::vector<MountEntry>** entries);
    void Forget(const std::string& folder);
    int Failure(int code);
    // 0 after a change that was done, else its failure as an errno, `why` to the log.
    int ChangeOutcome(bool done, const std::string& why);
    void MarkLost();
    int EnsureHandle(OpenNode* node);
    int MakeRoomForHandle(const OpenNode* keep);
    int WriteBack(OpenNode* node);
    int CloseHandle(OpenNode* node);
    bool AnyNodeBelow(const std::string& path) const;
    // Empties the open file of `node`, to be written back.
    int Empty(OpenNode* node);
    int ReadInto(OpenNode* node, char* data, size_t size, uint64_t offset);
    int WriteAt(OpenNode* node, const char* data, size_t size, uint64_t offset);
    int RefuseLost();
    // The first steps of a request that changes the disk: -EROFS on a read-only mount, -EIO
    // while the link is lost.
    int RefuseChange();
    // An existing file that may be changed: -EISDIR for a folder, -EPERM for a protected one.
    int ResolveChangedFile(const std::string& fuse_path, Resolved* found);
    // The folder and name of an entry to be made: -ENOENT when the name is free, -EEXIST (with
    // `existing`) when it shows already, or the error that stops the way to it.
    int ResolveNewEntry(const std::string& fuse_path, std::string* folder, std::string* name,
                        Resolved* existing);
    OpenNode* NodeOf(fuse_file_info* fi);

    void ReconnectLoop();

    ReceiverConnection& connection_;
    MountOptions options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool lost_ = false;
    bool stopping_ = false;
    std::thread reconnector_;
    std::map<std::string, std::vector<MountEntry>> folders_;
    std::map<std::string, std::unique_ptr<OpenNode>> nodes_;
    uint64_t use_clock_ = 0;
    // The root folder has no entry of its own: it shows the time of the mount.
    time_t mounted_at_;
    CBoxFunctionMgr box_;
    fuse* fuse_ = nullptr;
    bool mounted_ = false;
    bool signals_taken_ = false;
};
