// Paths at and beyond the length limit, wildcards in paths that write, and two handles on one
// file: each operation acts on the entry its path names, or is refused.
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"
#include "tests/fs/disk_fixture.h"

namespace {

using Names = std::vector<std::string>;

class PathsAndHandlesTest : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        ASSERT_EQ(MakeAndMount(), 0);
    }
    // "C:\", ".\" steps, and a last component of `letter`s up to `length` bytes in all: the
    // name is the first 32 of them.
    static std::string PathOfLength(size_t length, char letter) {
        std::string path = "C:\\";
        while (path.size() + 2 + 33 <= length) path += ".\\";
        return path + std::string(length - path.size(), letter);
    }
};

// Cut at 511 bytes, the long path below would name "C:\ab": every operation refuses it
// instead.
TEST_F(PathsAndHandlesTest, PathsBeyond511BytesAreRefusedByEveryOperation) {
    ASSERT_EQ(WriteFile("C:\\ab", "short"), "");
    ASSERT_EQ(WriteFile("C:\\abc", "long"), "");
    std::string too_long = "C:\\";
    while (too_long.size() < 509) too_long += ".\\";
    too_long += "abc";
    ASSERT_EQ(too_long.size(), 512u);
    EXPECT_EQ(pcfm_remove(too_long.c_str()), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_mkdir(too_long.c_str()), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rmdir(too_long.c_str()), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rename(too_long.c_str(), "C:\\moved"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    std::string long_target = too_long;
    long_target.back() = 'd';  // cut, it would read "C:\...\ab" too
    EXPECT_EQ(pcfm_rename("C:\\abc", long_target.c_str()), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_open(too_long.c_str(), "rb"), nullptr);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(List("C:\\"), (Names{"ab", "abc"}));
    EXPECT_EQ(ReadFile("C:\\ab"), "short");
    // 511 bytes are still a path.
    ASSERT_EQ(WriteFile("C:\\" + std::string(32, 'a'), "32"), "");
    ASSERT_EQ(PathOfLength(511, 'a').size(), 511u);
    EXPECT_EQ(ReadFile(PathOfLength(511, 'a')), "32");
    EXPECT_EQ(pcfm_rename(PathOfLength(511, 'a').c_str(), PathOfLength(511, 'b').c_str()), 0);
    EXPECT_EQ(pcfm_remove(PathOfLength(511, 'b').c_str()), 0);
    EXPECT_EQ(pcfm_mkdir(PathOfLength(511, 'c').c_str()), 0);
    EXPECT_EQ(pcfm_rmdir(PathOfLength(511, 'c').c_str()), 0);
    EXPECT_EQ(List("C:\\"), (Names{"ab", "abc"}));
}

TEST_F(PathsAndHandlesTest, WildcardsNeverNameAnEntryToWriteOrRemove) {
    ASSERT_EQ(WriteFile("C:\\ab", "keep"), "");
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    ASSERT_EQ(pcfm_mkdir("C:\\D\\E"), 0);
    for (const char* mode : {"wb", "+b", "ab", "r+"}) {
        EXPECT_EQ(pcfm_open("C:\\ab*", mode), nullptr) << mode;
        EXPECT_EQ(Errno(), EBADNAME) << mode;
        EXPECT_EQ(pcfm_open("C:\\a?", mode), nullptr) << mode;
    }
    EXPECT_EQ(pcfm_remove("C:\\ab*"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rename("C:\\ab*", "C:\\x"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rmdir("C:\\D\\E*"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(ReadFile("C:\\ab"), "keep");
    EXPECT_EQ(List("C:\\D"), (Names{".", "..", "E"}));
}

// A second handle opened on a root file before the first gave it clusters: both write, and
// the table keeps one chain that holds what both wrote.
TEST_F(PathsAndHandlesTest, TwoHandlesOnOneEmptyFile) {
    for (const std::string folder : {"C:", "C:\\D"}) {
        if (folder != "C:") {
            ASSERT_EQ(pcfm_mkdir(folder.c_str()), 0);
        }
        const std::string path = folder + "\\shared";
        ASSERT_EQ(WriteFile(path, ""), "");
        pcfm_file* late = pcfm_open(path.c_str(), "+b");
        pcfm_file* writer = pcfm_open(path.c_str(), "+b");
        ASSERT_NE(late, nullptr);
        ASSERT_NE(writer, nullptr);
        const std::string first(40000, 'w');
        ASSERT_EQ(pcfm_write(first.data(), 1, first.size(), writer), first.size());
        ASSERT_EQ(pcfm_write("late", 1, 4, late), 4u) << folder;
        EXPECT_EQ(pcfm_close(writer), 0);
        EXPECT_EQ(pcfm_close(late), 0);
        pcfm_file* root = pcfm_open("C:\\", "d");
        EXPECT_EQ(root->volume->table[0], 0xFFFF) << "the root's table entry got a link";
        pcfm_close(root);
        EXPECT_EQ(ReadFile(path), "late" + first.substr(4)) << folder;
        Unmount();
        ExpectClean();
        ASSERT_EQ(Remount(), 0);
    }
}

// One handle truncates a file another holds open, and a third file takes the freed clusters:
// the first handle's next write must not land in the third file.
TEST_F(PathsAndHandlesTest, AHandleOverAChainFreedUnderItWritesNoOtherFile) {
    for (const std::string folder : {"C:", "C:\\D"}) {
        if (folder != "C:") {
            ASSERT_EQ(pcfm_mkdir(folder.c_str()), 0);
        }
        const std::string path = folder + "\\held";
        ASSERT_EQ(WriteFile(path, std::string(100000, 'h')), "");
        pcfm_file* held = pcfm_open(path.c_str(), "+b");
        ASSERT_NE(held, nullptr);
        std::string data(40000, '\0');
        ASSERT_EQ(pcfm_read(data.data(), 1, data.size(), held), data.size());
        ASSERT_EQ(WriteFile(path, "new"), "");
        ASSERT_EQ(WriteFile(folder + "\\other", std::string(100000, 'o')), "");
        pcfm_write("zz", 1, 2, held);
        pcfm_close(held);
        EXPECT_EQ(ReadFile(folder + "\\other"), std::string(100000, 'o')) << folder;
        Unmount();
        ExpectClean();
        ASSERT_EQ(Remount(), 0);
    }
}

// A file is removed while a handle holds it open, and a new file takes its slot and its
// clusters: the old handle neither writes into the new file nor brings its entry back.
TEST_F(PathsAndHandlesTest, AHandleOnARemovedFileTouchesNothing) {
    for (const std::string folder : {"C:", "C:\\D"}) {
        if (folder != "C:") {
            ASSERT_EQ(pcfm_mkdir(folder.c_str()), 0);
        }
        ASSERT_EQ(WriteFile(folder + "\\gone", std::string(50000, 'x')), "");
        pcfm_file* held = pcfm_open((folder + "\\gone").c_str(), "+b");
        ASSERT_NE(held, nullptr);
        ASSERT_EQ(pcfm_remove((folder + "\\gone").c_str()), 0);
        ASSERT_EQ(WriteFile(folder + "\\new", std::string(50000, 'n')), "");
        const uint64_t start = 0;
        pcfm_seek(held, &start, 0);
        EXPECT_EQ(pcfm_write("zz", 1, 2, held), 0u) << folder;
        EXPECT_EQ(pcfm_close(held), 0);
        EXPECT_EQ(ReadFile(folder + "\\new"), std::string(50000, 'n')) << folder;
        EXPECT_EQ(ReadFile(folder + "\\gone"), "") << folder;
        Unmount();
        ExpectClean();
        ASSERT_EQ(Remount(), 0);
    }
}

}  // namespace
