// A lock on a whole file, held while a program works on it: one writer, or any number of
// readers. Two runs never mount one disk image (or device) for writing at the same time.
#pragma once

#include <string>

namespace platform {

class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock without waiting: exclusive, or shared for a reader. False with the
    // reason when another process holds it (or the file cannot be opened).
    bool Take(const std::string& path, bool shared, std::string* error);
    void Release();

  private:
    int fd_ = -1;
};

}  // namespace platform
