// The FUSE side of the mount: the operations table, mounting, the request loop and the
// unmount.
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstring>

#include "app/log.h"
#include "mount/receiver_mount.h"
#include "transfer/user_messages.h"

#define FUSE_USE_VERSION 31
#include <fuse.h>

extern char** environ;

namespace {

ReceiverMount& Self() {
    return *static_cast<ReceiverMount*>(fuse_get_context()->private_data);
}

// What the managers would show in a message box goes to the log: a mount has no one to ask.
class LoggedMessages : public UserMessages {
  public:
    void ShowWarning(const std::string& text, const std::string& caption) override {
        LogLine("Mount: " + caption + " " + text, 1);
    }
};
LoggedMessages g_logged_messages;

void* Init(fuse_conn_info*, fuse_config* config) {
    // An unlinked file is removed at once (unlink refuses open files), never hidden under
    // another name.
    config->hard_remove = 1;
    config->use_ino = 0;
    config->kernel_cache = 0;
    // Short caches, so that a receiver pulled out shows within about a second.
    config->entry_timeout = 1.0;
    config->attr_timeout = 1.0;
    config->negative_timeout = 0;
    return fuse_get_context()->private_data;
}

void Destroy(void* self) {
    static_cast<ReceiverMount*>(self)->WriteBackAll();
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    return Self().GetAttr(path, st);
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    std::vector<std::string> names;
    if (const int error = Self().ReadDir(path, &names); error != 0) return error;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    for (const std::string& name : names)
        if (fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    return Self().Open(path, fi);
}
int Create(const char* path, mode_t, fuse_file_info* fi) {
    return Self().Create(path, fi);
}
int Read(const char*, char* data, size_t size, off_t offset, fuse_file_info* fi) {
    return Self().Read(fi, data, size, offset);
}
int Write(const char*, const char* data, size_t size, off_t offset, fuse_file_info* fi) {
    return Self().Write(fi, data, size, offset);
}
int Flush(const char*, fuse_file_info* fi) {
    return Self().Flush(fi);
}
int Fsync(const char*, int, fuse_file_info* fi) {
    return Self().Flush(fi);
}
int Release(const char*, fuse_file_info* fi) {
    return Self().Release(fi);
}
int Truncate(const char* path, off_t size, fuse_file_info*) {
    return Self().Truncate(path, size);
}
int Unlink(const char* path) {
    return Self().Unlink(path);
}
int MakeDir(const char* path, mode_t) {
    return Self().MakeDir(path);
}
int RemoveDir(const char* path) {
    return Self().RemoveDir(path);
}
int Rename(const char* from, const char* to, unsigned flags) {
    return Self().Rename(from, to, flags);
}
int StatFs(const char*, struct statvfs* st) {
    return Self().StatFs(st);
}
// Times are the receiver's: it stamps a file when it is written back.
int SetTimes(const char*, const timespec*, fuse_file_info*) {
    return 0;
}

fuse_operations Operations() {
    fuse_operations ops{};
    ops.init = Init;
    ops.destroy = Destroy;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write = Write;
    ops.flush = Flush;
    ops.fsync = Fsync;
    ops.release = Release;
    ops.truncate = Truncate;
    ops.unlink = Unlink;
    ops.mkdir = MakeDir;
    ops.rmdir = RemoveDir;
    ops.rename = Rename;
    ops.statfs = StatFs;
    ops.utimens = SetTimes;
    return ops;
}

// Runs fusermount3 -u -z on the folder; its exit status, or -1.
int RunFusermount(const std::string& mountpoint) {
    const char* argv[] = {"fusermount3", "-u", "-z", mountpoint.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "fusermount3", nullptr, nullptr, const_cast<char**>(argv), environ) !=
        0)
        return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ReceiverMount::~ReceiverMount() {
    if (fuse_ != nullptr) {
        if (signals_taken_) fuse_remove_signal_handlers(fuse_get_session(fuse_));
        if (mounted_) fuse_unmount(fuse_);
        fuse_destroy(fuse_);
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (reconnector_.joinable()) reconnector_.join();
    if (&Messages() == &g_logged_messages) SetMessages(nullptr);
}

bool ReceiverMount::Mount(std::string* error) {
    const fuse_operations ops = Operations();
    std::string options = "fsname=tessel,subtype=tessel";
    if (!options_.read_write) options += ",ro";
    const char* argv[] = {"tessel", "-o", options.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    fuse_ = fuse_new(&args, &ops, sizeof ops, this);
    // The parse may have copied the arguments.
    fuse_opt_free_args(&args);
    if (fuse_ == nullptr) {
        *error = "FUSE refused the mount options";
        return false;
    }
    if (fuse_mount(fuse_, options_.mountpoint.c_str()) != 0) {
        *error = "cannot mount on " + options_.mountpoint +
                 ": is it an empty folder, and are fuse3 and /dev/fuse there?";
        return false;
    }
    mounted_ = true;
    if (options_.handle_signals) {
        if (fuse_set_signal_handlers(fuse_get_session(fuse_)) != 0) {
            *error = "cannot take the signals SIGINT and SIGTERM";
            return false;
        }
        signals_taken_ = true;
    }
    SetMessages(&g_logged_messages);
    reconnector_ = std::thread([this] {
        // Signals are the serving thread's.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        ReconnectLoop();
    });
    LogLine("Mount: " + options_.mountpoint + (options_.read_write ? " (read-write)" : ""), 1);
    return true;
}

void ReceiverMount::Serve() {
    fuse_loop(fuse_);
    WriteBackAll();
    LogLine("Mount: " + options_.mountpoint + " unmounted", 1);
}

void ReceiverMount::Unmount() {
    if (!mounted_) return;
    fuse_exit(fuse_);
    if (RunFusermount(options_.mountpoint) != 0) umount2(options_.mountpoint.c_str(), MNT_DETACH);
}
