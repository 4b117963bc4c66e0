// Copies read back after the copy, in both directions, over the emulated receiver: a target
// damaged between the copy and its read-back is found and kept; sound copies pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "tests/transfer/receiver_copy_fixture.h"
#include "tests/transfer/split_recording.h"
#include "transfer/box_function_mgr.h"
#include "transfer/gathering.h"
#include "transfer/overwrite_check.h"
#include "transfer/win_function_mgr.h"

namespace {

// 3 MiB and a little: many chunks of 64 KiB; its middle byte is flipped by the tests.
constexpr size_t kBigSize = 3 * 1048576 + 4321;
constexpr uint64_t kMiddle = kBigSize / 2;

std::function<void(const CDirEntry&)> g_damage;
void RunDamage(const CDirEntry& entry, void*) {
    if (g_damage) g_damage(entry);
}

void FlipPcByte(const std::string& path, uint64_t offset) {
    std::string bytes = ReadFileBytes(path);
    bytes[offset] ^= 0x10;
    WriteFileBytes(path, bytes);
}

// Through a receiver stream of its own, over the link: the copy's streams never see it.
void FlipReceiverByte(const std::string& path, uint64_t offset) {
    CRawFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeWrite | CFile::typeBinary));
    file.Seek(static_cast<int64_t>(offset), CFile::begin);
    char byte = 0;
    ASSERT_EQ(file.Read(&byte, 1), 1u);
    byte ^= 0x10;
    file.Seek(static_cast<int64_t>(offset), CFile::begin);
    file.Write(&byte, 1);
    file.Close();
}

class CopyVerifyTest : public ReceiverCopyFixture {
  protected:
    void SetUp() override {
        ReceiverCopyFixture::SetUp();
        for (CFunctionMgr* manager : std::initializer_list<CFunctionMgr*>{&win_, &box_}) {
            manager->verify_copies = true;
            manager->before_verify = RunDamage;
        }
        g_damage = nullptr;
    }
    void TearDown() override {
        g_damage = nullptr;
        ReceiverCopyFixture::TearDown();
    }
};

TEST_F(CopyVerifyTest, PcTargetDamagedBeforeTheReadBackIsReportedAndKept) {
    const std::string data = RandomBytes(kBigSize, 1);
    WriteFileBytes(Pc("rec.ts"), data);
    win_.verify_copies = false;
    ASSERT_TRUE(Put(Pc("rec.ts"), "C:\\")) << win_.failure;
    std::filesystem::create_directories(Pc("out"));
    g_damage = [](const CDirEntry& entry) { FlipPcByte(entry.targetPath, kMiddle); };

    EXPECT_FALSE(Get("C:\\", "rec.ts", Pc("out")));
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_NE(box_.failures[0].find("from byte " + std::to_string(kMiddle) + " on"),
              std::string::npos)
        << box_.failures[0];
    EXPECT_EQ(box_.verified_files, 1u);
    EXPECT_EQ(box_.verify_differences, 1u);
    EXPECT_EQ(box_.copied.GetSize(), 0u);
    // Kept as the damage left it: whole length, one byte off.
    std::string damaged = data;
    damaged[kMiddle] ^= 0x10;
    EXPECT_TRUE(ReadFileBytes(Pc("out/rec.ts")) == damaged);
    EXPECT_NE(SummaryText(CountTransfer(box_)).find("\r\nVerified files: 1, differences: 1"),
              std::string::npos);
}

TEST_F(CopyVerifyTest, ReceiverTargetDamagedOnItsDiskBeforeTheReadBackIsReportedAndKept) {
    const std::string data = RandomBytes(kBigSize, 2);
    WriteFileBytes(Pc("big.ts"), data);
    g_damage = [](const CDirEntry&) { FlipReceiverByte("C:\\big.ts", kMiddle); };

    EXPECT_FALSE(Put(Pc("big.ts"), "C:\\"));
    ASSERT_EQ(win_.failures.size(), 1u);
    EXPECT_NE(win_.failures[0].find("C:\\big.ts differs"), std::string::npos) << win_.failures[0];
    EXPECT_NE(win_.failures[0].find("from byte " + std::to_string(kMiddle) + " on"),
              std::string::npos)
        << win_.failures[0];
    EXPECT_EQ(win_.verified_files, 1u);
    EXPECT_EQ(win_.verify_differences, 1u);
    std::string damaged = data;
    damaged[kMiddle] ^= 0x10;
    EXPECT_TRUE(ReceiverBytes("C:\\big.ts") == damaged);
    ExpectDiskClean();
}

TEST_F(CopyVerifyTest, ATargetLongerOrShorterThanItsSourceDiffersWhereOneEnds) {
    const std::string data = RandomBytes(200000, 3);
    WriteFileBytes(Pc("a.bin"), data);
    std::filesystem::create_directories(Pc("out"));
    win_.verify_copies = false;
    ASSERT_TRUE(Put(Pc("a.bin"), "C:\\"));
    g_damage = [&](const CDirEntry& entry) { WriteFileBytes(entry.targetPath, data + "x"); };
    EXPECT_FALSE(Get("C:\\", "a.bin", Pc("out")));
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_NE(box_.failures[0].find("from byte 200000 on"), std::string::npos) << box_.failures[0];
    box_.ResetLists();
    std::filesystem::remove(Pc("out/a.bin"));
    g_damage = [&](const CDirEntry& entry) { WriteFileBytes(entry.targetPath, data.substr(0, 9)); };
    EXPECT_FALSE(Get("C:\\", "a.bin", Pc("out")));
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_NE(box_.failures[0].find("from byte 9 on"), std::string::npos) << box_.failures[0];
    EXPECT_EQ(box_.verify_differences, 1u);
}

