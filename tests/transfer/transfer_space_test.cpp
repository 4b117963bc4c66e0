// The room a planned transfer needs, over the emulated receiver: whole clusters per file on
// the receiver, whole blocks (and parts) on the PC, with what existing targets give back.
#include "transfer/transfer_space.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "pvrdisk/fs/raw_file.h"
#include "tests/transfer/receiver_fixture.h"
#include "tests/transfer/split_recording.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/name_helpers.h"
#include "transfer/overwrite_check.h"
#include "transfer/receiver_connection.h"
#include "transfer/win_function_mgr.h"

namespace {

constexpr uint32_t kCluster = 32768;
constexpr uint64_t kPcBlock = 4096;

OverwriteAnswer YesToAll(const std::string&, void*) {
    return OverwriteAnswer::kYesToAll;
}

// A PC volume with the free space a test sets, allocating in 4 KiB blocks.
TargetVolumeReader FakePcVolume(uint64_t free_bytes) {
    return [free_bytes](const std::string&, TargetVolume* volume) {
        *volume = TargetVolume{free_bytes, kPcBlock};
        return true;
    };
}

class TransferSpaceTest : public ReceiverFixture {
  protected:
    void SetUp() override {
        ReceiverFixture::SetUp();
        MakeImage(16ull << 20, kCluster);
        Connect();
    }

    // The PC entries `names` of the test folder, gathered and past the overwrite check.
    CDirList PlannedPut(const std::vector<std::string>& names, const std::string& target) {
        CDirList picked;
        for (const std::string& name : names) {
            CDirEntry record;
            EXPECT_TRUE(MakePcRecord(Pc(""), name, &record)) << name;
            picked.Add(record);
        }
        CDirList files = GatherSelection(picked, false);
        win_.ResetLists();
        CheckOverwriteFiles(win_, &files, Pc(""), target, YesToAll, nullptr);
        return files;
    }

    CDirList PlannedGet(const std::string& name, const std::string& pc_folder) {
        EXPECT_TRUE(box_.ReadDir("C:\\"));
        CDirList picked;
        for (const CDirEntry& e : box_.listing)
            if (e.name == name) picked.Add(e);
        EXPECT_EQ(picked.GetSize(), 1u) << name;
        CDirList files = GatherSelection(picked, true);
        box_.ResetLists();
        CheckOverwriteFiles(box_, &files, "C:\\", pc_folder, YesToAll, nullptr);
        return files;
    }

    uint64_t ReceiverFree() {
        TargetVolume volume;
        EXPECT_TRUE(ReadTargetVolume(win_, "C:\\", &volume));
        EXPECT_EQ(volume.unit_bytes, kCluster);
        return volume.free_bytes;
    }

    TransferSpace PutSpace(CDirList* files, const std::string& target = "C:\\") {
        TransferSpace space;
        EXPECT_TRUE(CheckTransferSpace(win_, files, Pc(""), target, &space));
        return space;
    }

    // Writes `bytes` as the PC file `name`, plans its copy into the receiver's root in
    // `files` and weighs it.
    TransferSpace WeighPut(const std::string& name, const std::string& bytes, CDirList* files) {
        WriteFileBytes(Pc(name), bytes);
        *files = PlannedPut({name}, "C:\\");
        return PutSpace(files);
    }

