// The command line on disks and names that could cost a user data: a hostile disk, moves and
// deletes that must not take the wrong entry, a target that is the disk itself, a full disk,
// images that must not be replaced, and commands that must only read.
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>

#include "tests/cli/cli_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

class NoLostDataCliTest : public CliFixture {
  protected:
    // Makes the hostile image beside the sample one.
    std::string HostileImage() {
        const std::string path = folder_.File("hostile.img");
        const Result made =
            Run({"mkimage", path, "--size", "64M", "--cluster", "32K", "--hostile"});
        EXPECT_EQ(made.status, 0) << made.err;
        return path;
    }

    // Every file below `root`, with its path.
    static std::vector<std::string> FilesBelow(const std::string& root) {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (!entry.is_directory()) files.push_back(entry.path().string());
        return files;
    }
};

TEST_F(NoLostDataCliTest, AHostileDiskIsListedCopiedAndCheckedWithoutHarm) {
    const std::string hostile = HostileImage();
    const std::string before = ReadFileBytes(hostile);
    ASSERT_FALSE(before.empty());

    for (const char* folder : {"C:\\", "C:\\names", "C:\\chains", "C:\\graphs", "C:\\long"}) {
        const Result ls = Run({"--image", hostile, "ls", folder});
        EXPECT_EQ(ls.status, 0) << folder << ": " << ls.err;
        // Control bytes from the disk never reach the terminal as they are.
        EXPECT_EQ(ls.out.find('\x05'), std::string::npos) << folder;
    }
    const Result check = Run({"--image", hostile, "check"});
    EXPECT_NE(check.status, 0) << check.out;

    // Everything lands inside the target folder; what could not be taken is said, and the run
    // says it did not do everything.
    const std::string outside = folder_.File("out");
    const std::string target = outside + "/target";
    fs::create_directories(target);
    const Result get = Run({"--image", hostile, "--yes-all", "get", "C:\\names", "C:\\chains",
                            "C:\\graphs", "C:\\long", "C:\\shared.bin", target});
    EXPECT_NE(get.status, 0);
    EXPECT_THAT(get.err, HasSubstr("not copied"));
    for (const std::string& file : FilesBelow(outside))
        EXPECT_EQ(file.rfind(target + "/", 0), 0u) << file << " is outside the target folder";
    EXPECT_FALSE(fs::exists(folder_.File("escape.txt")));
    EXPECT_FALSE(fs::exists(outside + "/up"));
    // A sound file comes over whole; a damaged one is never passed off as copied.
    EXPECT_EQ(ReadFileBytes(target + "/shared.bin"), std::string(70000, 's'));
    EXPECT_THAT(get.err, HasSubstr("ends_early.bin"));
    EXPECT_THAT(get.out, Not(HasSubstr("New files copied: 0\n")));

    // Only reading: the image is byte for byte what it was.
    EXPECT_TRUE(ReadFileBytes(hostile) == before);
}

TEST_F(NoLostDataCliTest, AFolderThatHoldsItselfIsCopiedOnceAndEnds) {
    const std::string hostile = HostileImage();
    fs::create_directories(folder_.File("pc"));
    const Result get =
        Run({"--image", hostile, "--yes-all", "get", "C:\\graphs", folder_.File("pc")});
    EXPECT_THAT(get.err, HasSubstr("reached a second time"));
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/graphs/nest/d00/d00/d00/d00/d00/d00/leaf.txt")),
              "leaf\n");
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/graphs/p1/child/kid.txt")), "kid\n");
    EXPECT_LT(FilesBelow(folder_.File("pc")).size(), 20u);
}

TEST_F(NoLostDataCliTest, AMoveOntoItselfSpeltOtherwiseKeepsTheFile) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\X"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "the only copy");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\X"}).status, 0);
    for (const char* spelling : {"C:/X", "c:\\X\\", "C:\\X\\.", "C:\\\\X"}) {
        const Result mv = Emulated({"mv", "C:\\X\\a.ts", spelling});
        EXPECT_EQ(mv.status, 0) << spelling << ": " << mv.err;
        fs::remove_all(folder_.File("back"));
        fs::create_directories(folder_.File("back"));
        ASSERT_EQ(Emulated({"get", "C:\\X\\a.ts", folder_.File("back")}).status, 0) << spelling;
        EXPECT_EQ(ReadFileBytes(folder_.File("back/a.ts")), "the only copy") << spelling;
    }
    ExpectClean();
}

