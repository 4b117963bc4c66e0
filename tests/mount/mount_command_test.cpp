// tessel mount as people run it: the built program over the emulated receiver, over an image
// read and written directly, and over that image attached as a block device; unmounted by
// Ctrl+C and by SIGTERM.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string_view>

#include "emulator/image/receiver_image.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/image_block_device.h"
#include "tests/mount/mount_fixture.h"

namespace {

// The cluster size of the fixture's image.
constexpr uint64_t kCluster = 32768;

// A hash of a whole file's bytes, to tell whether anything in it changed.
size_t FileHash(const std::string& path) {
    return std::hash<std::string>()(ReadFileBytes(path));
}

// Writes `bytes` at `offset` of the open file and applies the same write to `model`, as a
// file of the PC takes it: a gap before the offset reads as zeros.
void WriteAt(int fd, uint64_t offset, const std::string& bytes, std::string* model) {
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()))
        << "at " << offset << ": " << std::strerror(errno);
    if (model->size() < offset + bytes.size()) model->resize(offset + bytes.size(), '\0');
    model->replace(offset, bytes.size(), bytes);
}

// What the read-write runs write into Open.TS and leave open at Ctrl+C.
std::string LeftOpenBytes() {
    return RandomBytes(2 * kCluster + 100, 18);
}

