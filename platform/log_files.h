// The file work the diagnostic log needs, behind a small interface so that the log itself holds
// no operating-system calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Creates one folder; "already exists" and every other failure are reported as false.
bool CreateFolder(const std::string& path);

// Whether the folder exists and may be entered.
bool CanEnterFolder(const std::string& path);

struct FoundFile {
    std::string path;
    // Creation time in nanoseconds since the epoch, or the last-write time on a file system
    // that keeps no creation time.
    int64_t created_ns = 0;
};

// The files in `folder` whose names start with `prefix` and end with `suffix` ("Debug", ".log"),
// in the order the folder lists them.
std::vector<FoundFile> ListFiles(const std::string& folder, const std::string& prefix,
                                 const std::string& suffix);

bool DeleteFile(const std::string& path);

// A file opened with create-or-truncate for writing, which other processes may read and write
// while it is open. Each Write goes to the operating system at once, so nothing is left in a
// buffer of ours when the program crashes or hangs.
class SharedWriteFile {
  public:
    SharedWriteFile() = default;
    ~SharedWriteFile();
    SharedWriteFile(const SharedWriteFile&) = delete;
    SharedWriteFile& operator=(const SharedWriteFile&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    // Writes all bytes or reports false.
    bool Write(const void* data, size_t size);
    void Close();
    const std::string& Path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace platform
