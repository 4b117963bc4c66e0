// Directories: path syntax, name conversion, listing, mkdir, rmdir, remove, rename.
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"
#include "tests/fs/disk_fixture.h"

namespace {

using Names = std::vector<std::string>;

class DirectoriesTest : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        ASSERT_EQ(MakeAndMount(), 0);
    }
    uint32_t FirstCluster(const std::string& path) {
        pcfm_file* file = pcfm_open(path.c_str(), "d");
        if (file == nullptr) file = pcfm_open(path.c_str(), "r");
        const uint32_t cluster = file == nullptr ? 0 : file->entry->first_cluster;
        pcfm_close(file);
        return cluster;
    }
};

TEST(NameConversion, PathBytesToDiskBytes) {
    char converted[512];
    pcfm_convert_path("a\xE9\x80\xBF\xC0\xDD\xF5\xFF", converted);
    EXPECT_STREQ(converted, "a\xD9\x80\x80\xB0\xA2\xE5\xEF");
}

TEST(NameConversion, DiskBytesToPcBytes) {
    char name[33];
    const uint8_t disk[32] = {0xF6, 0xD9, 0xA4, 0xFC, 0xFE, 'a', 0x01, 0xA0, 0x80};
    pcfm_convert_name(disk, name);
    // 0x01, 0xA0 and 0x80 have no row and are kept.
    EXPECT_STREQ(name,
                 "\xA9\xE9\xAA\xC3\xB0"
                 "a\x01\xA0\x80");
    std::memset(name, 'z', sizeof name);
    const uint8_t shorter[32] = {'b'};
    pcfm_convert_name(shorter, name);
    EXPECT_STREQ(name, "b");
}

TEST(ComponentParsing, NamesExtensionsAndDots) {
    struct Case {
        const char* text;
        int result;
        const char* name;
        const char* extension;
    };
    const Case cases[] = {
        {"\\a.b", 0, "a", "b"},
        {"report.final.ts", 0, "report", "tsn"},
        {"\\abcdefghijabcdefghijabcdefghijabcdefghij", 0, "abcdefghijabcdefghijabcdefghijab", ""},
        {"\\.hidden", -1, "", ""},
        {"\\..", 0, "..", ""},
        {"\\..x\\y", 1, "..x", ""},
        {"\\a\\", 0, "a", ""},
        {"\\*\\b", -1, "", ""},
        {"\\ab\x01\\cd", 1, "ab\x01", ""},
        {"\\.\\x.tp0", 0, "x", "tp0"},
    };
    for (const Case& c : cases) {
        pcfm_component component{};
        const char* cursor = c.text;
        EXPECT_EQ(pcfm_parse_component(cursor, &component), c.result) << c.text;
        if (c.result < 0) continue;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(component.name),
                              strnlen(reinterpret_cast<char*>(component.name), 32)),
                  c.name)
            << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(component.extension),
                              strnlen(reinterpret_cast<char*>(component.extension), 3)),
                  c.extension)
            << c.text;
    }
}

TEST_F(DirectoriesTest, PathsResolve) {
    ASSERT_EQ(pcfm_mkdir("C:\\A"), 0);
    ASSERT_EQ(pcfm_mkdir("C:/A/B"), 0);
    ASSERT_EQ(WriteFile("C:\\A\\B\\f.ts", "x"), "");
    EXPECT_EQ(ReadFile("C:\\A\\.\\B\\f.ts"), "x");
    EXPECT_EQ(ReadFile("C:/A/B/f.ts"), "x");
    EXPECT_EQ(ReadFile("C:\\a\\B\\f.ts"), "");  // names are case-sensitive
    EXPECT_EQ(pcfm_open("C:\\.hidden", "r"), nullptr);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_open("C:\\*\\f", "d"), nullptr);
    EXPECT_EQ(Errno(), EBADNAME);
    pcfm_file* root = pcfm_open("C:\\*", "d");
    ASSERT_NE(root, nullptr);
    pcfm_dirent entry{};
    ASSERT_EQ(pcfm_readdir(root, &entry), 0);
    EXPECT_STREQ(entry.name, "A");
    EXPECT_EQ(entry.attributes, kAttrDirectory);
    pcfm_close(root);
    // 40 characters are cut to 32, for creating and for finding.
    ASSERT_EQ(WriteFile("C:\\" + std::string(40, 'n'), "long"), "");
    EXPECT_EQ(ReadFile("C:\\" + std::string(32, 'n') + "zzz"), "long");
}

