// The PC side of a copy runs on a second thread (a PC target written one chunk behind, a PC
// source read one chunk ahead); these cases go wrong while it does: the PC's disk fills, the
// user stops, the receiver goes away, the source shrinks. Whatever is counted as copied is
// on the target, a failure is never reported as success, and the next run completes the file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "tests/transfer/receiver_copy_fixture.h"

namespace {

// 3 MiB and a little: 49 chunks of 64 KiB, the last one short.
constexpr size_t kSize = 3 * 1048576 + 4321;

// While it lives, the process may write no file beyond `limit` bytes: a write past it fails
// with EFBIG, as on a PC disk that is full.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t limit) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit now = old_;
        now.rlim_cur = limit;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &now), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};

// Each command of the receiver takes a few milliseconds, so that a copy of kSize lasts long
// enough for its progress to be shown while chunks are still to come.
emulator::FaultPlan SlowCommands() {
    emulator::FaultPlan plan;
    plan.latency_per_command_ms = 8;
    return plan;
}

class OverlappedCopyTest : public ReceiverCopyFixture, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        ReceiverCopyFixture::SetUp();
        win_.overlap_pc_side = box_.overlap_pc_side = GetParam();
        data_ = RandomBytes(kSize, 11);
        WriteFileBytes(Pc("rec.ts"), data_);
        win_.overlap_pc_side = false;
        ASSERT_TRUE(Put(Pc("rec.ts"), "C:\\")) << win_.failure;
        win_.overlap_pc_side = GetParam();
        win_.ResetLists();
        std::filesystem::create_directories(Pc("out"));
    }

    // The PC target holds the start of the source and at least what the copy counted.
    void ExpectCountedBytesOnTheTarget() {
        const std::string held = ReadFileBytes(Pc("out/rec.ts"));
        EXPECT_LE(box_.done_bytes, held.size());
        EXPECT_TRUE(held == data_.substr(0, held.size())) << held.size() << " bytes";
    }

    void ExpectTheNextRunCompletesTheFile() {
        box_.ResetLists();
        ASSERT_TRUE(Get("C:\\", "rec.ts", Pc("out"))) << box_.failure;
        EXPECT_TRUE(ReadFileBytes(Pc("out/rec.ts")) == data_);
    }

    std::string data_;
};

TEST_P(OverlappedCopyTest, APcDiskThatFillsFailsTheFileWhereverItFills) {
    // Within a chunk, at a chunk's end, in the last (short) chunk, one byte before the end.
    for (const rlim_t limit :
         {rlim_t{1048576 + 1000}, rlim_t{1048576}, rlim_t{3 * 1048576 + 8}, rlim_t{kSize - 1}}) {
        SCOPED_TRACE(limit);
        std::filesystem::remove(Pc("out/rec.ts"));
        box_.ResetLists();
        bool copied = true;
        {
            FileSizeLimit full(limit);
            copied = Get("C:\\", "rec.ts", Pc("out"));
        }
        EXPECT_FALSE(copied);
        EXPECT_FALSE(box_.stopped);
        EXPECT_TRUE(box_.TransferEnded());
        ASSERT_EQ(box_.failures.size(), 1u);
        EXPECT_NE(box_.failures[0].find("the PC's disk is full"), std::string::npos)
            << box_.failures[0];
        EXPECT_EQ(box_.copied.GetSize(), 0u);
        EXPECT_EQ(std::filesystem::file_size(Pc("out/rec.ts")), limit);
        ExpectCountedBytesOnTheTarget();
        ExpectTheNextRunCompletesTheFile();
    }
    // A disk with room for exactly the file takes it.
    std::filesystem::remove(Pc("out/rec.ts"));
    box_.ResetLists();
    FileSizeLimit exact(kSize);
    EXPECT_TRUE(Get("C:\\", "rec.ts", Pc("out"))) << box_.failure;
    EXPECT_TRUE(ReadFileBytes(Pc("out/rec.ts")) == data_);
}

bool StopAtFirstProgress(const TransferProgress& progress, void*) {
    return progress.phase != TransferProgress::kCopying;
}