TEST_F(CopyVerifyTest, EmptyAndOneChunkFilesPassAndADifferenceInTheLastByteIsFound) {
    std::filesystem::create_directories(Pc("out"));
    for (const size_t size : {size_t{0}, size_t{65536}, size_t{65537}}) {
        SCOPED_TRACE(size);
        const std::string name = "f" + std::to_string(size) + ".bin";
        const std::string data = RandomBytes(size, static_cast<uint32_t>(size));
        WriteFileBytes(Pc(name), data);
        win_.ResetLists();
        ASSERT_TRUE(Put(Pc(name), "C:\\")) << win_.failure;
        EXPECT_EQ(win_.verified_files, 1u);
        box_.ResetLists();
        ASSERT_TRUE(Get("C:\\", name, Pc("out"))) << box_.failure;
        EXPECT_EQ(box_.verified_files, 1u);
        EXPECT_EQ(box_.verify_differences, 0u);
        if (size == 0) continue;
        // The last byte changed, on each side in turn.
        g_damage = [&](const CDirEntry& entry) { FlipPcByte(entry.targetPath, size - 1); };
        box_.ResetLists();
        std::filesystem::remove(Pc("out/" + name));
        EXPECT_FALSE(Get("C:\\", name, Pc("out")));
        ASSERT_EQ(box_.failures.size(), 1u);
        EXPECT_NE(box_.failures[0].find("from byte " + std::to_string(size - 1) + " on"),
                  std::string::npos)
            << box_.failures[0];
        g_damage = [&](const CDirEntry&) { FlipReceiverByte("C:\\" + name, size - 1); };
        win_.ResetLists();
        ASSERT_EQ(pcfm_remove(("C:\\" + name).c_str()), 0);
        EXPECT_FALSE(Put(Pc(name), "C:\\"));
        ASSERT_EQ(win_.failures.size(), 1u);
        EXPECT_NE(win_.failures[0].find("from byte " + std::to_string(size - 1) + " on"),
                  std::string::npos)
            << win_.failures[0];
        g_damage = nullptr;
    }
    ExpectDiskClean();
}

TEST_F(CopyVerifyTest, ATargetRemovedBeforeItsReadBackIsNotVerifiedOnEitherSide) {
    const std::string data = RandomBytes(kBigSize, 5);
    WriteFileBytes(Pc("gone.ts"), data);
    g_damage = [](const CDirEntry&) { ASSERT_EQ(pcfm_remove("C:\\gone.ts"), 0); };
    EXPECT_FALSE(Put(Pc("gone.ts"), "C:\\"));
    ASSERT_EQ(win_.failures.size(), 1u);
    EXPECT_EQ(win_.failures[0].rfind("not verified: C:\\gone.ts: ", 0), 0u) << win_.failures[0];
    EXPECT_EQ(win_.verified_files, 0u);
    EXPECT_EQ(win_.copied.GetSize(), 0u);

    g_damage = nullptr;
    ASSERT_TRUE(Put(Pc("gone.ts"), "C:\\")) << win_.failure;
    std::filesystem::create_directories(Pc("out"));
    g_damage = [](const CDirEntry& entry) { std::filesystem::remove(entry.targetPath); };
    EXPECT_FALSE(Get("C:\\", "gone.ts", Pc("out")));
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_EQ(box_.failures[0].rfind("not verified: ", 0), 0u) << box_.failures[0];
    EXPECT_EQ(box_.verified_files, 0u);
    EXPECT_EQ(box_.copied.GetSize(), 0u);
    ExpectDiskClean();
}

