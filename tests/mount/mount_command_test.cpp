// tessel mount as people run it: the built program over the emulated receiver, unmounted by
// Ctrl+C and by SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "emulator/image/receiver_image.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/image_block_device.h"
#include "tests/mount/mount_fixture.h"

namespace {

class MountCommandTest : public MountFixture {
  protected:
    void SetUp() override {
        MountFixture::SetUp();
        setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
        setenv("XDG_STATE_HOME", folder_.File("state").c_str(), 1);
    }

    bool Mounted() const {
        std::ifstream mounts("/proc/mounts");
        std::string device, point;
        std::string line;
        while (std::getline(mounts, line))
            if (line.find(" " + mountpoint_ + " ") != std::string::npos) return true;
        return false;
    }

    // Starts tessel mount; true once the folder is mounted.
    bool StartProgram(bool read_write) {
        std::vector<std::string> args = {TESSEL_PROGRAM, "--emulate", image_, "mount", mountpoint_};
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
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return false;
        for (int i = 0; i < 200 && !Mounted(); ++i) platform::SleepMs(50);
        return Mounted();
    }

    // Sends `signal` and waits (at most 20 s) for the program; its exit status, or -1.
    int Stop(int signal) {
        kill(pid_, signal);
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

    pid_t pid_ = 0;
};

}  // namespace

TEST_F(MountCommandTest, CtrlCUnmountsAReadWriteMountWithEverythingWritten) {
    PutReceiverFile("C:\\film.TS", RandomBytes(500000, 1));
    ASSERT_TRUE(StartProgram(true)) << ReadFileBytes(folder_.File("err.txt"));
    EXPECT_EQ(ListFolder(mountpoint_), std::vector<std::string>{"film.TS"});
    EXPECT_TRUE(ReadFileBytes(mountpoint_ + "/film.TS") == RandomBytes(500000, 1));
    const std::string copy = RandomBytes(700000, 2);
    WriteFileBytes(folder_.File("pc.TS"), copy);
    ASSERT_EQ(std::system(("cp '" + folder_.File("pc.TS") + "' '" + mountpoint_ + "/'").c_str()),
              0);
    EXPECT_EQ(Stop(SIGINT), 0) << ReadFileBytes(folder_.File("err.txt"));
    EXPECT_FALSE(Mounted());
    EXPECT_TRUE(ImageFile("C:\\pc.TS") == copy);
    ExpectImageClean();
}

TEST_F(MountCommandTest, SigtermUnmountsAReadOnlyMount) {
    PutReceiverFile("C:\\film.TS", "a small film");
    ASSERT_TRUE(StartProgram(false)) << ReadFileBytes(folder_.File("err.txt"));
    EXPECT_EQ(ReadFileBytes(mountpoint_ + "/film.TS"), "a small film");
    EXPECT_NE(std::system(("touch '" + mountpoint_ + "/new.TS' 2>/dev/null").c_str()), 0);
    EXPECT_EQ(Stop(SIGTERM), 0) << ReadFileBytes(folder_.File("err.txt"));
    EXPECT_FALSE(Mounted());
    EXPECT_EQ(ImageFile("C:\\new.TS"), "<missing>");
}
