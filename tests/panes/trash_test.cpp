// PC entries to the desktop's trash (of this process: XDG_DATA_HOME is ours), or for good.
#include "platform/trash.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class TrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // GIO reads XDG_DATA_HOME when it first needs it; nothing before has in this process.
        setenv("XDG_DATA_HOME", home_.Path().c_str(), 1);
        ASSERT_EQ(mkdir(folder_.File("tree").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(folder_.File("tree/inner").c_str(), 0755), 0);
        WriteFileBytes(folder_.File("tree/inner/file.txt"), "x");
        WriteFileBytes(folder_.File("kept.txt"), "kept");
    }
    TempFolder home_;
    TempFolder folder_;
};

}  // namespace

TEST_F(TrashTest, AFolderGoesToTheTrashWhole) {
    std::string error;
    ASSERT_TRUE(platform::MoveToTrash(folder_.File("tree"), &error)) << error;
    EXPECT_FALSE(Exists(folder_.File("tree")));
    EXPECT_TRUE(Exists(home_.File("Trash/files/tree/inner/file.txt")));
    EXPECT_TRUE(Exists(home_.File("Trash/info/tree.trashinfo")));
}

TEST_F(TrashTest, AMissingEntryIsAFailureWithAReason) {
    std::string error;
    EXPECT_FALSE(platform::MoveToTrash(folder_.File("missing"), &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(platform::DeleteForGood(folder_.File("missing"), &error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST_F(TrashTest, ForGoodRemovesTheTreeButNotWhatALinkPointsAt) {
    ASSERT_EQ(symlink(folder_.File("kept.txt").c_str(), folder_.File("tree/link").c_str()), 0);
    ASSERT_EQ(symlink(folder_.Path().c_str(), folder_.File("tree/inner/up").c_str()), 0);
    std::string error;
    ASSERT_TRUE(platform::DeleteForGood(folder_.File("tree"), &error)) << error;
    EXPECT_FALSE(Exists(folder_.File("tree")));
    EXPECT_EQ(ReadFileBytes(folder_.File("kept.txt")), "kept");
    EXPECT_FALSE(Exists(home_.File("Trash")));
}
