#include "tests/mount/mount_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "emulator/image/receiver_image.h"
#include "platform/tick_count.h"
#include "pvrdisk/pcfm.h"

std::vector<std::string> ListFolder(const std::string& path, int* error) {
    std::vector<std::string> names;
    if (error != nullptr) *error = 0;
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) {
        if (error != nullptr) *error = errno;
        return names;
    }
    errno = 0;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (error != nullptr) *error = errno;
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

OpenFile::~OpenFile() {
    if (fd_ >= 0) close(fd_);
}

int OpenFile::Close() {
    const int result = Outcome(close(fd_));
    fd_ = -1;
    return result;
}

int OpenOutcome(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) return -errno;
    close(fd);
    return 0;
}

int Outcome(int result) {
    return result < 0 ? -errno : result;
}

void MountFixture::SetUp() {
    ReceiverFixture::SetUp();
    MakeImage(64ull << 20, 32768);
    mountpoint_ = folder_.File("mnt");
    ASSERT_EQ(mkdir(mountpoint_.c_str(), 0755), 0);
}

void MountFixture::TearDown() {
    if (mount_) StopMount();
    ReceiverFixture::TearDown();
}

void MountFixture::PutReceiverFile(const std::string& path, const std::string& bytes) {
    ASSERT_EQ(image::MountReceiverImage(image_), 0);
    pcfm_file* file = pcfm_open(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(pcfm_write(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(pcfm_close(file), 0);
    image::UnmountReceiverImage();
}

void MountFixture::PutReceiverFolder(const std::string& path) {
    ASSERT_EQ(image::MountReceiverImage(image_), 0);
    ASSERT_EQ(pcfm_mkdir(path.c_str()), 0) << path;
    image::UnmountReceiverImage();
}

void MountFixture::StartMount(bool read_write) {
    MountOptions options;
    options.mountpoint = mountpoint_;
    options.read_write = read_write;
    options.reconnect_interval_ms = 100;
    mount_ = std::make_unique<ReceiverMount>(connection_, options);
    std::string error;
    ASSERT_TRUE(mount_->Mount(&error)) << error;
    served_ = false;
    serving_ = std::thread([this] {
        mount_->Serve();
        served_ = true;
    });
    // Answered by the serving thread.
    struct stat st {};
    ASSERT_EQ(stat(mountpoint_.c_str(), &st), 0);
    connection_number_ = minor(st.st_dev);
}

void MountFixture::JoinServing() {
    for (int i = 0; i < 400 && !served_; ++i) platform::SleepMs(50);
    if (!served_) {
        ADD_FAILURE() << "the mount is still served 20 s after its unmount; aborting it";
        std::system(
            "mountpoint -q /sys/fs/fuse/connections || "
            "mount -t fusectl none /sys/fs/fuse/connections");
        const std::string abort =
            "/sys/fs/fuse/connections/" + std::to_string(connection_number_) + "/abort";
        const int fd = open(abort.c_str(), O_WRONLY);
        EXPECT_TRUE(fd >= 0 && write(fd, "1", 1) == 1) << "cannot abort " << abort;
        if (fd >= 0) close(fd);
    }
    serving_.join();
}

void MountFixture::StopMount() {
    const std::string command = "fusermount3 -u '" + mountpoint_ + "'";
    int status = -1;
    // A mount still busy for a moment (a file the kernel is letting go) is tried again.
    for (int i = 0; i < 20 && status != 0; ++i) {
        status = std::system(command.c_str());
        if (status != 0) platform::SleepMs(100);
    }
    EXPECT_EQ(status, 0) << "fusermount3 -u failed";
    if (status != 0) mount_->Unmount();
    JoinServing();
    mount_.reset();
}

bool MountFixture::WaitUntilBack(int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (!mount_->LinkLost()) return true;
        platform::SleepMs(50);
    }
    return false;
}

std::string MountFixture::ReceiverBytes(const std::string& path) {
    pcfm_file* file = pcfm_open(path.c_str(), "rb");
    if (file == nullptr) return "<missing>";
    std::string bytes;
    char piece[65536];
    for (size_t n; (n = pcfm_read(piece, 1, sizeof piece, file)) > 0;) bytes.append(piece, n);
    pcfm_close(file);
    return bytes;
}