TEST_F(NoLostDataCliTest, AMoveOntoAnExistingFileAsksFirst) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\X"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "moved");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "kept unless the user says yes");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\X"}).status, 0);

    // Without an answer (no terminal) the existing file stays, and the run says so.
    const Result unasked = Emulated({"mv", "C:\\a.ts", "C:\\X"});
    EXPECT_EQ(unasked.status, 1);
    EXPECT_THAT(unasked.err, HasSubstr("exists and is kept"));
    const Result no = Emulated({"--no-all", "mv", "C:\\a.ts", "C:\\X"});
    EXPECT_EQ(no.status, 1);
    fs::create_directories(folder_.File("back"));
    ASSERT_EQ(Emulated({"get", "C:\\X\\a.ts", folder_.File("back")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("back/a.ts")), "kept unless the user says yes");

    const Result yes = Emulated({"--yes-all", "mv", "C:\\a.ts", "C:\\X"});
    EXPECT_EQ(yes.status, 0) << yes.err;
    ASSERT_EQ(Emulated({"--yes-all", "get", "C:\\X\\a.ts", folder_.File("back")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("back/a.ts")), "moved");
    EXPECT_NE(Emulated({"get", "C:\\a.ts", folder_.File("back")}).status, 0);
    ExpectClean();
}

TEST_F(NoLostDataCliTest, TwoFilesOfOneNameMovedIntoOneFolderKeepTheSecond) {
    for (const char* folder : {"C:\\X", "C:\\Y", "C:\\Z"})
        ASSERT_EQ(Emulated({"mkdir", folder}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "from X");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\X"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "from Y");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\Y"}).status, 0);

    // Even with every replacement allowed, the second does not replace the first.
    const Result mv = Emulated({"--yes-all", "mv", "C:\\X\\a.ts", "C:\\Y\\a.ts", "C:\\Z"});
    EXPECT_EQ(mv.status, 1);
    EXPECT_THAT(mv.err, HasSubstr("is not moved"));
    fs::create_directories(folder_.File("back"));
    ASSERT_EQ(Emulated({"get", "C:\\Z\\a.ts", folder_.File("back")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("back/a.ts")), "from X");
    // One file named twice, spelt otherwise, is moved once and the run says nothing failed.
    const Result twice = Emulated({"mv", "C:\\Y\\a.ts", "C:/Y/a.ts", "C:\\X"});
    EXPECT_EQ(twice.status, 0) << twice.err;
    fs::create_directories(folder_.File("still"));
    ASSERT_EQ(Emulated({"get", "C:\\X\\a.ts", folder_.File("still")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("still/a.ts")), "from Y");
    ExpectClean();
}

TEST_F(NoLostDataCliTest, AProtectedFolderKeepsItsContents) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\JukeBox"}).status, 0);
    WriteFileBytes(folder_.File("song.mp3"), "music");
    ASSERT_EQ(Emulated({"put", folder_.File("song.mp3"), "C:\\JukeBox"}).status, 0);
    const Result rm = Emulated({"rm", "--yes", "C:\\JukeBox"});
    EXPECT_NE(rm.status, 0);
    EXPECT_THAT(rm.err, HasSubstr("write-protected"));
    fs::create_directories(folder_.File("back"));
    ASSERT_EQ(Emulated({"get", "C:\\JukeBox\\song.mp3", folder_.File("back")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("back/song.mp3")), "music");
}

TEST_F(NoLostDataCliTest, TheDiskImageIsNeverATargetOrASourceOfItsOwnCopy) {
    // The image lies in x/, and the receiver holds x\disk.img: getting C:\x here would write
    // the image over itself.
    const std::string work = folder_.File("work");
    fs::create_directories(work + "/x");
    const std::string image = work + "/x/disk.img";
    ASSERT_EQ(Run({"mkimage", image, "--size", "64M", "--cluster", "32K"}).status, 0);
    ASSERT_EQ(Run({"--image", image, "mkdir", "C:\\x"}).status, 0);
    WriteFileBytes(folder_.File("disk.img"), "a file of that name");
    ASSERT_EQ(Run({"--image", image, "put", folder_.File("disk.img"), "C:\\x"}).status, 0);
    const std::string before = ReadFileBytes(image);

    const std::string command = "cd " + Quoted(work) + " && " + Quoted(TESSEL_PROGRAM) +
                                " --image x/disk.img --yes-all get 'C:\\x' . 2>" +
                                Quoted(folder_.File("err.txt"));
    const int raw = std::system(command.c_str());
    EXPECT_NE(WEXITSTATUS(raw), 0);
    EXPECT_THAT(ReadFileBytes(folder_.File("err.txt")), HasSubstr("holds the receiver's disk"));
    EXPECT_TRUE(ReadFileBytes(image) == before);
    const Result counted =
        Run({"--image", image, "--yes-all", "get", "C:\\x\\disk.img", work + "/x"});
    EXPECT_THAT(counted.out, Not(HasSubstr("Overwritten files: 1")));

    // Nor is it copied onto the receiver it holds.
    const Result put = Run({"--image", image, "--yes-all", "put", image, "C:\\"});
    EXPECT_NE(put.status, 0);
    EXPECT_THAT(put.err, HasSubstr("holds the receiver's disk"));
    ExpectClean();
}

TEST_F(NoLostDataCliTest, AFullDiskSaysSo) {
    const std::string small = folder_.File("small.img");
    ASSERT_EQ(Run({"mkimage", small, "--size", "16M", "--cluster", "32K"}).status, 0);
    WriteFileBytes(folder_.File("big.ts"), RandomBytes(20 << 20, 3));
    const Result put =
        Run({"--image", small, "--no-space-check", "put", folder_.File("big.ts"), "C:\\"});
    EXPECT_EQ(put.status, 1);
    EXPECT_THAT(put.err, HasSubstr("the receiver's disk is full"));
    EXPECT_THAT(put.err, HasSubstr("free"));
    EXPECT_THAT(put.err, Not(HasSubstr("file exception")));
    EXPECT_EQ(Run({"--image", small, "check"}).status, 0);
}

TEST_F(NoLostDataCliTest, FreeSpaceIsWhatTheDiskHolds) {
    const std::string small = folder_.File("small.img");
    ASSERT_EQ(Run({"mkimage", small, "--size", "64M", "--cluster", "32K"}).status, 0);
    const Result df = Run({"--image", small, "df"});
    ASSERT_EQ(df.status, 0) << df.err;
    EXPECT_THAT(df.out, HasSubstr("of 64.0 MiB"));
}

TEST_F(NoLostDataCliTest, ImagesAreNeverReplacedUnasked) {
    const std::string before = ReadFileBytes(image_);
    const Result again = Run({"mkimage", image_, "--size", "64M"});
    EXPECT_EQ(again.status, 1);
    EXPECT_THAT(again.err, HasSubstr("--force"));
    EXPECT_TRUE(ReadFileBytes(image_) == before);
    EXPECT_EQ(Run({"mkimage", image_, "--size", "64M", "--force"}).status, 0);

    // A fill that fails leaves no image behind.
    const std::string failed = folder_.File("failed.img");
    EXPECT_NE(Run({"mkimage", failed, "--size", "64M", "--from", folder_.File("none")}).status, 0);
    EXPECT_FALSE(fs::exists(failed));
}

TEST_F(NoLostDataCliTest, ReadingCommandsWorkOnAnImageTheUserMayOnlyRead) {
    ASSERT_EQ(chmod(image_.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    fs::create_directories(folder_.File("pc"));
    ASSERT_EQ(chmod(folder_.File("pc").c_str(), 0777), 0);
    // As root every file may be written; the commands then run as nobody.
    const std::string as_user =
        getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const std::string before = ReadFileBytes(image_);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"check"},
                                               {"ls", "C:\\Recordings"},
                                               {"df"},
                                               {"get", "C:\\Recordings", folder_.File("pc")}}) {
        std::string command = as_user + Quoted(TESSEL_PROGRAM) + " --image " + Quoted(image_);
        for (const std::string& arg : args) command += " " + Quoted(arg);
        command += " >/dev/null 2>" + Quoted(folder_.File("ro-err.txt"));
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WEXITSTATUS(raw), 0)
            << args[0] << ": " << ReadFileBytes(folder_.File("ro-err.txt"));
    }
    EXPECT_TRUE(ReadFileBytes(image_) == before);
    const std::string write = as_user + Quoted(TESSEL_PROGRAM) + " --image " + Quoted(image_) +
                              " mkdir 'C:\\new' >/dev/null 2>" + Quoted(folder_.File("ro-err.txt"));
    EXPECT_NE(WEXITSTATUS(std::system(write.c_str())), 0);
    EXPECT_THAT(ReadFileBytes(folder_.File("ro-err.txt")), HasSubstr("Permission denied"));
}