TEST_P(OverlappedCopyTest, AStopMidFileLeavesWhatWasCountedOnTheTargetBothWays) {
    receiver_->SetFaultPlan(SlowCommands());
    box_.progress = StopAtFirstProgress;
    EXPECT_FALSE(Get("C:\\", "rec.ts", Pc("out")));
    EXPECT_TRUE(box_.stopped);
    EXPECT_TRUE(box_.failures.empty());
    EXPECT_EQ(box_.copied.GetSize(), 0u);
    // Every chunk counted is on the target, the one written behind included.
    EXPECT_EQ(std::filesystem::file_size(Pc("out/rec.ts")), box_.done_bytes);
    EXPECT_LT(box_.done_bytes, kSize);
    ExpectCountedBytesOnTheTarget();
    box_.progress = nullptr;
    receiver_->SetFaultPlan({});
    ExpectTheNextRunCompletesTheFile();

    // To the receiver, the source read ahead: the partial target holds what was counted.
    WriteFileBytes(Pc("new.ts"), data_);
    receiver_->SetFaultPlan(SlowCommands());
    win_.progress = StopAtFirstProgress;
    EXPECT_FALSE(Put(Pc("new.ts"), "C:\\"));
    EXPECT_TRUE(win_.stopped);
    const std::string partial = ReceiverBytes("C:\\new.ts");
    EXPECT_EQ(partial.size(), win_.done_bytes);
    EXPECT_LT(partial.size(), kSize);
    EXPECT_TRUE(partial == data_.substr(0, partial.size()));
    win_.progress = nullptr;
    receiver_->SetFaultPlan({});
    win_.ResetLists();
    ASSERT_TRUE(Put(Pc("new.ts"), "C:\\")) << win_.failure;
    EXPECT_TRUE(ReceiverBytes("C:\\new.ts") == data_);
    ExpectDiskClean();
}

TEST_P(OverlappedCopyTest, AReceiverPulledOutWhileAChunkIsWrittenBehindLosesNoByte) {
    // Pulled out within a chunk and at a chunk's end, back after a short while.
    for (const uint64_t after : {uint64_t{1048576 + 777}, uint64_t{2 * 1048576}}) {
        SCOPED_TRACE(after);
        std::filesystem::remove(Pc("out/rec.ts"));
        box_.ResetLists();
        emulator::FaultPlan plan;
        plan.unplug_after_bytes = after;  // counted from now
        plan.replug_after_ms = 50;
        receiver_->SetFaultPlan(plan);
        const uint64_t generation = receiver_->Generation();
        EXPECT_TRUE(Get("C:\\", "rec.ts", Pc("out"))) << box_.failure;
        EXPECT_GT(receiver_->Generation(), generation);  // it was out and came back
        receiver_->SetFaultPlan({});
        EXPECT_TRUE(ReadFileBytes(Pc("out/rec.ts")) == data_);
        EXPECT_EQ(box_.done_bytes, kSize);
    }
}

std::string g_shrinking;
bool ShrinkTheSourceAtFirstProgress(const TransferProgress& progress, void*) {
    if (progress.phase == TransferProgress::kCopying && !g_shrinking.empty()) {
        std::filesystem::resize_file(g_shrinking, 1048576 + 5);
        g_shrinking.clear();
    }
    return true;
}

TEST_P(OverlappedCopyTest, APcSourceThatShrinksWhileReadAheadFailsTheFile) {
    WriteFileBytes(Pc("shrinks.ts"), data_);
    receiver_->SetFaultPlan(SlowCommands());
    g_shrinking = Pc("shrinks.ts");
    win_.progress = ShrinkTheSourceAtFirstProgress;
    EXPECT_FALSE(Put(Pc("shrinks.ts"), "C:\\"));
    win_.progress = nullptr;
    receiver_->SetFaultPlan({});
    ASSERT_EQ(win_.failures.size(), 1u);
    EXPECT_NE(win_.failures[0].find("ended after"), std::string::npos) << win_.failures[0];
    EXPECT_EQ(win_.copied.GetSize(), 0u);
    // What reached the receiver is the source's start.
    const std::string partial = ReceiverBytes("C:\\shrinks.ts");
    EXPECT_TRUE(partial == data_.substr(0, partial.size())) << partial.size();
    ExpectDiskClean();
}

INSTANTIATE_TEST_SUITE_P(PcSide, OverlappedCopyTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Overlapped" : "InTurn"; });

}  // namespace
