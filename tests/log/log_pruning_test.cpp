// Start-up pruning of old log files to the twenty newest by creation time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/log.h"
#include "platform/log_files.h"
#include "platform/profile_store.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& f : platform::ListFiles(folder, "Debug", ".log"))
        names.push_back(f.path.substr(f.path.rfind('/') + 1));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LogPruning, KeepsTheTwentyNewestFilesTheNewOneAmongThem) {
    TempFolder folder;
    const std::string logs = folder.File("Logfiles");
    CreateFolderPath(logs);
    // 24 older files, created one after another so that their creation times differ; the
    // names run against the creation order so that the ordering is not by name.
    for (int i = 0; i < 24; ++i) {
        WriteFileBytes(logs + "/Debug" + std::to_string(90 - i) + ".log", "old");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    WriteFileBytes(logs + "/Other.log", "not ours");
    WriteFileBytes(logs + "/Debug.txt", "not ours");

    platform::SetProfile(platform::MakeMemoryProfileStore());
    platform::Profile().WriteString("Settings", "Path Log", logs);
    StartLog();

    const std::vector<std::string> left = Names(logs);
    ASSERT_EQ(left.size(), 20u);
    const std::string mine = GetLogFilePath().substr(GetLogFilePath().rfind('/') + 1);
    EXPECT_NE(std::find(left.begin(), left.end(), mine), left.end());
    // The five oldest (created first: Debug90 .. Debug86) are gone, the rest remain.
    for (int i = 0; i < 24; ++i) {
        const std::string name = "Debug" + std::to_string(90 - i) + ".log";
        const bool kept = std::find(left.begin(), left.end(), name) != left.end();
        EXPECT_EQ(kept, i >= 5) << name;
    }
    struct stat st {};
    EXPECT_EQ(stat((logs + "/Other.log").c_str(), &st), 0);
    EXPECT_EQ(stat((logs + "/Debug.txt").c_str(), &st), 0);
}

TEST(LogPruning, TwentyOrFewerFilesAreAllKept) {
    TempFolder folder;
    CreateFolderPath(folder.Path());
    for (int i = 0; i < 19; ++i)
        WriteFileBytes(folder.File("Debug0" + std::to_string(i) + ".log"), "");
    platform::SetProfile(platform::MakeMemoryProfileStore());
    platform::Profile().WriteString("Settings", "Path Log", folder.Path());
    StartLog();
    EXPECT_EQ(Names(folder.Path()).size(), 20u);
}

TEST(LogPruning, DefaultFolderIsTheXdgStateFolder) {
    TempFolder folder;
    setenv("XDG_STATE_HOME", folder.Path().c_str(), 1);
    platform::SetProfile(platform::MakeMemoryProfileStore());
    EXPECT_EQ(GetLogFolder(), folder.Path() + "/Orvane/OV Tessel USB/Logfiles");
    StartLog();
    LogLine("hello", 1);
    EXPECT_EQ(GetLogFilePath().rfind(folder.Path() + "/Orvane/OV Tessel USB/Logfiles/Debug", 0),
              0u);
    EXPECT_EQ(ReadFileBytes(GetLogFilePath()), "hello\r\n");
    unsetenv("XDG_STATE_HOME");
}

}  // namespace