TEST_F(DirectoriesTest, NamesConvertedBothWays) {
    ASSERT_EQ(WriteFile("C:\\M\xE4rchen.TP0", "m"), "");
    ASSERT_EQ(WriteFile("C:\\Caf\xE9", "c"), "");
    EXPECT_EQ(List("C:\\"), (Names{"M\xE4rchen.TP0", "Caf\xE9"}));
    pcfm_file* root = pcfm_open("C:\\", "d");
    EXPECT_EQ(root->volume->root[1], static_cast<uint8_t>('\xD4'));  // a-umlaut on the disk
    EXPECT_EQ(root->volume->root[64 + 3], static_cast<uint8_t>('\xD9'));
    pcfm_close(root);
    EXPECT_EQ(ReadFile("C:\\Caf\xE9"), "c");
}

TEST_F(DirectoriesTest, NamesThatWouldVanishAreNotMade) {
    // 0xF5 becomes the deleted mark 0xE5 on the disk.
    EXPECT_NE(WriteFile("C:\\\xF5ld", "x"), "");
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_NE(WriteFile("C:\\", "x"), "");
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_NE(WriteFile("C:\\..", "x"), "");
    EXPECT_NE(WriteFile("C:\\a*", "x"), "");
    EXPECT_EQ(Errno(), EBADNAME);
    // A deleted entry is never found, whatever its name.
    ASSERT_EQ(WriteFile("C:\\\xD5ld", "x"), "");
    ASSERT_EQ(pcfm_remove("C:\\\xD5ld"), 0);
    EXPECT_EQ(pcfm_open("C:\\\xF5ld", "r"), nullptr);
    EXPECT_TRUE(List("C:\\").empty());
}

TEST_F(DirectoriesTest, MkdirMakesDotEntries) {
    ASSERT_EQ(pcfm_mkdir("C:\\New"), 0);
    const uint32_t cluster = FirstCluster("C:\\New");
    EXPECT_EQ(cluster, 1u);
    EXPECT_EQ(List("C:\\New"), (Names{".", ".."}));
    const std::string dot = ImageBytes(EntryOffset(cluster, 0), 64);
    EXPECT_EQ(dot[0], '.');
    EXPECT_EQ(dot[36], kAttrDirectory);
    EXPECT_EQ(static_cast<uint8_t>(dot[48]), 1);
    EXPECT_EQ(ImageBytes(EntryOffset(cluster, 2), 32768 - 128), std::string(32768 - 128, '\0'));
    EXPECT_EQ(pcfm_mkdir("C:\\New"), -1);
    EXPECT_EQ(Errno(), EEXISTS);
    ASSERT_EQ(WriteFile("C:\\file", "f"), "");
    EXPECT_EQ(pcfm_mkdir("C:\\file"), -1);
    EXPECT_EQ(Errno(), EWRONGKIND);
    EXPECT_EQ(pcfm_mkdir("C:\\none\\sub"), -1);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_mkdir("C:\\"), -1);
    EXPECT_EQ(Errno(), EEXISTS);
}