    CWinFunctionMgr win_;
    CBoxFunctionMgr box_;
};

TEST_F(TransferSpaceTest, ReceiverTargetsTakeWholeClustersAndAFileThatJustFitsIsCopied) {
    const uint64_t free_bytes = ReceiverFree();
    ASSERT_EQ(free_bytes % kCluster, 0u);
    WriteFileBytes(Pc("a.bin"), "x");
    WriteFileBytes(Pc("b.bin"), "");
    std::filesystem::create_directories(Pc("Tree/Empty"));
    WriteFileBytes(Pc("Tree/c.bin"), std::string(kCluster + 1, 'c'));
    CDirList files = PlannedPut({"a.bin", "b.bin", "Tree"}, "C:\\");
    TransferSpace space = PutSpace(&files);
    // One cluster for a.bin, none for the empty b.bin, two for c.bin, one each for the two
    // new folders.
    EXPECT_EQ(space.needed_bytes, 5u * kCluster);
    EXPECT_EQ(space.free_bytes, free_bytes);
    EXPECT_TRUE(space.fits);
    ASSERT_TRUE(win_.CopyFiles(&files, Pc(""), "C:\\")) << win_.failure;
    EXPECT_EQ(ReceiverFree(), free_bytes - 5u * kCluster);

    // Copied again, the same files over themselves and the folders there: nothing more.
    files = PlannedPut({"a.bin", "b.bin", "Tree"}, "C:\\");
    EXPECT_EQ(PutSpace(&files).needed_bytes, 0u);

    // A file one byte larger than the free space does not fit; one of exactly it does.
    const uint64_t now_free = ReceiverFree();
    CDirList over;
    space = WeighPut("over.bin", std::string(now_free + 1, 'o'), &over);
    EXPECT_EQ(space.needed_bytes, now_free + kCluster);
    EXPECT_FALSE(space.fits);

    const std::string exact = RandomBytes(now_free, 7);
    CDirList fitting;
    space = WeighPut("exact.bin", exact, &fitting);
    EXPECT_EQ(space.needed_bytes, now_free);
    EXPECT_TRUE(space.fits);
    ASSERT_TRUE(win_.CopyFiles(&fitting, Pc(""), "C:\\")) << win_.failure;
    EXPECT_EQ(ReceiverFree(), 0u);
    EXPECT_TRUE(ReceiverBytes("C:\\exact.bin") == exact);
    ExpectDiskClean();
}

TEST_F(TransferSpaceTest, AnOverwriteGivesBackWhatItReplacesAndAResumeNeedsOnlyTheRest) {
    // A file of 9 MiB on a disk of 16: less is free than the file holds.
    const std::string old_bytes = RandomBytes(9u << 20, 1);
    WriteFileBytes(Pc("rec.ts"), old_bytes);
    CDirList first = PlannedPut({"rec.ts"}, "C:\\");
    ASSERT_TRUE(win_.CopyFiles(&first, Pc(""), "C:\\")) << win_.failure;
    const uint64_t free_bytes = ReceiverFree();
    ASSERT_LT(free_bytes, old_bytes.size());

    // Other bytes of the same size, a minute younger, go over it.
    const std::string new_bytes = RandomBytes(old_bytes.size(), 2);
    WriteFileBytes(Pc("rec.ts"), new_bytes);
    std::filesystem::last_write_time(
        Pc("rec.ts"), std::filesystem::last_write_time(Pc("rec.ts")) + std::chrono::minutes(1));
    CDirList again = PlannedPut({"rec.ts"}, "C:\\");
    ASSERT_EQ(win_.overwritten.GetSize(), 1u);
    TransferSpace space = PutSpace(&again);
    EXPECT_EQ(space.needed_bytes, 0u);
    EXPECT_TRUE(space.fits);
    ASSERT_TRUE(win_.CopyFiles(&again, Pc(""), "C:\\")) << win_.failure;
    EXPECT_TRUE(ReceiverBytes("C:\\rec.ts") == new_bytes);
    EXPECT_EQ(ReceiverFree(), free_bytes);

    // The receiver's file is the first 9 MiB of a longer one: the longer one needs only
    // the clusters beyond them, though it is larger than all that is free.
    const std::string longer = new_bytes + RandomBytes(free_bytes - kCluster + 1, 3);
    CDirList resumed;
    space = WeighPut("rec.ts", longer, &resumed);
    EXPECT_EQ(space.needed_bytes, free_bytes);
    EXPECT_TRUE(space.fits);
    ASSERT_TRUE(win_.CopyFiles(&resumed, Pc(""), "C:\\")) << win_.failure;
    EXPECT_EQ(win_.resumed.GetSize(), 1u);
    EXPECT_TRUE(ReceiverBytes("C:\\rec.ts") == longer);
    EXPECT_EQ(ReceiverFree(), 0u);

    // A byte more still fits in the slack of the last cluster; a cluster more does not.
    CDirList slack;
    space = WeighPut("rec.ts", longer + "!", &slack);
    EXPECT_EQ(space.needed_bytes, 0u);
    EXPECT_TRUE(space.fits);
    CDirList beyond;
    space = WeighPut("rec.ts", longer + std::string(kCluster, '!'), &beyond);
    EXPECT_EQ(space.needed_bytes, kCluster);
    EXPECT_FALSE(space.fits);
    ExpectDiskClean();
}

TEST_F(TransferSpaceTest, PcTargetsTakeWholeBlocksAndExistingTargetsGiveThemBack) {
    const std::string bytes = RandomBytes(3u << 20, 4);
    std::filesystem::create_directories(Pc("Show"));
    WriteFileBytes(Pc("Show/rec.ts"), bytes);
    CDirList put = PlannedPut({"Show"}, "C:\\");
    ASSERT_TRUE(win_.CopyFiles(&put, Pc(""), "C:\\")) << win_.failure;
    const std::string pc_folder = Pc("back");
    std::filesystem::create_directories(pc_folder);

    // The file's blocks and one for its new folder.
    const uint64_t whole = (3u << 20) + kPcBlock;
    CDirList files = PlannedGet("Show", pc_folder);
    TransferSpace space;
    ASSERT_TRUE(CheckTransferSpace(box_, &files, "C:\\", pc_folder, FakePcVolume(whole), &space));
    EXPECT_EQ(space.needed_bytes, whole);
    EXPECT_EQ(space.free_bytes, whole);
    EXPECT_TRUE(space.fits);
    ASSERT_TRUE(
        CheckTransferSpace(box_, &files, "C:\\", pc_folder, FakePcVolume(whole - 1), &space));
    EXPECT_FALSE(space.fits);

    // A partial copy of one byte beyond 2 MiB holds a block beyond them, in a folder that
    // is there.
    std::filesystem::create_directories(pc_folder + "/Show");
    WriteFileBytes(pc_folder + "/Show/rec.ts", bytes.substr(0, (2u << 20) + 1));
    files = PlannedGet("Show", pc_folder);
    ASSERT_TRUE(
        CheckTransferSpace(box_, &files, "C:\\", pc_folder, FakePcVolume(1u << 20), &space));
    EXPECT_EQ(space.needed_bytes, (1u << 20) - kPcBlock);
    EXPECT_TRUE(space.fits);

    // The real volume gives its own figures.
    ASSERT_TRUE(CheckTransferSpace(box_, &files, "C:\\", pc_folder, &space));
    EXPECT_GT(space.free_bytes, 0u);
    ExpectDiskClean();
}

using SplitSpaceTest = SplitRecordingFixture;

TEST_F(SplitSpaceTest, EachPartOfASplitCopyIsRoundedAndItsPartsGiveBackWhatTheyHold) {
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    CDirList picked;
    for (const CDirEntry& e : box_.listing)
        if (e.name == "Rec1.TP0") picked.Add(e);
    ASSERT_EQ(picked.GetSize(), 1u);
    CDirList files = picked;
    CheckOverwriteFiles(box_, &files, "C:\\", Pc(""), YesToAll, nullptr);
    TransferSpace space;
    ASSERT_TRUE(CheckTransferSpace(box_, &files, "C:\\", Pc(""), FakePcVolume(8ull << 30), &space));
    ASSERT_TRUE(files[0].targetSplit);
    // Two parts, each ending within a block of its own.
    const uint64_t whole = (recording_.size + kPcBlock - 1) / kPcBlock * kPcBlock + kPcBlock;
    EXPECT_EQ(space.needed_bytes, whole);

    // A first part left by a stopped copy stays and holds its blocks.
    const uint64_t held = kFirstPartBytes - (4u << 20);
    recording_.WritePcPart0(Pc("Rec~0.TP0"), held);
    files = picked;
    box_.ResetLists();
    CheckOverwriteFiles(box_, &files, "C:\\", Pc(""), YesToAll, nullptr);
    ASSERT_TRUE(CheckTransferSpace(box_, &files, "C:\\", Pc(""), FakePcVolume(8ull << 30), &space));
    EXPECT_EQ(space.needed_bytes, whole - held);
}

}  // namespace
