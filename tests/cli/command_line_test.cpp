// tessel as people use it: options where they type them, names they can type, messages that
// say what to do, exit codes scripts can rely on, output that reads well in a log.

#include <algorithm>

#include "tests/cli/cli_fixture.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

using namespace cli_test;
namespace fs = std::filesystem;

class CommandLineTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        fs::create_directories(folder_.File("pc"));
    }
};

TEST_F(CommandLineTest, OptionsStandBeforeOrAfterTheSubcommand) {
    WriteFileBytes(folder_.File("a.ts"), "first");
    ASSERT_EQ(Run({"put", "--emulate", image_, folder_.File("a.ts"), "C:\\"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "second");
    const Result before =
        Run({"--emulate", image_, "put", "--yes-all", folder_.File("a.ts"), "C:\\"});
    EXPECT_EQ(before.status, 0) << before.err;
    EXPECT_THAT(before.out, HasSubstr("Overwritten files: 1"));
    WriteFileBytes(folder_.File("a.ts"), "the third");
    const Result after = Run({"put", folder_.File("a.ts"), "C:\\", "--image", image_, "--no-all"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_THAT(after.out, HasSubstr("Skipped by user: 1"));
}

TEST_F(CommandLineTest, WrongUsageIsRefusedWithStatusTwoAndSaysWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"lst"}, "unknown subcommand 'lst'; did you mean 'ls'?"},
        {{"--image", image_, "--emulate", image_, "ls"}, "give one disk"},
        {{"--image", image_, "--emulate-fault", "latency=1", "ls"}, "--emulate-fault goes with"},
        {{"--image", image_, "--yes-all", "--no-all", "put", "x", "C:\\"}, "exclude each other"},
        {{"--image", image_, "ls", "Recordings"}, "receiver paths start with C:\\"},
        {{"--image", image_, "ls", "D:\\x"}, "one drive, C:"},
        {{"--image", image_, "ls", ""}, "an empty receiver path"},
        {{"--image", image_, "rm", "C:\\*.TP0"}, "wildcards are not supported"},
        {{"--device", "12345", "ls"}, "--device is '12345', which is no USB id"},
    };
    for (const auto& [args, message] : cases) {
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << args[0] << ": " << result.err;
        EXPECT_THAT(result.err, HasSubstr(message)) << args[0];
    }
    setenv("TESSEL_USB_DEVICE", "nonsense", 1);
    const Result from_environment = Run({"ls"});
    unsetenv("TESSEL_USB_DEVICE");
    EXPECT_EQ(from_environment.status, 2);
    EXPECT_THAT(from_environment.err, HasSubstr("TESSEL_USB_DEVICE is 'nonsense'"));
}

TEST_F(CommandLineTest, VersionHelpAndTheUsageLineNameTheProgram) {
    const Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_THAT(version.out, StartsWith("tessel "));
    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: tessel"));
    EXPECT_THAT(help.out, Not(HasSubstr("/cli/tessel")));
    EXPECT_THAT(help.out, HasSubstr("130"));
}

TEST_F(CommandLineTest, RecordingsAreListedAndReachedByTheNameShown) {
    const Result listed = Run({"--image", image_, "ls", "-l", "C:\\Recordings"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    // 12&&Märchen.TP0 is shown as Märchen.TP0, and -l shows the stored name too.
    EXPECT_THAT(listed.out, HasSubstr("12&&Märchen.TP0"));
    const Result got =
        Run({"--image", image_, "get", "C:\\Recordings\\Märchen.TP0", folder_.File("pc")});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_TRUE(fs::exists(folder_.File("pc/12&&Märchen.TP0")));
    const Result near = Run({"--image", image_, "ls", "C:\\recordings"});
    EXPECT_EQ(near.status, 1);
    EXPECT_THAT(near.err, HasSubstr("did you mean C:\\Recordings?"));
}

TEST_F(CommandLineTest, TheWholeDiskIsCopiedFromItsRoot) {
    const Result got = Run({"--image", image_, "get", "C:\\", folder_.File("pc")});
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_TRUE(fs::is_directory(folder_.File("pc/Recordings")));
    EXPECT_TRUE(fs::exists(folder_.File("pc/tm_shift.000")));
}

TEST_F(CommandLineTest, NamesChangedForTheReceiverAreSaidAndEmptyNamesRefused) {
    WriteFileBytes(folder_.File("what?.ts"), "x");
    const Result put = Emulated({"put", folder_.File("what?.ts"), "C:\\"});
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.out, HasSubstr("stored as what,.ts"));
    ASSERT_EQ(Emulated({"mkdir", "C:\\two"}).status, 0);
    const Result dots = Emulated({"rename", "C:\\two", ".."});
    EXPECT_EQ(dots.status, 1);
    EXPECT_THAT(dots.err, HasSubstr("not allowed"));
    const Result blank = Emulated({"rename", "C:\\two", "  "});
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(Emulated({"ls", "C:\\two"}).status, 0);
}

TEST_F(CommandLineTest, WithoutATerminalNothingIsOverwrittenUnaskedAndResumeSaysHow) {
    const std::string data = RandomBytes(5 << 20, 4);
    WriteFileBytes(folder_.File("rec.ts"), data);
    ASSERT_EQ(Emulated({"put", folder_.File("rec.ts"), "C:\\"}).status, 0);
    // A partial copy on the PC and a complete other file.
    WriteFileBytes(folder_.File("pc/rec.ts"), data.substr(0, 3 << 20));
    WriteFileBytes(folder_.File("other.ts"), "other");
    ASSERT_EQ(Emulated({"put", folder_.File("other.ts"), "C:\\"}).status, 0);
    WriteFileBytes(folder_.File("pc/other.ts"), "a different file of the same name");

    const Result unasked = Emulated({"get", "C:\\rec.ts", "C:\\other.ts", folder_.File("pc")});
    EXPECT_EQ(unasked.status, 1);
    EXPECT_THAT(unasked.err, EndsWith("or --no-all to keep them\n"));
    EXPECT_THAT(unasked.err, HasSubstr("2 existing file(s) kept without asking"));
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/rec.ts")).size(), 3u << 20);

    const Result resumed =
        Emulated({"--resume", "get", "C:\\rec.ts", "C:\\other.ts", folder_.File("pc")});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_THAT(resumed.out, HasSubstr("Resumed files: 1"));
    EXPECT_TRUE(ReadFileBytes(folder_.File("pc/rec.ts")) == data);
    EXPECT_EQ(ReadFileBytes(folder_.File("pc/other.ts")), "a different file of the same name");
}

TEST_F(CommandLineTest, ResumeKeepsAShorterFileThatIsNoPartOfTheSource) {
    const std::string data = RandomBytes(5 << 20, 4);
    WriteFileBytes(folder_.File("rec.ts"), data);
    ASSERT_EQ(Emulated({"put", folder_.File("rec.ts"), "C:\\"}).status, 0);
    const std::string other = RandomBytes(3 << 20, 9);
    WriteFileBytes(folder_.File("pc/rec.ts"), other);
    const Result resumed = Emulated({"--resume", "get", "C:\\rec.ts", folder_.File("pc")});
    EXPECT_EQ(resumed.status, 1);
    EXPECT_THAT(resumed.err, HasSubstr("not a partial copy"));
    EXPECT_TRUE(ReadFileBytes(folder_.File("pc/rec.ts")) == other);
}

TEST_F(CommandLineTest, DeletingFoldersAsksOrTakesYesAndAMissingPathStopsEverything) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\old"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "a");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\old"}).status, 0);
    const Result unasked = Emulated({"rm", "C:\\old"});
    EXPECT_EQ(unasked.status, 1);
    EXPECT_THAT(unasked.err, HasSubstr("1 file(s) and 1 folder(s); give --yes"));
    const Result missing = Emulated({"rm", "--yes", "C:\\old", "C:\\nothing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("C:\\nothing is not on the receiver; nothing deleted"));
    EXPECT_EQ(Emulated({"ls", "C:\\old"}).status, 0);
    EXPECT_EQ(Emulated({"rm", "-y", "C:\\old"}).status, 0);
    EXPECT_NE(Emulated({"ls", "C:\\old"}).status, 0);
}

TEST_F(CommandLineTest, ProgressOffATerminalIsPlainLinesNamingSourceAndTarget) {
    WriteFileBytes(folder_.File("rec.ts"), RandomBytes(8 << 20, 2));
    const Result put = Emulated({"put", folder_.File("rec.ts"), "C:\\"}, "latency=2");
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_THAT(put.err, HasSubstr(folder_.File("rec.ts") + " -> C:\\rec.ts"));
    EXPECT_EQ(put.err.find('\r'), std::string::npos);
    EXPECT_EQ(put.err.find('\x1b'), std::string::npos);
    const Result get = Emulated({"get", "C:\\rec.ts", folder_.File("pc")});
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_THAT(get.err, HasSubstr("C:\\rec.ts -> " + folder_.File("pc") + "/rec.ts"));
}

TEST_F(CommandLineTest, ACommandThatDidNothingShowsNoSummaryOfZeros) {
    const Result missing = Emulated({"get", "C:\\nothing.ts", folder_.File("pc")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.out, Not(HasSubstr("File Transfer Summary")));
    EXPECT_THAT(missing.err, Not(HasSubstr("run the same command again")));
}

TEST_F(CommandLineTest, SizesReadAsPeopleReadThem) {
    const Result listed = Emulated({"ls", "C:\\"});
    EXPECT_THAT(listed.out, HasSubstr("1.0 MiB"));
    const Result df = Emulated({"df"});
    EXPECT_THAT(df.out, HasSubstr("MiB free of 256.0 MiB"));
    EXPECT_THAT(df.out, Not(HasSubstr("DE_ZIV")));
}

TEST_F(CommandLineTest, ErrorsGoToTheLogAndTwoRunsInOneSecondKeepTwoLogs) {
    Emulated({"get", "C:\\nothing.ts", folder_.File("pc")});
    Emulated({"get", "C:\\nothing.ts", folder_.File("pc")});
    const std::string logs = folder_.File("state/Orvane/OV Tessel USB/Logfiles");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(logs)) names.push_back(entry.path().string());
    ASSERT_GE(names.size(), 2u);
    bool logged = false;
    for (const std::string& name : names)
        logged = logged || ReadFileBytes(name).find("C:\\nothing.ts is not on the receiver") !=
                               std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(CommandLineTest, EpgRenameSaysWhyAFileIsKept) {
    WriteFileBytes(folder_.File("plain.TP0"), std::string(1000, 'x'));
    ASSERT_EQ(Emulated({"put", folder_.File("plain.TP0"), "C:\\"}).status, 0);
    const Result renamed = Emulated({"epg-rename", "C:\\plain.TP0"});
    EXPECT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_THAT(renamed.out, HasSubstr("kept (no programme title stored in it)"));
}

// On a terminal (a pseudo-terminal from script(1)) the questions are asked, each answer said.
class TerminalTest : public CommandLineTest {
  protected:
    // Runs tessel with `args` on a terminal, typing `typed`; what the terminal showed.
    std::string OnTerminal(const std::vector<std::string>& args, const std::string& typed) {
        std::string command = Quoted(TESSEL_PROGRAM);
        for (const std::string& arg : args) command += " " + Quoted(arg);
        const std::string input = folder_.File("typed.txt");
        WriteFileBytes(input, typed);
        const std::string shown = folder_.File("terminal.txt");
        const std::string line = "script -qec " + Quoted(command) + " /dev/null <" + Quoted(input) +
                                 " >" + Quoted(shown) + " 2>&1";
        std::system(line.c_str());  // the exit status is tessel's, looked at by the tests
        return ReadFileBytes(shown);
    }
};

TEST_F(TerminalTest, TheOverwriteQuestionSaysWhatEachAnswerDoes) {
    WriteFileBytes(folder_.File("a.ts"), "on the receiver, longer");
    ASSERT_EQ(Emulated({"put", folder_.File("a.ts"), "C:\\"}).status, 0);
    WriteFileBytes(folder_.File("a.ts"), "new");
    const std::string kept =
        OnTerminal({"--image", image_, "put", folder_.File("a.ts"), "C:\\"}, "n\n");
    EXPECT_THAT(kept, HasSubstr("y: overwrite it"));
    EXPECT_THAT(kept, HasSubstr("n: keep it"));
    EXPECT_THAT(kept, HasSubstr("k: keep this and every further file"));
    EXPECT_THAT(kept, HasSubstr("Skipped by user: 1"));
    const std::string replaced =
        OnTerminal({"--image", image_, "put", folder_.File("a.ts"), "C:\\"}, "y\n");
    EXPECT_THAT(replaced, HasSubstr("Overwritten files: 1"));
    // The progress line ends at 100 %.
    EXPECT_THAT(replaced, HasSubstr("[all 100.0%]"));
}

TEST_F(TerminalTest, DeletingAFolderAsksWithItsCounts) {
    ASSERT_EQ(Emulated({"mkdir", "C:\\old"}).status, 0);
    const std::string no = OnTerminal({"--image", image_, "rm", "C:\\old"}, "n\n");
    EXPECT_THAT(no, HasSubstr("Delete 0 file(s) and 1 folder(s)?"));
    EXPECT_EQ(Emulated({"ls", "C:\\old"}).status, 0);
    OnTerminal({"--image", image_, "rm", "C:\\old"}, "y\n");
    EXPECT_NE(Emulated({"ls", "C:\\old"}).status, 0);
}

}  // namespace