TEST_F(DirectoriesTest, FailedMkdirLeavesNoEntry) {
    // Fill the disk so that the directory's cluster cannot be found.
    pcfm_file* filler = pcfm_open("C:\\filler", "wb");
    const std::string block(1 << 20, 'f');
    while (pcfm_write(block.data(), 1, block.size(), filler) == block.size()) {
    }
    pcfm_close(filler);
    EXPECT_EQ(pcfm_mkdir("C:\\nospace"), -1);
    EXPECT_EQ(Errno(), EDISKFULL);
    EXPECT_EQ(List("C:\\"), Names{"filler"});
}

TEST_F(DirectoriesTest, RmdirRules) {
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    ASSERT_EQ(WriteFile("C:\\D\\x", "x"), "");
    EXPECT_EQ(pcfm_rmdir("C:\\D"), -1);
    EXPECT_EQ(Errno(), EDIRNOTEMPTY);
    ASSERT_EQ(pcfm_remove("C:\\D\\x"), 0);   // only a deleted entry is left
    EXPECT_EQ(pcfm_rmdir("C:\\D\\.."), -1);  // ".." is the directory itself
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rmdir("C:\\"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rmdir("C:\\missing"), -1);
    EXPECT_EQ(Errno(), ENOTFOUND);
    ASSERT_EQ(WriteFile("C:\\f", "x"), "");
    EXPECT_EQ(pcfm_rmdir("C:\\f"), -1);
    EXPECT_EQ(Errno(), EWRONGKIND);
    EXPECT_EQ(pcfm_rmdir("C:\\D"), 0);
    EXPECT_EQ(List("C:\\"), Names{"f"});
    EXPECT_EQ(TableEntry(1), 0);
}

TEST_F(DirectoriesTest, RmdirCountsEveryLiveEntry) {
    // A directory whose first two slots hold files (not "." and "..") is not empty.
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    ASSERT_EQ(WriteFile("C:\\D\\keep", "k"), "");
    const uint32_t cluster = FirstCluster("C:\\D");
    Unmount();
    PutImageBytes(EntryOffset(cluster, 0), ImageBytes(EntryOffset(cluster, 2), 64));
    PutImageBytes(EntryOffset(cluster, 2), std::string(64, '\0'));
    Remount();
    EXPECT_EQ(pcfm_rmdir("C:\\D"), -1);
    EXPECT_EQ(Errno(), EDIRNOTEMPTY);
    ExpectDamage();
}

TEST_F(DirectoriesTest, RemoveRules) {
    ASSERT_EQ(WriteFile("C:\\f", std::string(100000, 'f')), "");
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    EXPECT_EQ(pcfm_remove("C:\\D"), -1);
    EXPECT_EQ(Errno(), EWRONGKIND);
    EXPECT_EQ(pcfm_remove("C:\\missing"), -1);
    EXPECT_EQ(Errno(), ENOTFOUND);
    EXPECT_EQ(pcfm_remove("C:\\f"), 0);
    EXPECT_EQ(List("C:\\"), Names{"D"});
    EXPECT_EQ(TableEntry(1), 0);
    EXPECT_EQ(TableEntry(4), 0);
    // The deleted entry keeps its cluster fields.
    const std::string entry = ImageBytes(EntryOffset(0, 0), 64);
    EXPECT_EQ(static_cast<uint8_t>(entry[0]), kDeletedMark);
    EXPECT_EQ(entry[48], 1);
    EXPECT_EQ(entry[52], 4);
}

