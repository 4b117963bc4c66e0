// The tessel command line as people run it: the built program, on disk images in a temporary
// folder, over the emulated receiver or the image directly.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string RandomBytes(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

// The megabytes the last progress line ("... 9 MB of 24 MB, ...") reports; -1 before one.
int CopiedMegabytes(const std::string& progress) {
    const size_t of = progress.rfind(" MB of ");
    if (of == std::string::npos) return -1;
    size_t start = of;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(progress[start - 1]))) --start;
    return start == of ? -1 : std::atoi(progress.substr(start, of - start).c_str());
}

class TesselCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The program's settings and log go to the test's own folders.
        setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
        setenv("XDG_STATE_HOME", folder_.File("state").c_str(), 1);
        image_ = folder_.File("receiver.img");
        ASSERT_EQ(Run({"mkimage", image_, "--size", "256M", "--cluster", "32K", "--sample"}).status,
                  0);
    }

    Result Run(const std::vector<std::string>& args) {
        std::string command = Quoted(TESSEL_PROGRAM);
        for (const std::string& arg : args) command += " " + Quoted(arg);
        const std::string out = folder_.File("out.txt"), err = folder_.File("err.txt");
        command += " </dev/null >" + Quoted(out) + " 2>" + Quoted(err);
        const int raw = std::system(command.c_str());
        Result result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadFileBytes(out);
        result.err = ReadFileBytes(err);
        return result;
    }

    // Starts the program with its output in files and interrupts it, as Ctrl+C does, once its
    // progress line says `megabytes` MB have been copied (or after 30 s).
    Result RunInterrupted(const std::vector<std::string>& args, int megabytes) {
        std::vector<std::string> all = {TESSEL_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string out = folder_.File("out.txt"), err = folder_.File("err.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        Result result;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return result;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 3000 && CopiedMegabytes(ReadFileBytes(err)) < megabytes; ++i)
            usleep(10000);
        kill(pid, SIGINT);
        int raw = 0;
        waitpid(pid, &raw, 0);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadFileBytes(out);
        result.err = ReadFileBytes(err);
        return result;
    }

    // Over the emulated receiver, with its fault options when given.
    Result Emulated(std::vector<std::string> args, const std::string& faults = "") {
        std::vector<std::string> all = {"--emulate", image_};
        if (!faults.empty()) all.insert(all.end(), {"--emulate-fault", faults});
        all.insert(all.end(), args.begin(), args.end());
        return Run(all);
    }

    // C:\rec.ts holds `data`, read back directly from the image, and the disk is clean.
    void ExpectOnReceiver(const std::string& data) {
        std::filesystem::create_directories(folder_.File("back"));
        ASSERT_EQ(
            Run({"--image", image_, "--yes-all", "get", "C:\\rec.ts", folder_.File("back")}).status,
            0);
        EXPECT_TRUE(ReadFileBytes(folder_.File("back/rec.ts")) == data);
        ExpectClean();
    }

    void ExpectClean() {
        const Result check = Run({"--image", image_, "check"});
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }

    TempFolder folder_;
    std::string image_;
};

TEST_F(TesselCliTest, AFolderTreeGoesOnAndComesBackByteForByte) {
    namespace fs = std::filesystem;
    fs::create_directories(folder_.File("Films/Series/Season 1"));
    const std::vector<std::pair<std::string, size_t>> files = {
        {"Films/a.ts", 0},
        {"Films/b.TP0", 3 * 1048576 + 5},
        {"Films/Series/c.txt", 513},
        {"Films/Series/Season 1/d.ts", 70000}};
    for (size_t i = 0; i < files.size(); ++i)
        WriteFileBytes(folder_.File(files[i].first), RandomBytes(files[i].second, i));

    const Result put = Emulated({"put", folder_.File("Films"), "C:\\"});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.out, HasSubstr("File Transfer Summary"));
    EXPECT_THAT(put.out, HasSubstr("New files copied: 4"));

    fs::create_directories(folder_.File("back"));
    const Result get = Emulated({"get", "C:\\Films", folder_.File("back")});
    ASSERT_EQ(get.status, 0) << get.err;
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_TRUE(ReadFileBytes(folder_.File("back/" + files[i].first)) ==
                    RandomBytes(files[i].second, i))
            << files[i].first;
    ExpectClean();
}