// A loop device over an image file, detached when it goes out of scope.
class LoopDevice {
  public:
    // Attaches `image`; Path() is empty when this machine does not allow it.
    explicit LoopDevice(const std::string& image) {
        std::FILE* output = popen(("losetup -f --show '" + image + "' 2>/dev/null").c_str(), "r");
        if (output == nullptr) return;
        char line[256] = {};
        if (std::fgets(line, sizeof line, output) != nullptr) path_ = line;
        if (pclose(output) != 0) path_.clear();
        while (!path_.empty() && (path_.back() == '\n' || path_.back() == ' ')) path_.pop_back();
    }
    ~LoopDevice() {
        if (!path_.empty()) std::system(("losetup -d '" + path_ + "'").c_str());
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

class MountCommandTest : public MountFixture {
  protected:
    void SetUp() override {
        MountFixture::SetUp();
        setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
        setenv("XDG_STATE_HOME", folder_.File("state").c_str(), 1);
    }

    void TearDown() override {
        // A test that stopped half-way leaves no program serving its folder.
        if (running_) Stop(SIGINT);
        MountFixture::TearDown();
    }

    bool IsMounted() const {
        std::ifstream mounts("/proc/mounts");
        std::string line;
        while (std::getline(mounts, line))
            if (line.find(" " + mountpoint_ + " ") != std::string::npos) return true;
        return false;
    }

    std::string Errors() const { return ReadFileBytes(folder_.File("err.txt")); }

    // Starts tessel with `disk` (the options that choose the disk), then `mount MOUNTPOINT`
    // and with `read_write` --rw; its output goes to out.txt and err.txt. `settings` are added
    // to its environment.
    void Launch(const std::vector<std::string>& disk, bool read_write,
                std::vector<std::string> settings = {}) {
        std::vector<std::string> args = {TESSEL_PROGRAM};
        args.insert(args.end(), disk.begin(), disk.end());
        args.insert(args.end(), {"mount", mountpoint_});
        if (read_write) args.push_back("--rw");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, folder_.File("out.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, folder_.File("err.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> envp;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view current(*entry);
            bool replaced = false;
            for (const std::string& setting : settings)
                replaced =
                    replaced || current.substr(0, current.find('=') + 1) ==
                                    std::string_view(setting).substr(0, setting.find('=') + 1);
            if (!replaced) envp.push_back(*entry);
        }
        for (std::string& setting : settings) envp.push_back(setting.data());
        envp.push_back(nullptr);
        running_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }

    // Starts tessel mount on `disk`; true once the folder is mounted.
    bool StartProgram(const std::vector<std::string>& disk, bool read_write,
                      std::vector<std::string> settings = {}) {
        Launch(disk, read_write, std::move(settings));
        for (int i = 0; i < 200 && running_ && !IsMounted(); ++i) platform::SleepMs(50);
        return IsMounted();
    }

    // Waits (at most 20 s) for the program to end; its exit status, or -1. One that does not
    // end is killed and its folder unmounted.
    int Reap() {
        if (!running_) return -1;
        running_ = false;
        int status = 0;
        for (int i = 0; i < 400; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            platform::SleepMs(50);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        std::system(("fusermount3 -u -z '" + mountpoint_ + "'").c_str());
        return -1;
    }

    // Returns once the program has served every request the kernel queued before, such as
    // the release of a folder just listed: statfs is never answered from the kernel's caches.
    void Settle() {
        struct statvfs st {};
        EXPECT_EQ(Outcome(statvfs(mountpoint_.c_str(), &st)), 0);
    }

    // Sends `signal` and waits for the program; its exit status, or -1.
    int Stop(int signal) {
        if (running_) kill(pid_, signal);
        return Reap();
    }

    // The disk after WorkInReadWriteMount wrote `written`: clean, and holding what it did.
    void ExpectWorkOnDisk(const std::string& written) {
        ExpectImageClean();
        EXPECT_EQ(ImageRootNames(),
                  (std::vector<std::string>{"Done.TS", "Films", "Open.TS", "keep.TS"}));
        EXPECT_TRUE(ImageFile("C:\\Done.TS") == written);
        EXPECT_TRUE(ImageFile("C:\\Open.TS") == LeftOpenBytes());
        EXPECT_TRUE(ImageFile("C:\\keep.TS") == RandomBytes(100000, 1));
    }

    void ExpectImageClean() {
        ASSERT_TRUE(OpenBlockImage(image_, true));
        const CheckReport report = CheckReceiverDisk(image_block_driver, BlockImageSectorCount());
        CloseBlockImage();
        EXPECT_TRUE(report.Clean()) << FormatCheckReport(report);
    }

    std::string ImageFile(const std::string& path) {
        if (image::MountReceiverImage(image_) != 0) return "<no disk>";
        const std::string bytes = ReceiverBytes(path);
        image::UnmountReceiverImage();
        return bytes;
    }

    // The names in the image's root folder as stored, sorted.
    std::vector<std::string> ImageRootNames() {
        std::vector<std::string> names;
        if (image::MountReceiverImage(image_) != 0) return {"<no disk>"};
        if (pcfm_file* root = pcfm_open("C:\\", "d")) {
            pcfm_dirent entry{};
            for (entry.index = 0; pcfm_readdir(root, &entry) == 0; ++entry.index) {
                std::string name = entry.name;
                if (entry.extension[0] != '\0') name += std::string(".") + entry.extension;
                if (name != "." && name != "..") names.push_back(name);
            }
            pcfm_close(root);
        }
        image::UnmountReceiverImage();
        std::sort(names.begin(), names.end());
        return names;
    }

    // The disk the image tests start from: two files and a folder.
    void PutStartingDisk() {
        PutReceiverFile("C:\\keep.TS", RandomBytes(100000, 1));
        PutReceiverFile("C:\\old.TS", RandomBytes(70000, 2));
        PutReceiverFolder("C:\\Films");
    }

    // Mounts `disk` (the image, or a device holding it) read-write through the program and
    // works in it as a user does; the bytes of Done.TS, as written, in `written`. Ends with
    // Ctrl+C while Open.TS is open.
    void WorkInReadWriteMount(const std::string& disk, std::string* written) {
        ASSERT_TRUE(StartProgram({"--image", disk}, true)) << Errors();
        EXPECT_EQ(ListFolder(mountpoint_),
                  (std::vector<std::string>{"Films", "keep.TS", "old.TS"}));
        EXPECT_TRUE(ReadFileBytes(Mounted("keep.TS")) == RandomBytes(100000, 1));
        {
            OpenFile file(open(Mounted("rec.TS").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
            ASSERT_TRUE(file.ok()) << std::strerror(errno);
            WriteAt(file.fd(), 0, RandomBytes(1000, 10), written);
            // Beyond the first cluster, leaving a gap that reads as zeros.
            WriteAt(file.fd(), kCluster + 7232, RandomBytes(30000, 11), written);
            // Over the gap and across the first cluster boundary.
            WriteAt(file.fd(), kCluster - 768, RandomBytes(2000, 12), written);
            // Within the first bytes written.
            WriteAt(file.fd(), 500, RandomBytes(100, 13), written);
            // Onward from the end, ending in a partial cluster.
            WriteAt(file.fd(), written->size(), RandomBytes(100000, 14), written);
            // Far beyond the end: a gap of zeros and a last partial cluster.
            WriteAt(file.fd(), 6 * kCluster + 3000, RandomBytes(777, 15), written);
            EXPECT_EQ(file.Close(), 0);
        }
        {
            // An existing file written into again, in its middle and across its end.
            OpenFile file(open(Mounted("rec.TS").c_str(), O_WRONLY));
            ASSERT_TRUE(file.ok()) << std::strerror(errno);
            WriteAt(file.fd(), 3 * kCluster - 10, RandomBytes(20, 16), written);
            WriteAt(file.fd(), written->size() - 5, RandomBytes(kCluster, 17), written);
            EXPECT_EQ(file.Close(), 0);
        }
        struct stat st {};
        ASSERT_EQ(stat(Mounted("rec.TS").c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), written->size());
        EXPECT_TRUE(ReadFileBytes(Mounted("rec.TS")) == *written);

        EXPECT_EQ(Outcome(rename(Mounted("rec.TS").c_str(), Mounted("Done.TS").c_str())), 0);
        EXPECT_EQ(Outcome(mkdir(Mounted("Empty").c_str(), 0755)), 0);
        EXPECT_EQ(ListFolder(Mounted("Empty")), std::vector<std::string>{});
        EXPECT_EQ(ListFolder(mountpoint_),
                  (std::vector<std::string>{"Done.TS", "Empty", "Films", "keep.TS", "old.TS"}));
        EXPECT_EQ(Outcome(rmdir(Mounted("Empty").c_str())), 0);
        EXPECT_EQ(Outcome(unlink(Mounted("old.TS").c_str())), 0);
        EXPECT_EQ(ListFolder(mountpoint_),
                  (std::vector<std::string>{"Done.TS", "Films", "keep.TS"}));
        EXPECT_TRUE(ReadFileBytes(Mounted("Done.TS")) == *written);

        // Still open at Ctrl+C: the unmount writes it back.
        OpenFile open_file(open(Mounted("Open.TS").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
        ASSERT_TRUE(open_file.ok()) << std::strerror(errno);
        std::string left_open;
        WriteAt(open_file.fd(), 0, LeftOpenBytes(), &left_open);
        Settle();
        EXPECT_EQ(Stop(SIGINT), 0) << Errors();
        EXPECT_FALSE(IsMounted());
    }

    // Mounts `disk` read-only through the program and tries every change; each is refused.
    // Ends with Ctrl+C.
    void TryChangesInReadOnlyMount(const std::string& disk) {
        ASSERT_TRUE(StartProgram({"--image", disk}, false)) << Errors();
        EXPECT_TRUE(ReadFileBytes(Mounted("keep.TS")) == RandomBytes(100000, 1));
        EXPECT_EQ(OpenOutcome(Mounted("keep.TS"), O_WRONLY), -EROFS);
        EXPECT_EQ(OpenOutcome(Mounted("keep.TS"), O_RDWR | O_TRUNC), -EROFS);
        EXPECT_EQ(OpenOutcome(Mounted("new.TS"), O_WRONLY | O_CREAT), -EROFS);
        EXPECT_EQ(Outcome(truncate(Mounted("keep.TS").c_str(), 0)), -EROFS);
        EXPECT_EQ(Outcome(rename(Mounted("keep.TS").c_str(), Mounted("moved.TS").c_str())), -EROFS);
        EXPECT_EQ(Outcome(unlink(Mounted("old.TS").c_str())), -EROFS);
        EXPECT_EQ(Outcome(mkdir(Mounted("Folder").c_str(), 0755)), -EROFS);
        EXPECT_EQ(Outcome(rmdir(Mounted("Films").c_str())), -EROFS);
        EXPECT_EQ(ListFolder(mountpoint_),
                  (std::vector<std::string>{"Films", "keep.TS", "old.TS"}));
        Settle();
        EXPECT_EQ(Stop(SIGINT), 0) << Errors();
        EXPECT_FALSE(IsMounted());
    }

    pid_t pid_ = 0;
    bool running_ = false;
};

}  // namespace

TEST_F(MountCommandTest, CtrlCUnmountsAReadWriteMountWithEverythingWritten) {
    PutReceiverFile("C:\\film.TS", RandomBytes(500000, 1));
    ASSERT_TRUE(StartProgram({"--emulate", image_}, true)) << Errors();
    EXPECT_EQ(ListFolder(mountpoint_), std::vector<std::string>{"film.TS"});
    EXPECT_TRUE(ReadFileBytes(mountpoint_ + "/film.TS") == RandomBytes(500000, 1));
    const std::string copy = RandomBytes(700000, 2);
    WriteFileBytes(folder_.File("pc.TS"), copy);
    ASSERT_EQ(std::system(("cp '" + folder_.File("pc.TS") + "' '" + mountpoint_ + "/'").c_str()),
              0);
    EXPECT_EQ(Stop(SIGINT), 0) << Errors();
    EXPECT_FALSE(IsMounted());
    EXPECT_TRUE(ImageFile("C:\\pc.TS") == copy);
    ExpectImageClean();
}

TEST_F(MountCommandTest, SigtermUnmountsAReadOnlyMount) {
    PutReceiverFile("C:\\film.TS", "a small film");
    ASSERT_TRUE(StartProgram({"--emulate", image_}, false)) << Errors();
    EXPECT_EQ(ReadFileBytes(mountpoint_ + "/film.TS"), "a small film");
    EXPECT_NE(std::system(("touch '" + mountpoint_ + "/new.TS' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(Stop(SIGTERM), 0) << Errors();
    EXPECT_FALSE(IsMounted());
    EXPECT_EQ(ImageFile("C:\\new.TS"), "<missing>");
}

TEST_F(MountCommandTest, ImageMountedForWritingHoldsEverythingWrittenAfterCtrlC) {
    PutStartingDisk();
    std::string written;
    WorkInReadWriteMount(image_, &written);
    ExpectWorkOnDisk(written);
}

TEST_F(MountCommandTest, ImageMountedReadOnlyRefusesEveryChangeAndKeepsItsBytes) {
    PutStartingDisk();
    const size_t before = FileHash(image_);
    TryChangesInReadOnlyMount(image_);
    EXPECT_EQ(FileHash(image_), before);
}

TEST_F(MountCommandTest, CtrlCUnmountsWhileAFolderAndAFileAreOpen) {
    PutStartingDisk();
    // The library keeps a handle for each folder the kernel has open until the kernel
    // releases it, which it cannot once the program unmounted; the handles of folders still
    // open at the end are not the program's leak. A build with the leak checker is told so.
    ASSERT_TRUE(StartProgram(
        {"--image", image_}, false,
        {"LSAN_OPTIONS=suppressions=" TESSEL_SOURCE_DIR "/tests/mount/open-folder-handles.supp"}))
        << Errors();
    // As a shell standing in a folder of the mount, or a player that has a film open.
    DIR* folder = opendir(Mounted("Films").c_str());
    ASSERT_NE(folder, nullptr) << std::strerror(errno);
    errno = 0;
    EXPECT_NE(readdir(folder), nullptr) << std::strerror(errno);
    OpenFile film(open(Mounted("keep.TS").c_str(), O_RDONLY));
    EXPECT_TRUE(film.ok()) << std::strerror(errno);
    char first = 0;
    EXPECT_EQ(read(film.fd(), &first, 1), 1);
    EXPECT_EQ(Stop(SIGINT), 0) << Errors();
    EXPECT_FALSE(IsMounted());
    closedir(folder);
}

TEST_F(MountCommandTest, ImageThatCannotBeUsedEndsTheProgramWithNoMountLeft) {
    const std::string missing = folder_.File("missing.img");
    const std::string random = folder_.File("random.img");
    WriteFileBytes(random, RandomBytes(1 << 20, 3));
    const std::string empty = folder_.File("empty.img");
    WriteFileBytes(empty, "");
    struct Case {
        std::string image;
        bool read_write;
        std::string message;
    };
    const Case cases[] = {
        {missing, false, missing + ": No such file or directory"},
        {missing, true, missing + ": No such file or directory"},
        {random, false, "the receiver's disk cannot be mounted: the disk is not in the receiver's"},
        {random, true, "the receiver's disk cannot be mounted: the disk is not in the receiver's"},
        {empty, true, "the receiver's disk cannot be mounted"},
        {folder_.Path(), true, folder_.Path() + " is a folder, not a disk image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image + (c.read_write ? " --rw" : ""));
        const size_t before = FileHash(c.image);
        Launch({"--image", c.image}, c.read_write);
        EXPECT_EQ(Reap(), 1);
        EXPECT_NE(Errors().find("tessel: " + c.message), std::string::npos) << Errors();
        EXPECT_FALSE(IsMounted());
        EXPECT_EQ(ListFolder(mountpoint_), std::vector<std::string>{});
        EXPECT_EQ(FileHash(c.image), before);
    }
    // Neither kind of mount made the image that was missing.
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST_F(MountCommandTest, ImageAttachedAsBlockDeviceMountsForWritingAndForReading) {
    PutStartingDisk();
    const size_t before = FileHash(image_);
    {
        const LoopDevice device(image_);
        if (device.Path().empty())
            GTEST_SKIP() << "no loop device can be attached here (losetup -f --show needs root "
                            "and /dev/loop-control)";
        TryChangesInReadOnlyMount(device.Path());
    }
    EXPECT_EQ(FileHash(image_), before);
    std::string written;
    {
        const LoopDevice device(image_);
        ASSERT_FALSE(device.Path().empty());
        WorkInReadWriteMount(device.Path(), &written);
    }
    ExpectWorkOnDisk(written);
}
