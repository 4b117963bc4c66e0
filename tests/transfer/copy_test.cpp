// Copies in both directions through the managers, over the emulated receiver.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/profile_store.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "tests/transfer/receiver_copy_fixture.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/overwrite_check.h"
#include "transfer/receiver_operations.h"
#include "transfer/win_function_mgr.h"

namespace {

OverwriteAnswer g_answers[16];
int g_asked = 0;
OverwriteAnswer Scripted(const std::string&, void*) {
    return g_answers[g_asked++];
}

class CopyTest : public ReceiverCopyFixture {
  protected:
    void SetUp() override {
        ReceiverCopyFixture::SetUp();
        g_asked = 0;
    }
};

const size_t kSizes[] = {0, 1, 511, 512, 513, 65536, 65537, 3 * 1048576 + 77};

TEST_F(CopyTest, FolderTreeGoesToTheReceiverAndComesBackByteForByte) {
    const std::string tree = Pc("Films");
    std::filesystem::create_directories(tree + "/Deep/Deeper");
    for (size_t i = 0; i < std::size(kSizes); ++i)
        WriteFileBytes(tree + (i % 2 ? "/Deep/f" : "/f") + std::to_string(i) + ".bin",
                       RandomBytes(kSizes[i], static_cast<uint32_t>(i)));
    WriteFileBytes(tree + "/Deep/Deeper/last.ts", RandomBytes(100000, 99));
    ASSERT_TRUE(Put(tree, "C:\\")) << win_.failure;
    EXPECT_EQ(win_.copied.GetSize(), std::size(kSizes) + 1);
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        const std::string box_path =
            std::string("C:\\Films") + (i % 2 ? "\\Deep\\f" : "\\f") + std::to_string(i) + ".bin";
        EXPECT_TRUE(ReceiverBytes(box_path) == RandomBytes(kSizes[i], static_cast<uint32_t>(i)))
            << box_path;
    }
    ExpectDiskClean();

    const std::string back = Pc("Back");
    std::filesystem::create_directories(back);
    ASSERT_TRUE(Get("C:\\", "Films", back)) << box_.failure;
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        const std::string pc =
            back + "/Films" + (i % 2 ? "/Deep/f" : "/f") + std::to_string(i) + ".bin";
        EXPECT_TRUE(ReadFileBytes(pc) == RandomBytes(kSizes[i], static_cast<uint32_t>(i))) << pc;
    }
    EXPECT_TRUE(ReadFileBytes(back + "/Films/Deep/Deeper/last.ts") == RandomBytes(100000, 99));
    // Times travel with the files: the receiver keeps two-second steps.
    struct stat source {
    }, copy{};
    stat((tree + "/f0.bin").c_str(), &source);
    stat((back + "/Films/f0.bin").c_str(), &copy);
    EXPECT_LE(std::llabs(source.st_mtime - copy.st_mtime), 2);
}

TEST_F(CopyTest, PartialPcTargetIsResumedAndCompleted) {
    const std::string data = RandomBytes(6 * 1048576 + 1234, 7);
    WriteFileBytes(Pc("rec.ts"), data);
    ASSERT_TRUE(Put(Pc("rec.ts"), "C:\\"));
    std::filesystem::create_directories(Pc("out"));
    WriteFileBytes(Pc("out/rec.ts"), data.substr(0, 4 * 1048576 + 99));
    receiver_->ResetCounters();
    box_.ResetLists();
    ASSERT_TRUE(Get("C:\\", "rec.ts", Pc("out"))) << box_.failure;
    EXPECT_TRUE(ReadFileBytes(Pc("out/rec.ts")) == data);
    EXPECT_EQ(box_.resumed.GetSize(), 1u);
    EXPECT_EQ(box_.overwritten.GetSize(), 0u);  // moved to resumed
    // Only the missing tail and the resume check's reads crossed the link.
    EXPECT_LT(receiver_->GetCounters().bytes_from_device, 2 * 1048576 + 4 * 1048576ull);
    const TransferCounts counts = CountTransfer(box_);
    EXPECT_EQ(counts.resumed, 1u);
    EXPECT_EQ(counts.copied_new, 0u);
}