TEST_F(NoLostDataCliTest, AnImageThatCannotBeUsedSaysWhy) {
    EXPECT_THAT(Run({"--image", folder_.File("missing.img"), "ls"}).err,
                HasSubstr("No such file or directory"));
    fs::create_directories(folder_.File("folder"));
    EXPECT_THAT(Run({"--image", folder_.File("folder"), "ls"}).err, HasSubstr("is a folder"));
    WriteFileBytes(folder_.File("text.img"), std::string(1 << 20, 'x'));
    EXPECT_THAT(Run({"--image", folder_.File("text.img"), "ls"}).err,
                HasSubstr("not in the receiver's format"));
}

TEST_F(NoLostDataCliTest, AFifoInAFolderIsReportedAndNeverOpened) {
    fs::create_directories(folder_.File("Films"));
    WriteFileBytes(folder_.File("Films/a.ts"), "film");
    ASSERT_EQ(mkfifo(folder_.File("Films/pipe").c_str(), 0644), 0);
    fs::create_symlink(folder_.File("Films/a.ts"), folder_.File("Films/link.ts"));
    const Result put = Emulated({"put", folder_.File("Films"), "C:\\"});
    EXPECT_EQ(put.status, 1);
    EXPECT_THAT(put.err, HasSubstr("pipe: not a regular file"));
    EXPECT_THAT(put.err, HasSubstr("link.ts: a symbolic link"));
    EXPECT_THAT(put.out, HasSubstr("New files copied: 1"));
}

