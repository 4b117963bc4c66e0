// The record of tessel sync on disk: written whole and read back, names of any bytes, and a
// damaged or torn file that costs only its damaged lines.
#include "cli/sync_state.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace {

TEST(SyncStateTest, ARecordIsReadBackAsWrittenWhateverItsNames) {
    TempFolder folder;
    const SyncRecords written = {{"plain.TP0", {5000000000ull, 1700000000, "C:\\Recordings"}},
                                 {"sub/with space and 100%.bin", {0, -5, "C:\\My films 100%"}},
                                 {"odd/line\nbreak\x01.ts", {7, 1, "C:\\odd\nfolder"}},
                                 {"unnoted.bin", {9, 2, ""}}};
    std::string error;
    ASSERT_TRUE(SaveSyncState(folder.Path(), written, &error)) << error;
    SyncRecords read;
    ASSERT_TRUE(LoadSyncState(folder.Path(), &read, &error)) << error;
    EXPECT_EQ(read, written);
    // Written through a file of its own, renamed over: nothing else is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
    struct stat info {};
    ASSERT_EQ(lstat(folder.File(kSyncStateName).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST(SyncStateTest, ATornOrDamagedRecordLosesOnlyItsDamagedLines) {
    TempFolder folder;
    const std::string path = folder.File(kSyncStateName);
    // A damaged header, a line of nonsense, paths leaving the folder, and a last line cut off.
    WriteFileBytes(path,
                   "tessel-sy\n12 34 kept/one.bin\nnonsense\n1 2 ../up.bin\n1 2 /abs.bin\n"
                   "1 2 a/./b\n1 2 .tessel-sync\n-1 2 negative.bin\n56 78 kept two.bin\n"
                   "s 3 4 C:\\A%20b sourced.bin\ns 3 4  no-source.bin\ns 3 4 C:\\x\n"
                   "s 3 4 C:\\y ../up.bin\n9 9 to");
    SyncRecords read;
    std::string error;
    ASSERT_TRUE(LoadSyncState(folder.Path(), &read, &error)) << error;
    EXPECT_EQ(read, (SyncRecords{{"kept/one.bin", {12, 34, ""}},
                                 {"kept two.bin", {56, 78, ""}},
                                 {"sourced.bin", {3, 4, "C:\\A b"}}}));
}

TEST(SyncStateTest, ARecordThatIsNoRegularFileIsNotReadAndNoneIsAnEmptyRecord) {
    TempFolder folder;
    SyncRecords read = {{"x", {1, 1, ""}}};
    std::string error;
    ASSERT_TRUE(LoadSyncState(folder.Path(), &read, &error)) << error;
    EXPECT_TRUE(read.empty());
    WriteFileBytes(folder.File("elsewhere"), "tessel-sync 1\n1 1 x\n");
    std::filesystem::create_symlink(folder.File("elsewhere"), folder.File(kSyncStateName));
    EXPECT_FALSE(LoadSyncState(folder.Path(), &read, &error));
    EXPECT_NE(error.find(kSyncStateName), std::string::npos) << error;
}

TEST(SyncStateTest, OnlyPathsInsideTheFolderAreSafe) {
    for (const char* path : {"a.bin", "sub/a.bin", "sub/.tessel-sync", "..a", "a..", ".hidden"})
        EXPECT_TRUE(IsSafeRelativePath(path)) << path;
    for (const char* path : {"", "/a", "../a", "a/../../b", "a//b", "a/", "./a", "a/.", "..",
                             ".tessel-sync", ".tessel-sync.AbC123"})
        EXPECT_FALSE(IsSafeRelativePath(path)) << path;
}

}  // namespace
