// The log's line format, nesting and filtering, written to real files.
#include "app/log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include "platform/log_files.h"
#include "platform/profile_store.h"
#include "tests/support/temp_folder.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    void Start(int level) {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        platform::Profile().WriteString("Settings", "Path Log", folder_.File("logs"));
        platform::Profile().WriteInt("Settings", "LogLevel", level);
        StartLog();
    }
    std::string Written() { return ReadFileBytes(GetLogFilePath()); }

    TempFolder folder_;
};

void Inner() {
    LogScope scope("Inner", 2);
    LogLine("inside B", 2);
}

void Outer() {
    LogScope scope("Outer", 2);
    Inner();
}

void Throws() {
    LogScope scope("Throws", 2);
    throw std::runtime_error("leaves");
}

TEST_F(LogTest, NestedScopesIndentByFourBlanksAndEndLinesWithCrLf) {
    Start(3);
    Outer();
    EXPECT_EQ(Written(),
              "\\ Outer\r\n"
              "    \\ Inner\r\n"
              "        inside B\r\n"
              "    / \r\n"
              "/ \r\n");
}

TEST_F(LogTest, FilteredLinesAreDroppedAndLeaveTheIndentationAlone) {
    Start(1);
    {
        LogScope filtered("Filtered", 2);  // above the level: neither line nor indentation
        LogLine("dropped", 3);
        LogLine("kept", 1);
    }
    LogLine("after", 1);
    EXPECT_EQ(Written(), "kept\r\nafter\r\n");
}

TEST_F(LogTest, ExceptionLeavingATracedFunctionStillWritesItsLeaveLine) {
    Start(2);
    EXPECT_THROW(Throws(), std::runtime_error);
    LogLine("level again", 2);
    EXPECT_EQ(Written(), "\\ Throws\r\n/ \r\nlevel again\r\n");
}

TEST_F(LogTest, IndentationStopsAtFiftyFiveBlanks) {
    Start(3);
    for (int i = 0; i < 14; ++i) LogEnter("deep", 3);
    LogLine("x", 3);
    for (int i = 0; i < 14; ++i) LogLeave(3);
    LogLine("y", 3);
    const std::string text = Written();
    EXPECT_NE(text.find("\r\n" + std::string(52, ' ') + "\\ deep\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n" + std::string(55, ' ') + "x\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(56, ' ')), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), "y\r\n");
}

TEST_F(LogTest, LevelZeroCreatesNothingAndWritesNothing) {
    Start(0);
    LogLine("never", 1);
    EXPECT_EQ(GetLogLevel(), 0);
    EXPECT_FALSE(platform::CanEnterFolder(folder_.File("logs")));
}

TEST_F(LogTest, LoweringTheLevelToZeroStopsLoggingAtOnce) {
    Start(1);
    LogLine("first", 1);
    SetLogLevel(0);
    LogLine("second", 1);
    SetLogLevel(1);
    LogLine("third", 1);
    EXPECT_EQ(Written(), "first\r\nthird\r\n");
}

// Two runs in one second keep two logs: the second name takes a number.
TEST_F(LogTest, FileIsNamedAfterTheTimeOfDayAndAStartInTheSameSecondKeepsTheEarlierLog) {
    // The name comes from the clock; try until a start falls in the second the file was
    // prepared for.
    bool same_second = false;
    for (int attempt = 0; attempt < 5 && !same_second; ++attempt) {
        char stamp[16];
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof stamp, "%H-%M-%S", &local);
        const std::string earlier = folder_.File("logs") + "/Debug" + stamp + ".log";
        CreateFolderPath(folder_.File("logs"));
        WriteFileBytes(earlier, "an earlier run\r\n");
        Start(1);
        if (GetLogFilePath() == folder_.File("logs") + "/Debug" + stamp + "-2.log") {
            EXPECT_EQ(ReadFileBytes(earlier), "an earlier run\r\n");
            same_second = true;
        }
    }
    EXPECT_TRUE(same_second);
}

TEST_F(LogTest, LevelIsFilteredAgainstTheLevelInMemory) {
    Start(2);
    LogLine("two", 2);
    LogLine("three", 3);
    SetLogLevel(3);
    LogLine("three now", 3);
    EXPECT_EQ(Written(), "two\r\nthree now\r\n");
}

TEST(CreateFolderPath, CreatesEveryMissingFolderOfTheChain) {
    TempFolder folder;
    const std::string deep = folder.File("a/b/c/d");
    CreateFolderPath(deep);
    EXPECT_TRUE(platform::CanEnterFolder(deep));
    CreateFolderPath(deep + "/");  // exists already: nothing fails
    EXPECT_TRUE(platform::CanEnterFolder(deep));
    CreateFolderPath("");
}

}  // namespace