TEST_F(NoLostDataCliTest, NamesThatCollideInOneTransferAreStoredApart) {
    fs::create_directories(folder_.File("Films"));
    const std::string stem(32, 'L');
    WriteFileBytes(folder_.File("Films/" + stem + "-first.ts"), "first");
    WriteFileBytes(folder_.File("Films/" + stem + "-second.ts"), "second");
    WriteFileBytes(folder_.File("Films/日本.ts"), "japan");
    WriteFileBytes(folder_.File("Films/中国.ts"), "china");
    const Result put = Emulated({"put", folder_.File("Films"), "C:\\"});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.out, HasSubstr("New files copied: 4"));
    // Said as the receiver holds them: characters outside its code page as "_".
    EXPECT_THAT(put.out, HasSubstr("stored as __ (2).ts"));
    fs::create_directories(folder_.File("back"));
    ASSERT_EQ(Emulated({"get", "C:\\Films", folder_.File("back")}).status, 0);
    std::vector<std::string> contents;
    for (const std::string& file : FilesBelow(folder_.File("back/Films")))
        contents.push_back(ReadFileBytes(file));
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"china", "first", "japan", "second"}));
    ExpectClean();
}

TEST_F(NoLostDataCliTest, FilesNamedLikePartsAreNoPartsOfAnotherFile) {
    WriteFileBytes(folder_.File("show~0.TP0"), RandomBytes(100000, 1));
    WriteFileBytes(folder_.File("show~1.TP0"), RandomBytes(200000, 2));
    ASSERT_EQ(
        Emulated({"put", folder_.File("show~1.TP0"), folder_.File("show~0.TP0"), "C:\\"}).status,
        0);
    fs::create_directories(folder_.File("out"));
    const Result both = Emulated({"get", "C:\\show~1.TP0", "C:\\show~0.TP0", folder_.File("out")});
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_TRUE(ReadFileBytes(folder_.File("out/show~1.TP0")) == RandomBytes(200000, 2));
    EXPECT_TRUE(ReadFileBytes(folder_.File("out/show~0.TP0")) == RandomBytes(100000, 1));
    // A PC file of such a name beside the target is never taken for a part.
    fs::create_directories(folder_.File("out2"));
    WriteFileBytes(folder_.File("out2/show~1.TP0"), "precious");
    EXPECT_EQ(Emulated({"get", "C:\\show~0.TP0", folder_.File("out2")}).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_.File("out2/show~1.TP0")), "precious");
}