TEST_F(DirectoriesTest, RenameMovesEntries) {
    ASSERT_EQ(pcfm_mkdir("C:\\A"), 0);
    ASSERT_EQ(pcfm_mkdir("C:\\B"), 0);
    ASSERT_EQ(WriteFile("C:\\A\\f.ts", "content"), "");
    pcfm_file* file = pcfm_open("C:\\A\\f.ts", "+b");
    pcfm_set_time(file, 0x1234, 0x4321);
    pcfm_close(file);
    ASSERT_EQ(pcfm_rename("C:\\A\\f.ts", "C:\\B\\g.ts"), 0);
    EXPECT_EQ(List("C:\\A"), (Names{".", ".."}));
    EXPECT_EQ(ReadFile("C:\\B\\g.ts"), "content");
    file = pcfm_open("C:\\B\\g.ts", "r");
    EXPECT_EQ(file->entry->time, 0x1234);
    EXPECT_EQ(file->entry->date, 0x4321);
    pcfm_close(file);
    ASSERT_EQ(WriteFile("C:\\A\\x", "x"), "");
    ASSERT_EQ(pcfm_rename("C:\\A", "C:\\B\\A2"), 0);  // a directory with its contents
    EXPECT_EQ(ReadFile("C:\\B\\A2\\x"), "x");
    EXPECT_EQ(List("C:\\"), Names{"B"});
}

