// The profile store's backends: defaults, round trips, atomic writes and edits made by hand.
#include "platform/profile_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/user_folders.h"
#include "tests/support/temp_folder.h"

namespace {

void ExerciseRoundTrips(platform::ProfileStore& store) {
    EXPECT_EQ(store.GetInt("Settings", "BufferSize", 65536), 65536);
    EXPECT_EQ(store.GetString("List 1", "LastPath", "C:\\"), "C:\\");
    store.WriteInt("Settings", "BufferSize", 131072);
    store.WriteInt("Settings", "LogLevel", -1);
    store.WriteString("List 1", "PathHistory 0", "C:\\REC\\Film; mit = Zeichen");
    store.WriteString("Settings", "Path Log", "/tmp/Ünïcode Logs");
    EXPECT_EQ(store.GetInt("Settings", "BufferSize", 0), 131072);
    EXPECT_EQ(store.GetInt("Settings", "LogLevel", 1), -1);
    EXPECT_EQ(store.GetString("List 1", "PathHistory 0", ""), "C:\\REC\\Film; mit = Zeichen");
    EXPECT_EQ(store.GetString("Settings", "Path Log", ""), "/tmp/Ünïcode Logs");
    // Sections keep their values apart.
    EXPECT_EQ(store.GetInt("List 0", "BufferSize", 7), 7);
}

TEST(ProfileStore, MemoryStoreKeepsValuesBySectionAndName) {
    auto store = platform::MakeMemoryProfileStore();
    ExerciseRoundTrips(*store);
}

TEST(ProfileStore, KeyFileStoreWritesEveryValueToDiskAtOnce) {
    TempFolder folder;
    const std::string path = folder.File("config/settings.ini");
    {
        auto store = platform::MakeKeyFileProfileStore(path);
        ExerciseRoundTrips(*store);
    }
    auto reopened = platform::MakeKeyFileProfileStore(path);
    EXPECT_EQ(reopened->GetInt("Settings", "BufferSize", 0), 131072);
    EXPECT_EQ(reopened->GetString("List 1", "PathHistory 0", ""), "C:\\REC\\Film; mit = Zeichen");
    EXPECT_NE(ReadFileBytes(path).find("[Settings]"), std::string::npos);
}

TEST(ProfileStore, KeyFileStoreSeesAValueSetByHand) {
    TempFolder folder;
    const std::string path = folder.File("settings.ini");
    auto store = platform::MakeKeyFileProfileStore(path);
    store->WriteInt("Settings", "LogLevel", 1);
    EXPECT_EQ(store->GetString("Settings", "Path Log", "default"), "default");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteFileBytes(path, "[Settings]\nLogLevel=3\nPath Log=/srv/logs\nBufferSize=oops\n");
    EXPECT_EQ(store->GetString("Settings", "Path Log", "default"), "/srv/logs");
    EXPECT_EQ(store->GetInt("Settings", "LogLevel", 1), 3);
    // A text that is no number reads as the default, as a missing value does.
    EXPECT_EQ(store->GetInt("Settings", "BufferSize", 65536), 65536);
    // A later write keeps the hand-set values.
    store->WriteInt("Settings", "KeepEqualFiles", 0);
    auto other = platform::MakeKeyFileProfileStore(path);
    EXPECT_EQ(other->GetString("Settings", "Path Log", ""), "/srv/logs");
    EXPECT_EQ(other->GetInt("Settings", "KeepEqualFiles", 1), 0);
}

TEST(ProfileStore, DefaultPathLiesInTheXdgConfigFolder) {
    TempFolder folder;
    setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    EXPECT_EQ(platform::DefaultProfilePath(), folder.Path() + "/Orvane/OV Tessel USB/settings.ini");
    unsetenv("XDG_CONFIG_HOME");
}

TEST(ProfileStore, UnreadableFileReadsAsDefaults) {
    TempFolder folder;
    const std::string path = folder.File("settings.ini");
    WriteFileBytes(path, "\x01\x02 this is [not an ini");
    auto store = platform::MakeKeyFileProfileStore(path);
    EXPECT_EQ(store->GetInt("Settings", "LogLevel", 1), 1);
}

}  // namespace

TEST(ProfileStore, ADamagedFileKeepsItsGoodLinesAndIsKeptAside) {
    TempFolder folder;
    const std::string path = folder.File("settings.ini");
    const std::string damaged =
        "[Settings]\nLogLevel=3\n[Broken\n[List 0]\nLastPath=/srv/films\nno value here\n"
        "PathHistoryCount=2\n";
    WriteFileBytes(path, damaged);
    auto store = platform::MakeKeyFileProfileStore(path);
    EXPECT_EQ(store->GetInt("Settings", "LogLevel", 1), 3);
    EXPECT_EQ(store->GetString("List 0", "LastPath", ""), "/srv/films");
    EXPECT_EQ(store->GetInt("List 0", "PathHistoryCount", 0), 2);
    // The next write keeps what was read, and the damaged original stays for the user.
    store->WriteInt("Settings", "KeepEqualFiles", 0);
    auto reread = platform::MakeKeyFileProfileStore(path);
    EXPECT_EQ(reread->GetString("List 0", "LastPath", ""), "/srv/films");
    EXPECT_EQ(reread->GetInt("Settings", "LogLevel", 1), 3);
    EXPECT_EQ(ReadFileBytes(path + ".damaged"), damaged);
}
