// Settings defaults, path histories and the window placement over the profile store.
#include "app/preferences.h"

#include <gtest/gtest.h>

#include "app/settings.h"
#include "platform/profile_store.h"
#include "platform/user_folders.h"
#include "tests/support/temp_folder.h"

namespace {

class PreferencesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
        platform::SetProfile(platform::MakeKeyFileProfileStore(platform::DefaultProfilePath()));
    }
    void TearDown() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        unsetenv("XDG_CONFIG_HOME");
    }
    TempFolder folder_;
};

TEST_F(PreferencesTest, FirstStartGivesTheDefaults) {
    EXPECT_EQ(settings::BufferSize(), 65536);
    EXPECT_EQ(settings::LogLevel(), 1);
    EXPECT_TRUE(settings::KeepEqualFiles());
    EXPECT_TRUE(settings::AutoResumeFiles());
    EXPECT_TRUE(settings::ShowTransferSummary());
    const WindowRect rect = ReadWindowRect();
    EXPECT_EQ(rect.left, 22);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right, 22 + 980);
    EXPECT_EQ(rect.bottom, 50 + 630);
    EXPECT_EQ(GetLastPath("List 1"), "C:\\");
    EXPECT_EQ(GetLastPath("List 0"), NormalizePcFolderPath(platform::DocumentsFolder()));
    EXPECT_TRUE(GetPathHistory("List 0").empty());
}

TEST_F(PreferencesTest, MissingRightEdgeFollowsTheStoredLeftEdge) {
    platform::Profile().WriteInt("Settings", "Window.x1", 100);
    EXPECT_EQ(ReadWindowRect().right, 1080);
    SaveWindowRect(5, 6, 700, 800);
    const WindowRect rect = ReadWindowRect();
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.top, 6);
    EXPECT_EQ(rect.right, 700);
    EXPECT_EQ(rect.bottom, 800);
}

TEST_F(PreferencesTest, HistoryKeepsFifteenMostRecentFirstWithoutDuplicates) {
    for (int i = 0; i < 16; ++i) AddPathHistory("List 1", "C:\\Folder" + std::to_string(i) + "\\");
    std::vector<std::string> history = GetPathHistory("List 1");
    ASSERT_EQ(history.size(), 15u);
    EXPECT_EQ(history.front(), "C:\\Folder15");
    EXPECT_EQ(history.back(), "C:\\Folder1");
    EXPECT_EQ(GetLastPath("List 1"), "C:\\Folder15");

    AddPathHistory("List 1", "C:\\\\Folder7");
    history = GetPathHistory("List 1");
    ASSERT_EQ(history.size(), 15u);
    EXPECT_EQ(history.front(), "C:\\Folder7");
    EXPECT_EQ(std::count(history.begin(), history.end(), "C:\\Folder7"), 1);
    EXPECT_EQ(history[1], "C:\\Folder15");
}

TEST_F(PreferencesTest, CountsFromTheSettingsFileAreBounded) {
    platform::ProfileStore& store = platform::Profile();
    store.WriteInt("List 0", "PathHistoryCount", 2000000000);
    EXPECT_LE(GetPathHistory("List 0").size(), static_cast<size_t>(kMaxPathHistory));
    store.WriteInt("List 0", "PathHistoryCount", -5);
    EXPECT_TRUE(GetPathHistory("List 0").empty());
}

TEST_F(PreferencesTest, ShorterHistoryLeavesOldValuesThatAreNeverRead) {
    platform::ProfileStore& store = platform::Profile();
    store.WriteInt("List 0", "PathHistoryCount", 2);
    store.WriteString("List 0", "PathHistory 0", "/home/a//b/");
    store.WriteString("List 0", "PathHistory 1", "/srv");
    store.WriteString("List 0", "PathHistory 2", "/never/read");
    EXPECT_EQ(GetPathHistory("List 0"), (std::vector<std::string>{"/home/a/b", "/srv"}));
    store.WriteInt("List 0", "PathHistoryCount", -3);
    EXPECT_TRUE(GetPathHistory("List 0").empty());
}

TEST(NormalizeFolderPath, CollapsesDoubledBackslashesAndDropsTheTrailingOne) {
    EXPECT_EQ(NormalizeFolderPath("D:\\\\Rec\\\\"), "D:\\Rec");
    EXPECT_EQ(NormalizeFolderPath("C:\\Video\\"), "C:\\Video");
    EXPECT_EQ(NormalizeFolderPath("C:\\"), "C:\\");
    EXPECT_EQ(NormalizeFolderPath("\\"), "\\");
    EXPECT_EQ(NormalizeFolderPath("C:\\\\"), "C:\\");
    EXPECT_EQ(NormalizePcFolderPath("/"), "/");
    EXPECT_EQ(NormalizePcFolderPath("//home//me//"), "/home/me");
}

}  // namespace
