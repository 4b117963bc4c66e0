// A receiver disk with a few folders and files, served by the emulated receiver and mounted
// through FUSE by the library on a thread of the test.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mount/receiver_mount.h"
#include "tests/transfer/receiver_fixture.h"

class MountFixture : public ReceiverFixture {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes receiver files and folders into the image, before Connect.
    void PutReceiverFile(const std::string& path, const std::string& bytes);
    void PutReceiverFolder(const std::string& path);

    void StartMount(bool read_write);
    // Unmounts as a user does (fusermount3 -u) and waits for the serving thread.
    void StopMount();
    // Waits for the serving thread; a mount that is still served after 20 s fails the test and
    // has its connection aborted, so that the test program does not hang on it.
    void JoinServing();
    // Waits until the mount has the receiver back; false after `seconds`.
    bool WaitUntilBack(int seconds);

    // A file's bytes read back through the file system, once the mount is stopped.
    std::string ReceiverBytes(const std::string& path);

    std::string Mounted(const std::string& relative) const { return mountpoint_ + "/" + relative; }

    std::string mountpoint_;
    std::unique_ptr<ReceiverMount> mount_;
    std::thread serving_;
    std::atomic<bool> served_{false};
    // The kernel's number of the FUSE connection, for aborting a mount that does not end.
    unsigned connection_number_ = 0;
};

// A descriptor closed when it goes out of scope, so that a test that stops half-way leaves no
// file open on the mount (the unmount would wait for it).
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // close's result, as -errno.
    int Close();

  private:
    int fd_;
};

// The names a folder lists, sorted; with `error` its errno when it cannot be listed.
std::vector<std::string> ListFolder(const std::string& path, int* error = nullptr);
// Opens and closes at once: 0, or -errno.
int OpenOutcome(const std::string& path, int flags);
// -errno of a failed call, or its result.
int Outcome(int result);