TEST_F(NoLostDataCliTest, NothingIsWrittenThroughASymbolicLinkInTheTarget) {
    WriteFileBytes(folder_.File("a.ts"), "receiver bytes");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\"}).status, 0);
    ASSERT_EQ(Emulated({"mkdir", "C:\\D"}).status, 0);
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\D"}).status, 0);
    fs::create_directories(folder_.File("out"));
    fs::create_directories(folder_.File("elsewhere"));
    WriteFileBytes(folder_.File("victim"), "precious data");
    fs::create_symlink(folder_.File("victim"), folder_.File("out/a.ts"));
    fs::create_symlink(folder_.File("elsewhere"), folder_.File("out/D"));
    const Result kept = Emulated({"--no-all", "get", "C:\\a.ts", folder_.File("out")});
    EXPECT_THAT(kept.out, HasSubstr("Skipped by user: 1"));
    const Result yes = Emulated({"--yes-all", "get", "C:\\a.ts", "C:\\D", folder_.File("out")});
    EXPECT_EQ(yes.status, 1);
    EXPECT_THAT(yes.err, HasSubstr("symbolic link"));
    EXPECT_EQ(ReadFileBytes(folder_.File("victim")), "precious data");
    EXPECT_TRUE(fs::is_empty(folder_.File("elsewhere")));
}

TEST_F(NoLostDataCliTest, ASecondRunOnADiskInUseIsRefused) {
    // Another run holds the disk: this process takes the lock that run would hold.
    const int fd = open(image_.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    WriteFileBytes(folder_.File("a.ts"), "a");
    const Result put = Run({"--image", image_, "put", folder_.File("a.ts"), "C:\\"});
    EXPECT_EQ(put.status, 1);
    EXPECT_THAT(put.err, HasSubstr("in use by another run"));
    const Result emulated = Emulated({"ls"});
    EXPECT_THAT(emulated.err, HasSubstr("in use by another run"));
    close(fd);
    EXPECT_EQ(Run({"--image", image_, "put", folder_.File("a.ts"), "C:\\"}).status, 0);
}

TEST_F(NoLostDataCliTest, NewNamesNeverMoveAnEntryOrLoseAnImage) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\X"}).status, 0);
    WriteFileBytes(folder_.File("b.ts"), "b");
    ASSERT_EQ(Emulated({"put", folder_.File("b.ts"), "C:\\"}).status, 0);
    const Result slash = Emulated({"rename", "C:\\b.ts", "X/b.ts"});
    EXPECT_EQ(slash.status, 1);
    EXPECT_THAT(slash.err, HasSubstr("not allowed"));
    EXPECT_EQ(Emulated({"get", "C:\\b.ts", folder_.Path()}).status, 0);
    // A replacement image that cannot be filled leaves the old one as it was.
    const std::string before = ReadFileBytes(image_);
    EXPECT_NE(
        Run({"mkimage", image_, "--size", "64M", "--force", "--from", folder_.File("none")}).status,
        0);
    EXPECT_TRUE(ReadFileBytes(image_) == before);
}

}  // namespace