TEST_F(DirectoriesTest, RenameFailures) {
    ASSERT_EQ(WriteFile("C:\\a", "a"), "");
    ASSERT_EQ(WriteFile("C:\\b", "b"), "");
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    ASSERT_EQ(pcfm_mkdir("C:\\D\\E"), 0);
    EXPECT_EQ(pcfm_rename("C:\\a", "C:\\b"), -1);
    EXPECT_EQ(Errno(), EEXISTS);
    EXPECT_EQ(pcfm_rename("C:\\a", "C:\\D"), -1);
    EXPECT_EQ(Errno(), EEXISTS);
    EXPECT_EQ(pcfm_rename("C:\\missing", "C:\\c"), -1);
    EXPECT_EQ(Errno(), ENOTFOUND);
    EXPECT_EQ(pcfm_rename("C:\\a", "C:\\nofolder\\c"), -1);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_rename("C:\\D", "C:\\D\\E\\D"), -1);  // below itself
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(pcfm_rename("C:\\D\\..", "C:\\up"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
    EXPECT_EQ(List("C:\\"), (Names{"a", "b", "D"}));
    EXPECT_EQ(List("C:\\D\\E"), (Names{".", ".."}));
    EXPECT_EQ(ReadFile("C:\\a"), "a");
}

TEST_F(DirectoriesTest, ReaddirRules) {
    ASSERT_EQ(WriteFile("C:\\a", "a"), "");
    ASSERT_EQ(WriteFile("C:\\b", "b"), "");
    ASSERT_EQ(WriteFile("C:\\c", "c"), "");
    ASSERT_EQ(pcfm_remove("C:\\b"), 0);
    EXPECT_EQ(List("C:\\"), (Names{"a", "c"}));
    pcfm_file* root = pcfm_open("C:\\", "d");
    pcfm_dirent entry{};
    entry.index = 2;
    EXPECT_EQ(pcfm_readdir(root, &entry), -1);
    EXPECT_EQ(Errno(), ENOENTRY);
    entry.index = 512;
    EXPECT_EQ(pcfm_readdir(root, &entry), EBADARG);
    EXPECT_EQ(pcfm_readdir(root, nullptr), EBADARG);
    pcfm_close(root);
    entry.index = 0;
    EXPECT_EQ(pcfm_readdir(root, &entry), -1);
    EXPECT_EQ(Errno(), EBADHANDLE);
    pcfm_file* file = pcfm_open("C:\\a", "r");
    EXPECT_EQ(pcfm_readdir(file, &entry), -1);
    EXPECT_EQ(Errno(), ENOTADIR);
    EXPECT_EQ(file->fileops->control(file, 99, nullptr), EBADCONTROL);
    pcfm_close(file);
}

TEST_F(DirectoriesTest, FullDirectory) {
    ASSERT_EQ(pcfm_mkdir("C:\\F"), 0);
    for (int i = 0; i < 510; ++i) ASSERT_EQ(WriteFile("C:\\F\\e" + std::to_string(i), ""), "") << i;
    EXPECT_NE(WriteFile("C:\\F\\one more", ""), "");
    EXPECT_EQ(Errno(), EDIRFULL);
    Names names = List("C:\\F");
    ASSERT_EQ(names.size(), 512u);
    EXPECT_EQ(names[511], "e509");
    // With one slot deleted and no end marker, reading stops after the 512th slot.
    ASSERT_EQ(pcfm_remove("C:\\F\\e0"), 0);
    pcfm_file* folder = pcfm_open("C:\\F", "d");
    pcfm_dirent entry{};
    entry.index = 511;
    EXPECT_EQ(pcfm_readdir(folder, &entry), -1);
    EXPECT_EQ(Errno(), ENOENTRY);
    pcfm_close(folder);
    EXPECT_EQ(pcfm_rmdir("C:\\F"), -1);
    EXPECT_EQ(Errno(), EDIRNOTEMPTY);
    EXPECT_EQ(ReadFile("C:\\F\\e509"), "");
    EXPECT_EQ(pcfm_open("C:\\F\\e510", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
}

TEST_F(DirectoriesTest, TwoNewFilesInOneFolderTakeTwoSlots) {
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    pcfm_file* first = pcfm_open("C:\\D\\one", "wb");
    pcfm_file* second = pcfm_open("C:\\D\\two", "wb");
    EXPECT_NE(first->entry_index, second->entry_index);
    pcfm_write("1", 1, 1, first);
    pcfm_write("2", 1, 1, second);
    pcfm_close(second);
    pcfm_close(first);
    EXPECT_EQ(List("C:\\D"), (Names{".", "..", "one", "two"}));
}

// Bytes behind a directory's end were never entries: a new entry in the end slot leaves them
// unlisted, in the root and in a folder, and the disk checks clean.
TEST_F(DirectoriesTest, ANewEntryAtTheEndKeepsWhatLiesBehindItDead) {
    ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
    const uint32_t folder = FirstCluster("C:\\D");
    Unmount();
    std::string leftover(64, '\0');
    std::memcpy(leftover.data(), "old", 3);
    leftover[56] = '\x07';  // a size without clusters, were it an entry
    PutImageBytes(EntryOffset(0, 2), leftover);
    PutImageBytes(EntryOffset(folder, 3), leftover);
    ASSERT_EQ(Remount(), 0);
    ASSERT_EQ(WriteFile("C:\\new", "n"), "");
    ASSERT_EQ(WriteFile("C:\\D\\new", "n"), "");
    EXPECT_EQ(List("C:\\"), (Names{"D", "new"}));
    EXPECT_EQ(List("C:\\D"), (Names{".", "..", "new"}));
    ASSERT_EQ(Remount(), 0);
    EXPECT_EQ(List("C:\\"), (Names{"D", "new"}));
    EXPECT_EQ(List("C:\\D"), (Names{".", "..", "new"}));
}

TEST_F(DirectoriesTest, DirectoryBufferIsTrustedOnlyAfterAGoodRead) {
    ASSERT_EQ(pcfm_mkdir("C:\\A"), 0);
    ASSERT_EQ(pcfm_mkdir("C:\\B"), 0);
    ASSERT_EQ(WriteFile("C:\\A\\a1", "a"), "");
    ASSERT_EQ(WriteFile("C:\\B\\b1", "b"), "");
    Remount();
    EXPECT_EQ(List("C:\\A"), (Names{".", "..", "a1"}));  // A is in the shared buffer
    RecordingDriver::fail_read_first = kDataStart + FirstCluster("C:\\B") * sectors_per_cluster_;
    RecordingDriver::fail_read_count = 1;
    EXPECT_EQ(pcfm_open("C:\\B\\b1", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
    RecordingDriver::fail_read_count = 0;
    ASSERT_EQ(WriteFile("C:\\B\\new", "n"), "");
    EXPECT_EQ(List("C:\\B"), (Names{".", "..", "b1", "new"}));
    EXPECT_EQ(List("C:\\A"), (Names{".", "..", "a1"}));
}

}  // namespace