TEST_F(TesselCliTest, ListingHasThePaneColumnsAndTheFilterNarrowsIt) {
    const Result all = Emulated({"ls", "C:\\Recordings"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_THAT(all.out, HasSubstr("EPG Info"));
    EXPECT_THAT(all.out, HasSubstr("Tagesschau"));
    const Result some = Run({"--image", image_, "ls", "C:\\Recordings", "--filter", "tagesschau"});
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_THAT(some.out, HasSubstr("Tagesschau"));
    EXPECT_LT(some.out.size(), all.out.size());
}

TEST_F(TesselCliTest, ErrorsNameThePathAndTheReason) {
    std::filesystem::create_directories(folder_.File("pc"));
    const Result missing = Emulated({"get", "C:\\nothing.TP0", folder_.File("pc")});
    EXPECT_NE(missing.status, 0);
    EXPECT_THAT(missing.err, HasSubstr("C:\\nothing.TP0 is not on the receiver"));

    const Result no_folder = Emulated({"get", "C:\\Archive", folder_.File("absent")});
    EXPECT_NE(no_folder.status, 0);
    EXPECT_THAT(no_folder.err, HasSubstr(folder_.File("absent")));

    const Result not_empty = Emulated({"rmdir", "C:\\Archive"});
    EXPECT_NE(not_empty.status, 0);
    EXPECT_THAT(not_empty.err, HasSubstr("the folder is not empty"));

    const Result protected_file = Emulated({"rm", "C:\\tm_shift.000"});
    EXPECT_NE(protected_file.status, 0);
    EXPECT_TRUE(Emulated({"ls", "C:\\"}).out.find("tm_shift.000") != std::string::npos);

    const Result no_disk = Run({"--emulate", folder_.File("absent.img"), "ls"});
    EXPECT_NE(no_disk.status, 0);
    EXPECT_THAT(no_disk.err, HasSubstr("absent.img"));
    ExpectClean();
}

TEST_F(TesselCliTest, FoldersAreMadeRenamedAndRemoved) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\Kept"}).status, 0);
    ASSERT_EQ(Emulated({"rename", "C:\\Kept", "Archiv"}).status, 0);
    EXPECT_THAT(Emulated({"ls", "C:\\"}).out, HasSubstr("Archiv"));
    ASSERT_EQ(Emulated({"rmdir", "C:\\Archiv"}).status, 0);
    EXPECT_THAT(Emulated({"ls", "C:\\"}).out, Not(HasSubstr("Archiv ")));
    ExpectClean();
}

TEST_F(TesselCliTest, OverwriteAnswersForScripts) {
    std::filesystem::create_directories(folder_.File("pc"));
    WriteFileBytes(folder_.File("pc/readme.txt"), "mine");
    const Result kept =
        Emulated({"--no-all", "get", "C:\\Archive\\readme.txt", folder_.File("pc")});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/readme.txt")), "mine");
    const Result replaced =
        Emulated({"--yes-all", "get", "C:\\Archive\\readme.txt", folder_.File("pc")});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/readme.txt")), "Sample archive\r\n");
    EXPECT_THAT(replaced.out, HasSubstr("Overwritten files: 1"));
}

TEST_F(TesselCliTest, ACopyWaitsForAReceiverThatIsPluggedInAgain) {
    const std::string data = RandomBytes(4 * 1048576 + 99, 11);
    WriteFileBytes(folder_.File("rec.ts"), data);
    const Result put =
        Emulated({"put", folder_.File("rec.ts"), "C:\\"}, "unplug-at=30,replug-after=700");
    ASSERT_EQ(put.status, 0) << put.err;
    ExpectOnReceiver(data);
}

TEST_F(TesselCliTest, AReceiverThatStaysAwayFailsTheCopyAndTheNextRunResumesIt) {
    // Without a bound the copy waits until the receiver is back or Ctrl+C; --wait bounds it.
    const std::string data = RandomBytes(40 * 1048576 + 7, 12);
    WriteFileBytes(folder_.File("rec.ts"), data);
    const Result lost = Emulated({"--wait", "3", "put", folder_.File("rec.ts"), "C:\\"},
                                 "unplug-after-bytes=26214400");
    EXPECT_NE(lost.status, 0);
    EXPECT_THAT(lost.err, HasSubstr("did not come back within 3 s"));
    EXPECT_THAT(lost.err, HasSubstr("run the same command again"));
    ExpectClean();

    const Result again = Emulated({"--yes-all", "put", folder_.File("rec.ts"), "C:\\"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("Resumed files: 1"));
    ExpectOnReceiver(data);
}

TEST_F(TesselCliTest, CtrlCStopsTheCopyAndTheNextRunResumesIt) {
    const std::string data = RandomBytes(24 * 1048576 + 3, 13);
    WriteFileBytes(folder_.File("rec.ts"), data);
    // 4 ms a command: the copy of 384 chunks takes about 1.5 s; it is stopped after 6 MB.
    const Result stopped = RunInterrupted({"--emulate", image_, "--emulate-fault", "latency=4",
                                           "put", folder_.File("rec.ts"), "C:\\"},
                                          6);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_THAT(stopped.err, HasSubstr("stopped; the partial file stays"));
    ExpectClean();

    const Result again = Emulated({"--yes-all", "put", folder_.File("rec.ts"), "C:\\"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_THAT(again.out, HasSubstr("Resumed files: 1"));
    ExpectOnReceiver(data);
}

TEST_F(TesselCliTest, RecordingsAreRenamedAfterTheirProgrammeTitle) {
    const Result renamed = Emulated({"epg-rename", "C:\\Recordings"});
    ASSERT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_THAT(renamed.out, HasSubstr("renamed"));
    EXPECT_THAT(renamed.out, Not(HasSubstr("0 recording(s) renamed")));
    ExpectClean();
}

TEST_F(TesselCliTest, HelpDescribesEverySubcommand) {
    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"ls", "get", "put", "mv", "rename", "epg-rename", "rm", "mkdir",
                                "rmdir", "df", "check", "mkimage", "devices"}) {
        EXPECT_THAT(help.out, HasSubstr(std::string("  ") + command + " ")) << command;
        EXPECT_EQ(Run({command, "--help"}).status, 0) << command;
    }
}

}  // namespace