TEST_F(CopyTest, PartialReceiverTargetIsResumedTwoChunksBeforeItsEnd) {
    const std::string data = RandomBytes(5 * 1048576, 8);
    WriteFileBytes(Pc("big.ts"), data);
    {
        CRawFile partial;
        ASSERT_TRUE(
            partial.Open("C:\\big.ts", CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        partial.Write(data.data(), 3 * 1048576);
        partial.Close();
    }
    receiver_->ResetCounters();
    ASSERT_TRUE(Put(Pc("big.ts"), "C:\\")) << win_.failure;
    EXPECT_EQ(win_.resumed.GetSize(), 1u);
    EXPECT_TRUE(ReceiverBytes("C:\\big.ts") == data);
    // Written again from 3 MiB - 2 x 64 KiB on, and the allocation table (all of it: the chain
    // lies below cluster 256) and the entry twice: when the copy ended and when it closed.
    const uint64_t rewritten = 5 * 1048576ull - (3 * 1048576 - 131072);
    EXPECT_GE(receiver_->GetCounters().bytes_to_device, rewritten + 2 * (131072 + 512));
    EXPECT_LT(receiver_->GetCounters().bytes_to_device, rewritten + 2 * (131072 + 512) + 65536);
    ExpectDiskClean();
}

TEST_F(CopyTest, ResumeNeedsMatchingEndsAndTheSetting) {
    const std::string data = RandomBytes(5 * 1048576, 9);
    WriteFileBytes(Pc("x.ts"), data);
    ASSERT_TRUE(Put(Pc("x.ts"), "C:\\"));
    std::filesystem::create_directories(Pc("o"));
    std::string damaged = data.substr(0, 3 * 1048576);
    damaged[3 * 1048576 - 10] ^= 1;  // the last MiB differs
    WriteFileBytes(Pc("o/x.ts"), damaged);
    ASSERT_TRUE(Get("C:\\", "x.ts", Pc("o")));
    EXPECT_EQ(box_.resumed.GetSize(), 0u);
    EXPECT_TRUE(ReadFileBytes(Pc("o/x.ts")) == data);

    platform::Profile().WriteInt("Settings", "AutoResumeFiles", 0);
    WriteFileBytes(Pc("o/x.ts"), data.substr(0, 3 * 1048576));
    box_.ResetLists();
    ASSERT_TRUE(Get("C:\\", "x.ts", Pc("o")));
    EXPECT_EQ(box_.resumed.GetSize(), 0u);
    EXPECT_TRUE(ReadFileBytes(Pc("o/x.ts")) == data);
}

TEST_F(CopyTest, OverwriteAnswersDecideFileByFile) {
    std::filesystem::create_directories(Pc("src"));
    for (int i = 0; i < 5; ++i)
        WriteFileBytes(Pc("src/f" + std::to_string(i)), RandomBytes(1000, i));
    ASSERT_TRUE(Put(Pc("src"), "C:\\"));
    // Newer, different sources: every file is asked about.
    for (int i = 0; i < 5; ++i)
        WriteFileBytes(Pc("src/f" + std::to_string(i)), RandomBytes(2000, 50 + i));
    g_answers[0] = OverwriteAnswer::kYes;
    g_answers[1] = OverwriteAnswer::kNo;
    g_answers[2] = OverwriteAnswer::kNoToAll;
    win_.ResetLists();
    ASSERT_TRUE(Put(Pc("src"), "C:\\", Scripted));
    EXPECT_EQ(g_asked, 3);  // no questions after "no to all"
    const TransferCounts counts = CountTransfer(win_);
    EXPECT_EQ(counts.overwritten, 1u);
    EXPECT_EQ(counts.skipped, 4u);
    // The folder lists its files in any order: one has the new bytes, four the old ones.
    int newer = 0, older = 0;
    for (int i = 0; i < 5; ++i) {
        const std::string bytes = ReceiverBytes("C:\\src\\f" + std::to_string(i));
        newer += bytes == RandomBytes(2000, 50 + i);
        older += bytes == RandomBytes(1000, i);
    }
    EXPECT_EQ(newer, 1);
    EXPECT_EQ(older, 4);
    ExpectDiskClean();
}

TEST_F(CopyTest, EqualFilesAreKeptWithoutAQuestion) {
    WriteFileBytes(Pc("same.ts"), RandomBytes(4000, 3));
    ASSERT_TRUE(Put(Pc("same.ts"), "C:\\"));
    std::filesystem::create_directories(Pc("o"));
    ASSERT_TRUE(Get("C:\\", "same.ts", Pc("o")));
    box_.ResetLists();
    g_answers[0] = OverwriteAnswer::kNo;
    ASSERT_TRUE(Get("C:\\", "same.ts", Pc("o"), Scripted));
    EXPECT_EQ(g_asked, 0);
    EXPECT_EQ(box_.equal_kept.GetSize(), 1u);
    EXPECT_EQ(SummaryText(CountTransfer(box_)),
              "New files copied:\t0\r\nOverwritten files:\t0\r\nResumed files:\t0\r\nEqual files "
              "kept:\t1\r\nSkipped by user:\t0");
    platform::Profile().WriteInt("Settings", "KeepEqualFiles", 0);
    box_.ResetLists();
    ASSERT_TRUE(Get("C:\\", "same.ts", Pc("o"), Scripted));
    EXPECT_EQ(g_asked, 1);
}

TEST_F(CopyTest, NamesAreCleanedForEachSide) {
    WriteFileBytes(Pc("a.b.c:what?.TP0"), "x");
    ASSERT_TRUE(Put(Pc("a.b.c:what?.TP0"), "C:\\"));
    EXPECT_EQ(ReceiverBytes("C:\\a b c;what,.TP0"), "x");
    const std::string long_name = std::string(40, 'L') + ".avi";
    WriteFileBytes(Pc(long_name), "long");
    ASSERT_TRUE(Put(Pc(long_name), "C:\\"));
    EXPECT_EQ(ReceiverBytes("C:\\" + std::string(32, 'L') + ".avi"), "long");
    // The existing shortened name is found again.
    CDirList files, sources, targets;
    CDirEntry record;
    MakePcRecord(folder_.Path(), long_name, &record);
    files.Add(record);
    EXPECT_TRUE(win_.CheckDestFiles(&files, &sources, &targets, folder_.Path(), "C:\\"));
    ASSERT_EQ(targets.GetSize(), 1u);
    EXPECT_EQ(targets[0].size, 4u);
    ExpectDiskClean();
}

TEST_F(CopyTest, ProtectedEntriesAreNotDeleted) {
    ASSERT_EQ(pcfm_mkdir("C:\\JukeBox"), 0);
    {
        CRawFile f;
        ASSERT_TRUE(
            f.Open("C:\\TM_SHIFT.000", CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        f.Write("t", 1);
    }
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList all = box_.listing;
    EXPECT_FALSE(box_.DeleteFiles(&all));
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    EXPECT_EQ(box_.listing.GetSize(), 2u);
    ExpectDiskClean();
}

TEST_F(CopyTest, DeletingAFolderDeletesItsFilesFirst) {
    std::filesystem::create_directories(Pc("gone/inner"));
    WriteFileBytes(Pc("gone/a"), "a");
    WriteFileBytes(Pc("gone/inner/b"), "b");
    ASSERT_TRUE(Put(Pc("gone"), "C:\\"));
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList selected;
    for (const CDirEntry& e : box_.listing)
        if (e.name == "gone") selected.Add(e);
    CDirList all = GatherSelection(selected, true);
    EXPECT_TRUE(box_.DeleteFiles(&all));
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    EXPECT_TRUE(box_.listing.IsEmpty());
    ExpectDiskClean();
}

TEST_F(CopyTest, MoveOntoItselfKeepsTheFile) {
    WriteFileBytes(Pc("keep.ts"), "precious");
    ASSERT_TRUE(Put(Pc("keep.ts"), "C:\\"));
    ASSERT_EQ(pcfm_mkdir("C:\\Other"), 0);
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList files;
    for (const CDirEntry& e : box_.listing)
        if (e.isFile) files.Add(e);
    EXPECT_TRUE(box_.MoveFiles(&files, "C:\\"));
    EXPECT_EQ(ReceiverBytes("C:\\keep.ts"), "precious");
    EXPECT_TRUE(box_.MoveFiles(&files, "C:\\Other"));
    EXPECT_EQ(ReceiverBytes("C:\\Other\\keep.ts"), "precious");
    EXPECT_EQ(ReceiverBytes("C:\\keep.ts"), "<missing>");
    ExpectDiskClean();
}

TEST_F(CopyTest, FoldersAndFilesAreRenamedInTheRootAndBelowIt) {
    ASSERT_EQ(pcfm_mkdir("C:\\Kept"), 0);
    WriteFileBytes(Pc("rec.ts"), "inside");
    ASSERT_TRUE(Put(Pc("rec.ts"), "C:\\Kept"));
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    ASSERT_EQ(box_.listing.GetSize(), 1u);
    EXPECT_TRUE(box_.RenameFile(box_.listing[0], "Archiv"));
    // Below the root the listing starts with "..", then the file.
    ASSERT_TRUE(box_.ReadDir("C:\\Archiv"));
    ASSERT_EQ(box_.listing.GetSize(), 2u);
    EXPECT_TRUE(box_.RenameFile(box_.listing[1], "News:1.ts"));  // cleaned for the receiver
    ASSERT_TRUE(box_.ReadDir("C:\\Archiv"));
    ASSERT_EQ(box_.listing.GetSize(), 2u);
    EXPECT_EQ(ReceiverBytes(box_.listing[1].fullPath), "inside");
    EXPECT_NE(box_.listing[1].name, "rec.ts");
    ExpectDiskClean();
}

TEST_F(CopyTest, AnExistingFileWithoutExtensionIsFoundWithItsTime) {
    WriteFileBytes(Pc("README"), "read me");
    ASSERT_TRUE(Put(Pc("README"), "C:\\")) << win_.failure;
    win_.ResetLists();
    ASSERT_TRUE(Put(Pc("README"), "C:\\")) << win_.failure;
    EXPECT_EQ(win_.equal_kept.GetSize(), 1u);
    EXPECT_EQ(win_.copied.GetSize(), 0u);
}

// Two receiver files whose PC names come out the same are both copied, to two names.
TEST_F(CopyTest, SourcesThatMapToOneTargetAreStoredApart) {
    CRawFile file;
    for (const char* name : {"C:\\a:b.ts", "C:\\a;b.ts"}) {
        ASSERT_TRUE(file.Open(name, CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        file.Write(name, 10);
        file.Close();
    }
    std::filesystem::create_directories(Pc("out"));
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList files;
    for (const CDirEntry& e : box_.listing)
        if (e.name == "a:b.ts" || e.name == "a;b.ts") files.Add(e);
    ASSERT_EQ(files.GetSize(), 2u);
    CheckOverwriteFiles(box_, &files, "C:\\", Pc("out"), YesToAllAnswers, nullptr);
    ASSERT_TRUE(box_.CopyFiles(&files, "C:\\", Pc("out"))) << box_.failure;
    EXPECT_EQ(box_.copied.GetSize(), 2u);
    const std::string one = ReadFileBytes(Pc("out/a;b.ts"));
    const std::string two = ReadFileBytes(Pc("out/a;b (2).ts"));
    EXPECT_NE(one, two);
    EXPECT_EQ(one.size(), 10u);
    EXPECT_EQ(two.size(), 10u);
    EXPECT_EQ(box_.renamed.size(), 2u);
}

TEST_F(CopyTest, PcMovesAndRenamesNeverReplaceUnasked) {
    std::filesystem::create_directories(Pc("a"));
    std::filesystem::create_directories(Pc("b"));
    WriteFileBytes(Pc("a/x.ts"), "moving");
    WriteFileBytes(Pc("b/x.ts"), "staying");
    CDirEntry record;
    ASSERT_TRUE(MakePcRecord(Pc("a"), "x.ts", &record));
    EXPECT_FALSE(win_.MoveEntry(record, Pc("b")));
    EXPECT_EQ(ReadFileBytes(Pc("b/x.ts")), "staying");
    EXPECT_EQ(ReadFileBytes(Pc("a/x.ts")), "moving");
    // Onto itself however spelt: nothing happens.
    EXPECT_TRUE(win_.MoveEntry(record, Pc("a/.")));
    EXPECT_TRUE(win_.MoveEntry(record, Pc("a//")));
    EXPECT_EQ(ReadFileBytes(Pc("a/x.ts")), "moving");
    // A rename onto an existing name is refused.
    WriteFileBytes(Pc("a/y.ts"), "other");
    EXPECT_FALSE(win_.RenameFile(record, "y.ts"));
    EXPECT_EQ(ReadFileBytes(Pc("a/y.ts")), "other");
    // With the user's yes the move replaces it in one step.
    CDirList files;
    files.Add(record);
    CheckMoveTargets(win_, &files, Pc("b"), YesToAllAnswers, nullptr);
    ASSERT_EQ(files.GetSize(), 1u);
    EXPECT_TRUE(win_.MoveEntry(record, Pc("b"))) << win_.failure;
    EXPECT_EQ(ReadFileBytes(Pc("b/x.ts")), "moving");
    EXPECT_FALSE(std::filesystem::exists(Pc("a/x.ts")));
}

TEST_F(CopyTest, PcMovesBetweenVolumesCopyBeforeTheyDelete) {
    // /dev/shm is a volume of its own where the machine has it.
    char shm_template[] = "/dev/shm/tessel-move-XXXXXX";
    if (mkdtemp(shm_template) == nullptr) GTEST_SKIP() << "no /dev/shm here";
    const std::string other = shm_template;
    struct stat here {
    }, there{};
    stat(Pc("").c_str(), &here);
    stat(other.c_str(), &there);
    if (here.st_dev == there.st_dev) {
        std::filesystem::remove_all(other);
        GTEST_SKIP() << "/dev/shm is on the same volume";
    }
    WriteFileBytes(Pc("x.ts"), RandomBytes(300000, 5));
    CDirEntry record;
    ASSERT_TRUE(MakePcRecord(Pc(""), "x.ts", &record));
    EXPECT_TRUE(win_.MoveEntry(record, other)) << win_.failure;
    EXPECT_TRUE(ReadFileBytes(other + "/x.ts") == RandomBytes(300000, 5));
    EXPECT_FALSE(std::filesystem::exists(Pc("x.ts")));
    std::filesystem::remove_all(other);
}

}  // namespace

TEST_F(CopyTest, AFolderMovedUpKeepsEveryFileOfTheSameNameOnBothSides) {
    // F/a and F/sub/a both go straight into the parent, where an older a is: the user's yes
    // replaces that one; F/sub/a must not replace F/a after it, so it stays where it was.
    std::filesystem::create_directories(Pc("pc/F/sub"));
    WriteFileBytes(Pc("pc/a.ts"), "old parent copy");
    WriteFileBytes(Pc("pc/F/a.ts"), "F's own");
    WriteFileBytes(Pc("pc/F/sub/a.ts"), "sub's");
    CDirEntry folder;
    ASSERT_TRUE(MakePcRecord(Pc("pc"), "F", &folder));
    CDirList selected;
    selected.Add(folder);
    CDirList files = GatherSelection(selected, false);
    CheckMoveTargets(win_, &files, Pc("pc"), YesToAllAnswers, nullptr);
    win_.MoveFiles(&files, Pc("pc"));
    EXPECT_EQ(ReadFileBytes(Pc("pc/a.ts")), "F's own");
    EXPECT_EQ(ReadFileBytes(Pc("pc/F/sub/a.ts")), "sub's");
    ASSERT_EQ(win_.failures.size(), 1u);
    EXPECT_NE(win_.failures[0].find("F/sub/a.ts is not moved"), std::string::npos)
        << win_.failures[0];

    ASSERT_EQ(pcfm_mkdir("C:\\F"), 0);
    ASSERT_EQ(pcfm_mkdir("C:\\F\\sub"), 0);
    for (const auto& [path, bytes] :
         {std::pair{"C:\\a.TP0", "old root copy"}, std::pair{"C:\\F\\a.TP0", "F's own"},
          std::pair{"C:\\F\\sub\\A.TP0", "sub's"}}) {
        CRawFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeCreate | CFile::modeWrite));
        file.Write(bytes, static_cast<unsigned>(strlen(bytes)));
    }
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList receiver_selected;
    for (const CDirEntry& e : box_.listing)
        if (e.name == "F") receiver_selected.Add(e);
    CDirList receiver_files = GatherSelection(receiver_selected, true);
    CheckMoveTargets(box_, &receiver_files, "C:\\", YesToAllAnswers, nullptr);
    box_.MoveFiles(&receiver_files, "C:\\");
    EXPECT_EQ(ReceiverBytes("C:\\a.TP0"), "F's own");
    EXPECT_EQ(ReceiverBytes("C:\\F\\sub\\A.TP0"), "sub's");  // names differing in case only, too
    EXPECT_EQ(box_.failures.size(), 1u);
    ExpectDiskClean();
}

TEST_F(CopyTest, ANewReceiverFolderIsMadeInItsParentOrNotAtAll) {
    ASSERT_EQ(pcfm_mkdir("C:\\Films"), 0);
    std::string error;
    EXPECT_EQ(MakeReceiverFolder("C:\\", "Old", &error), "C:\\Old");
    // A separator would make the folder inside another one.
    for (const char* name : {"Films/Old", "Films\\Old", "\\"}) {
        error.clear();
        EXPECT_EQ(MakeReceiverFolder("C:\\", name, &error), "") << name;
        EXPECT_NE(error.find("cannot"), std::string::npos) << error;
    }
    ASSERT_TRUE(box_.ReadDir("C:\\Films"));
    for (const CDirEntry& e : box_.listing) EXPECT_TRUE(e.name == "." || e.name == "..") << e.name;
    ExpectDiskClean();
}
