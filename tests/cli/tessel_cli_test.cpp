// The tessel command line as people run it: the built program, on disk images in a temporary
// folder, over the emulated receiver or the image directly.
#include "tests/cli/cli_fixture.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using namespace cli_test;

class TesselCliTest : public CliFixture {};

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

// The wait has no bound of its own: a receiver back after more than twenty tries (about
// twenty seconds) is still waited for, and the copy completes in the same run.
TEST_F(TesselCliTest, ACopyWaitsBeyondTwentyTriesForAReceiverThatComesBack) {
    const std::string data = RandomBytes(3 * 1048576 + 5, 14);
    WriteFileBytes(folder_.File("rec.ts"), data);
    const Result put =
        Emulated({"put", folder_.File("rec.ts"), "C:\\"}, "unplug-at=25,replug-after=23000");
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.err, HasSubstr("try 21"));
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
    EXPECT_THAT(lost.err, HasSubstr("run the same command again with --resume"));
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
    EXPECT_EQ(stopped.status, 130) << stopped.err;
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
