// Recordings above 4 GiB copied to a FAT volume arrive in parts: "Rec1.TP0" as "Rec~0.TP0",
// "Rec~1.TP0", ... (the part number takes the name's last character); a copy
// that stopped is continued in its last part. The recording is sparse on both sides: only the
// bytes around the part boundary are data, and only they cross the link.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/profile_store.h"
#include "tests/transfer/receiver_fixture.h"
#include "tests/transfer/split_recording.h"
#include "transfer/box_function_mgr.h"
#include "transfer/name_helpers.h"

namespace {

uint64_t PcSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

using SplitCopyTest = SplitRecordingFixture;

TEST_F(SplitCopyTest, PartsEndAtTheFirstChunkBeyondTheLimitAndTheRestFollows) {
    // Part ~0 holds all but the last 4 MiB of its share, as a copy stopped there leaves it.
    recording_.WritePcPart0(Pc("Rec~0.TP0"), kFirstPartBytes - (4u << 20));
    ASSERT_TRUE(GetRecording()) << box_.failure;
    EXPECT_EQ(box_.resumed.GetSize(), 1u);
    EXPECT_EQ(PcSize(Pc("Rec~0.TP0")), kFirstPartBytes);
    EXPECT_EQ(PcSize(Pc("Rec~1.TP0")), recording_.size - kFirstPartBytes);
    EXPECT_FALSE(std::filesystem::exists(Pc("Rec~2.TP0")));
    EXPECT_TRUE(recording_.PartsMatch(Pc("")));
    EXPECT_FALSE(std::filesystem::exists(Pc("Rec1.TP0")));
}

TEST_F(SplitCopyTest, CopyWithPartsInPlaceContinuesInTheLastPart) {
    recording_.WritePcPart0(Pc("Rec~0.TP0"), kFirstPartBytes);
    const uint64_t in_last = 1048576 + 100;
    WriteFileBytes(Pc("Rec~1.TP0"),
                   recording_.tail.substr(recording_.TailIndex(kFirstPartBytes), in_last));
    receiver_->ResetCounters();
    ASSERT_TRUE(GetRecording()) << box_.failure;
    EXPECT_EQ(box_.resumed.GetSize(), 1u);
    EXPECT_EQ(PcSize(Pc("Rec~0.TP0")), kFirstPartBytes);
    EXPECT_EQ(PcSize(Pc("Rec~1.TP0")), recording_.size - kFirstPartBytes);
    EXPECT_TRUE(recording_.PartsMatch(Pc("")));
    // The head check, the last part's tail check and the missing bytes: nothing of part ~0.
    EXPECT_LT(receiver_->GetCounters().bytes_from_device,
              recording_.size - kFirstPartBytes + (4u << 20));
}

TEST_F(SplitCopyTest, LargeChunksNeverTakeAPartToFourGibibytes) {
    // With 512 KiB chunks the chunk after the limit would end a part exactly at 4 GiB, one
    // byte more than FAT holds: that chunk opens the next part instead.
    platform::Profile().WriteInt("Settings", "BufferSize", 524288);
    recording_.WritePcPart0(Pc("Rec~0.TP0"), 0xFFB80000ull);
    ASSERT_TRUE(GetRecording()) << box_.failure;
    EXPECT_EQ(PcSize(Pc("Rec~0.TP0")), 0xFFF80000ull);
    EXPECT_EQ(PcSize(Pc("Rec~1.TP0")), recording_.size - 0xFFF80000ull);
    EXPECT_TRUE(recording_.PartsMatch(Pc("")));
}

TEST_F(SplitCopyTest, WithoutAPartOnThePcNothingIsResumed) {
    // A stale whole-name target is not a part: the copy starts afresh in ~0 (here only the
    // decision is looked at; the copy of 4 GiB is stopped at once).
    WriteFileBytes(Pc("Rec1.TP0"), recording_.head);
    CDirList files;
    ASSERT_TRUE(box_.ReadDir("C:\\"));
    for (const CDirEntry& e : box_.listing)
        if (e.name == "Rec1.TP0") files.Add(e);
    CDirList sources, targets;
    EXPECT_FALSE(box_.CheckDestFiles(&files, &sources, &targets, "C:\\", Pc("")));
    recording_.WritePcPart0(Pc("Rec~0.TP0"), 2u << 20);
    EXPECT_TRUE(box_.CheckDestFiles(&files, &sources, &targets, "C:\\", Pc("")));
    ASSERT_EQ(targets.GetSize(), 1u);
    EXPECT_EQ(targets[0].fullPath, Pc("Rec~0.TP0"));
}

// Parts of an earlier, longer copy are not left beside a new one, and the sum of the parts
// is what "equal" compares.
TEST_F(SplitCopyTest, PartsOfAnEarlierCopyGoAndEqualCompletePartsAreKept) {
    recording_.WritePcPart0(Pc("Rec~0.TP0"), kFirstPartBytes - (4u << 20));
    // A stale third part from a longer recording of the same name.
    WriteFileBytes(Pc("Rec~2.TP0"), "stale");
    ASSERT_TRUE(GetRecording()) << box_.failure;
    EXPECT_TRUE(recording_.PartsMatch(Pc("")));
    EXPECT_FALSE(std::filesystem::exists(Pc("Rec~2.TP0")));

    // The complete parts, dated like the recording, are the same file: kept without a copy.
    receiver_->ResetCounters();
    ASSERT_TRUE(GetRecording()) << box_.failure;
    EXPECT_EQ(box_.equal_kept.GetSize(), 1u);
    EXPECT_LT(receiver_->GetCounters().bytes_from_device, 1u << 20);
}

}  // namespace