TEST_F(CopyVerifyTest, HundredsOfSoundCopiesBothWaysPassWithResumedOnesReadWhole) {
    const std::string tree = Pc("Many");
    std::filesystem::create_directories(tree + "/Sub");
    constexpr int kSmall = 300;
    for (int i = 0; i < kSmall; ++i)
        WriteFileBytes(tree + (i % 3 ? "/Sub/s" : "/s") + std::to_string(i),
                       RandomBytes(static_cast<size_t>(i * 37 % 5000), static_cast<uint32_t>(i)));
    for (int i = 0; i < 3; ++i)
        WriteFileBytes(tree + "/big" + std::to_string(i) + ".ts",
                       RandomBytes(kBigSize + static_cast<size_t>(i) * 65536, 1000 + i));
    ASSERT_TRUE(Put(tree, "C:\\")) << win_.failure;
    EXPECT_EQ(win_.verified_files, kSmall + 3u);
    EXPECT_EQ(win_.verify_differences, 0u);
    EXPECT_NE(SummaryText(CountTransfer(win_)).find("\r\nVerified files: 303, differences: 0"),
              std::string::npos);

    std::filesystem::create_directories(Pc("Back"));
    ASSERT_TRUE(Get("C:\\", "Many", Pc("Back"))) << box_.failure;
    EXPECT_EQ(box_.verified_files, kSmall + 3u);
    EXPECT_EQ(box_.verify_differences, 0u);

    // A resumed file is read back from its first byte, so a flaw in the part kept from before
    // is found too; files kept as equal are not counted as verified.
    const std::string big = RandomBytes(kBigSize + 4 * 1048576, 77);
    WriteFileBytes(Pc("resume.ts"), big);
    ASSERT_TRUE(Put(Pc("resume.ts"), "C:\\"));
    std::string partial = big.substr(0, 3 * 1048576);
    WriteFileBytes(Pc("Back/resume.ts"), partial);
    box_.ResetLists();
    ASSERT_TRUE(Get("C:\\", "resume.ts", Pc("Back"))) << box_.failure;
    EXPECT_EQ(box_.resumed.GetSize(), 1u);
    EXPECT_EQ(box_.verified_files, 1u);
    box_.ResetLists();
    ASSERT_TRUE(Get("C:\\", "resume.ts", Pc("Back")));
    EXPECT_EQ(box_.equal_kept.GetSize(), 1u);
    EXPECT_EQ(box_.verified_files, 0u);

    partial[1572864] ^= 1;  // between the two MiB the resume check compares
    WriteFileBytes(Pc("Back/resume.ts"), partial);
    box_.ResetLists();
    EXPECT_FALSE(Get("C:\\", "resume.ts", Pc("Back")));
    EXPECT_EQ(box_.resumed.GetSize(), 0u);  // a file that failed is not counted as resumed
    EXPECT_EQ(box_.verify_differences, 1u);
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_NE(box_.failures[0].find("from byte 1572864 on"), std::string::npos) << box_.failures[0];

    // The receiver side resumes too: two chunks before the end of what it holds.
    {
        CRawFile cut;
        ASSERT_TRUE(
            cut.Open("C:\\resume.ts", CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        cut.Write(big.data(), 3 * 1048576);
        cut.Close();
    }
    win_.ResetLists();
    ASSERT_TRUE(Put(Pc("resume.ts"), "C:\\")) << win_.failure;
    EXPECT_EQ(win_.resumed.GetSize(), 1u);
    EXPECT_EQ(win_.verified_files, 1u);
    EXPECT_EQ(win_.verify_differences, 0u);
    ExpectDiskClean();
}

TEST_F(CopyVerifyTest, AReceiverLostDuringTheReadBackLeavesTheFileNotVerified) {
    const std::string data = RandomBytes(kBigSize, 4);
    WriteFileBytes(Pc("lost.ts"), data);
    g_damage = [this](const CDirEntry&) { receiver_->Unplug(); };
    EXPECT_FALSE(Put(Pc("lost.ts"), "C:\\"));
    ASSERT_EQ(win_.failures.size(), 1u);
    EXPECT_EQ(win_.failures[0].rfind("not verified: C:\\lost.ts: ", 0), 0u) << win_.failures[0];
    EXPECT_EQ(win_.verified_files, 0u);
    EXPECT_EQ(win_.copied.GetSize(), 0u);
    receiver_->Plug();
    Reconnect();
    EXPECT_TRUE(ReceiverBytes("C:\\lost.ts") == data);
    ExpectDiskClean();
}

// A recording above 4 GiB copied to FAT arrives in two parts; the read-back goes across both,
// so a byte changed in the second part is found at its place in the recording.
class SplitVerifyTest : public SplitRecordingFixture {
  protected:
    void SetUp() override {
        SplitRecordingFixture::SetUp();
        box_.verify_copies = true;
        box_.before_verify = RunDamage;
    }
};

TEST_F(SplitVerifyTest, BothPartsOfAResumedCopyAreReadBackAsOneRecording) {
    // The first part as a stopped copy left it: the copy resumes it, the read-back goes over
    // all of it and on into the second part (a whole read of 4 GiB, sparse on both sides).
    recording_.WritePcPart0(Pc("Rec~0.TP0"), kFirstPartBytes - (4u << 20));
    g_damage = [this](const CDirEntry&) { FlipPcByte(Pc("Rec~1.TP0"), 1000); };
    EXPECT_FALSE(GetRecording());
    g_damage = nullptr;
    EXPECT_EQ(box_.verified_files, 1u);
    ASSERT_EQ(box_.failures.size(), 1u);
    EXPECT_NE(box_.failures[0].find("from byte " + std::to_string(kFirstPartBytes + 1000) + " on"),
              std::string::npos)
        << box_.failures[0];
    EXPECT_EQ(box_.verify_differences, 1u);
    // Both parts are kept whole.
    EXPECT_EQ(std::filesystem::file_size(Pc("Rec~0.TP0")), kFirstPartBytes);
    EXPECT_EQ(std::filesystem::file_size(Pc("Rec~1.TP0")), recording_.size - kFirstPartBytes);
}

}  // namespace
