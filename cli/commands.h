// The subcommands of tessel, each over an opened disk. Each returns the exit status: 0 done,
// 1 failed (after a message that names the path and the reason).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/terminal_progress.h"

struct CopyOptions {
    OverwritePolicy policy = OverwritePolicy::kAsk;
    // How long a copy waits for a receiver that went away; 0 until it is back or Ctrl+C.
    uint32_t wait_seconds = 0;
    // A transfer that would not fit in the target's free space is refused before it begins.
    bool check_space = true;
    // The PC side works beside the link (off: for measuring what that brings).
    bool overlap = true;
    // Each copied file is read back and compared with its source.
    bool verify = false;
};

int ListFolder(const std::string& folder, const std::string& filter, bool long_listing);
int GetFiles(const std::vector<std::string>& sources, const std::string& pc_folder,
             const CopyOptions& options);
int PutFiles(const std::vector<std::string>& sources, const std::string& receiver_folder,
             const CopyOptions& options);
// What sync may do beyond copying.
struct SyncOptions {
    // Deletes sync's own, unchanged copies of receiver files that are gone.
    bool delete_gone = false;
    // Says what would be done and changes nothing.
    bool dry_run = false;
};
// Brings the PC folder in step with the contents of the receiver folder: new files copied,
// grown ones resumed, equal ones kept; a PC file that differs otherwise is kept and reported.
int SyncFolder(const std::string& receiver_folder, const std::string& pc_folder,
               const CopyOptions& copy, const SyncOptions& options);
int MoveEntries(const std::vector<std::string>& sources, const std::string& receiver_folder,
                const CopyOptions& options);
int RenameEntry(const std::string& path, const std::string& new_name);
int EpgRename(const std::vector<std::string>& paths);
// Deleting folders asks first on a terminal; `confirmed` (--yes) answers for scripts.
int RemoveEntries(const std::vector<std::string>& paths, bool confirmed);
int MakeFolder(const std::string& path);
int RemoveFolder(const std::string& path);
int ShowFreeSpace();
// Serves the receiver's disk as the folder `mountpoint` until it is unmounted (fusermount3 -u,
// Ctrl+C, SIGTERM).
int MountReceiver(const std::string& mountpoint, bool read_write);

// Text from the disk as it may reach a terminal: control bytes written as \xNN, so that no
// name can carry an escape sequence.
// With `keep_lines` the line breaks of a report stay.
std::string Visible(const std::string& text, bool keep_lines = false);
// What is wrong with a receiver path as typed (empty, another drive, not starting with C:,
// wildcards); empty when nothing is.
std::string ReceiverPathProblem(const std::string& path);
