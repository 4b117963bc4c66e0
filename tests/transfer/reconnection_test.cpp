// The receiver pulled out at a random command of a copy and plugged in again after a random
// wait: the copy waits and goes on, or fails and is resumed by the next run; either way the
// target ends identical to the source and the disk clean. TESSEL_RECONNECT_RUNS sets the
// number of seeded runs of each case.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "app/string_table.h"
#include "emulator/image/receiver_image.h"
#include "platform/profile_store.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "tests/transfer/receiver_fixture.h"
#include "tests/transfer/split_recording.h"
#include "transfer/box_function_mgr.h"
#include "transfer/name_helpers.h"
#include "transfer/overwrite_check.h"
#include "transfer/win_function_mgr.h"

namespace {

OverwriteAnswer YesToAll(const std::string&, void*) {
    return OverwriteAnswer::kYesToAll;
}

// Stops the copy as soon as it shows that it waits for the receiver.
bool StopWhileWaiting(const TransferProgress& progress, void*) {
    return progress.phase != TransferProgress::kWaiting;
}

int Runs(int fallback) {
    const char* text = std::getenv("TESSEL_RECONNECT_RUNS");
    return text != nullptr ? std::atoi(text) : fallback;
}

enum class Direction { kToReceiver, kToPc };

class ReconnectionTest : public ReceiverFixture {
  protected:
    // Pulls the plug at one of the next `commands` commands and puts it back after a wait:
    // mostly shorter than the copy's first try to reconnect, sometimes some of its tries.
    emulator::FaultPlan PlanFault(std::mt19937& random, uint64_t commands) {
        emulator::FaultPlan plan;
        plan.unplug_at_command = receiver_->GetCounters().commands + 1 + random() % commands;
        plan.replug_after_ms = random() % 4 == 0 ? 200 + random() % 1300 : 1 + random() % 150;
        receiver_->SetFaultPlan(plan);
        return plan;
    }

    // Copies `name` from `source_folder` to `target_folder` once: a receiver that comes back
    // is caught up by that copy, without a second run. Then connects again for the checks.
    void CopyThroughTheOutage(bool to_receiver, const std::string& source_folder,
                              const std::string& name, const std::string& target_folder,
                              uint32_t seed) {
        CFunctionMgr& manager = to_receiver ? static_cast<CFunctionMgr&>(win_) : box_;
        EXPECT_TRUE(Copy(to_receiver, source_folder, name, target_folder))
            << "seed " << seed << ": " << manager.failure;
        receiver_->SetFaultPlan({});
        // The plug may have been pulled after the copy had its bytes on the disk.
        Reconnect();
    }

    bool Copy(bool to_receiver, const std::string& source_folder, const std::string& name,
              const std::string& target_folder) {
        CFunctionMgr& manager = to_receiver ? static_cast<CFunctionMgr&>(win_) : box_;
        manager.ResetLists();
        CDirList one;
        if (to_receiver) {
            CDirEntry record;
            if (!MakePcRecord(source_folder, name, &record)) return false;
            one.Add(record);
        } else {
            if (!box_.ReadDir(source_folder)) return false;
            for (const CDirEntry& e : box_.listing)
                if (e.name == name) one.Add(e);
            if (one.IsEmpty()) return false;
        }
        CheckOverwriteFiles(manager, &one, source_folder, target_folder, YesToAll, nullptr);
        return manager.CopyFiles(&one, source_folder, target_folder);
    }

    void WriteReceiver(const std::string& path, const std::string& bytes) {
        CRawFile file;
        ASSERT_TRUE(
            file.Open(path.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::typeBinary));
        file.Write(bytes.data(), static_cast<unsigned>(bytes.size()));
        file.Close();
    }

    std::string ReadReceiver(const std::string& path) {
        CRawFile file;
        if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return "";
        std::string bytes(file.GetLength(), '\0');
        if (!bytes.empty())
            bytes.resize(file.Read(bytes.data(), static_cast<unsigned>(bytes.size())));
        return bytes;
    }

    CWinFunctionMgr win_;
    CBoxFunctionMgr box_;
};

class BothWaysReconnectionTest : public ReconnectionTest,
                                 public ::testing::WithParamInterface<Direction> {
  protected:
    // One seeded run on a fresh disk: a copy of `size` bytes, of which the target already holds
    // the first `partial` (a resumed copy).
    void Run(uint32_t seed, size_t size, size_t partial) {
        std::mt19937 random(seed);
        MakeImage(256ull << 20, 32768);
        Connect();
        const std::string data = RandomBytes(size, seed);
        const bool to_receiver = GetParam() == Direction::kToReceiver;
        std::filesystem::create_directories(Pc("pc"));
        if (to_receiver) {
            WriteFileBytes(Pc("pc/rec.ts"), data);
            if (partial > 0) WriteReceiver("C:\\rec.ts", data.substr(0, partial));
        } else {
            WriteReceiver("C:\\rec.ts", data);
            if (partial > 0) WriteFileBytes(Pc("pc/rec.ts"), data.substr(0, partial));
        }
        // About one command per 64 KiB chunk, and a few for the file system.
        const emulator::FaultPlan plan = PlanFault(random, (size - partial) / 65536 + 8);
        const uint64_t at = plan.unplug_at_command - receiver_->GetCounters().commands;
        if (to_receiver)
            CopyThroughTheOutage(true, Pc("pc"), "rec.ts", "C:\\", seed);
        else
            CopyThroughTheOutage(false, "C:\\", "rec.ts", Pc("pc"), seed);
        const std::string copied =
            to_receiver ? ReadReceiver("C:\\rec.ts") : ReadFileBytes(Pc("pc/rec.ts"));
        EXPECT_TRUE(copied == data) << "seed " << seed << ": " << copied.size() << " of " << size
                                    << " bytes, unplugged at command " << at << ", back after "
                                    << plan.replug_after_ms << " ms";
        ExpectDiskClean();
        TearDown();
        std::filesystem::remove_all(Pc("pc"));
        std::filesystem::remove(image_);
    }
};

TEST_P(BothWaysReconnectionTest, CopyEndsIdenticalWhereverTheReceiverIsPulledOut) {
    const int runs = Runs(80);
    for (int seed = 0; seed < runs && !HasFailure(); ++seed)
        Run(1000 + seed, 1 + (seed * 7919u) % (3 << 20), 0);
}

TEST_P(BothWaysReconnectionTest, ResumedCopyEndsIdenticalWhereverTheReceiverIsPulledOut) {
    const int runs = Runs(80) / 2;
    for (int seed = 0; seed < runs && !HasFailure(); ++seed) {
        const size_t size = (3 << 20) + (seed * 104729u) % (2 << 20);
        Run(5000 + seed, size, (2 << 20) + 4096 + (seed * 7u) % 65536);
    }
}

INSTANTIATE_TEST_SUITE_P(BothWays, BothWaysReconnectionTest,
                         ::testing::Values(Direction::kToReceiver, Direction::kToPc),
                         [](const auto& info) {
                             return info.param == Direction::kToReceiver ? "ToReceiver" : "ToPc";
                         });

// A split copy to a FAT volume continued a few MiB before the end of its first part, so that
// the receiver is pulled out before, at or after the part boundary.
TEST_F(ReconnectionTest, SplitCopyEndsIdenticalWhereverTheReceiverIsPulledOut) {
    SetFileSystemNameProvider(FatVolume);
    const SplitRecording recording;
    MakeImage(kSplitImageBytes, kSplitImageCluster);
    WriteSparseReceiverFile(kSplitSource, recording.size, recording.head, recording.tail);
    Connect();
    const int runs = Runs(80) / 2;
    for (int seed = 0; seed < runs && !HasFailure(); ++seed) {
        std::mt19937 random(9000 + seed);
        std::filesystem::remove_all(Pc("pc"));
        std::filesystem::create_directories(Pc("pc"));
        // Every fourth run the copy stopped inside a chunk; the part then ends elsewhere.
        const bool aligned = seed % 4 != 0;
        const uint64_t stopped = kFirstPartBytes - (1u << 20) - 65536ull * (random() % 48) -
                                 (aligned ? 0 : 1 + random() % 65535);
        recording.WritePcPart0(Pc("pc/Rec~0.TP0"), stopped);
        receiver_->ResetCounters();
        const emulator::FaultPlan plan = PlanFault(random, (recording.size - stopped) / 65536 + 8);
        CopyThroughTheOutage(false, "C:\\", "Rec1.TP0", Pc("pc"), 9000 + seed);
        // A resume check cut short by the lost link keeps the part for the next run: the
        // copy never starts again from the beginning.
        EXPECT_LT(receiver_->GetCounters().bytes_from_device, 64ull << 20)
            << "seed " << 9000 + seed;
        EXPECT_TRUE(recording.PartsMatch(Pc("pc/")))
            << "seed " << 9000 + seed << ", continued at " << stopped << ", back after "
            << plan.replug_after_ms << " ms";
        if (aligned) {
            EXPECT_EQ(std::filesystem::file_size(Pc("pc/Rec~0.TP0")), kFirstPartBytes)
                << "seed " << 9000 + seed;
        }
    }
    ExpectDiskClean();
    SetFileSystemNameProvider(nullptr);
}

// The user gives up waiting for a receiver that stays away: what was written back stays on
// the receiver as a partial file, and the next copy resumes it.
TEST_F(ReconnectionTest, AReceiverThatStaysAwayLeavesAPartialTargetTheNextCopyResumes) {
    MakeImage(256ull << 20, 32768);
    Connect();
    std::filesystem::create_directories(Pc("pc"));
    const std::string data = RandomBytes(40u << 20, 77);
    WriteFileBytes(Pc("pc/rec.ts"), data);
    emulator::FaultPlan plan;
    plan.unplug_after_bytes = 25u << 20;
    receiver_->SetFaultPlan(plan);
    win_.progress = StopWhileWaiting;
    EXPECT_FALSE(Copy(true, Pc("pc"), "rec.ts", "C:\\"));
    EXPECT_TRUE(win_.stopped);
    win_.progress = nullptr;

    receiver_->SetFaultPlan({});
    receiver_->Plug();
    Reconnect();
    const std::string partial = ReadReceiver("C:\\rec.ts");
    EXPECT_GE(partial.size(), 16u << 20);
    EXPECT_TRUE(partial == data.substr(0, partial.size()));
    ExpectDiskClean();

    receiver_->ResetCounters();
    ASSERT_TRUE(Copy(true, Pc("pc"), "rec.ts", "C:\\")) << win_.failure;
    EXPECT_EQ(win_.resumed.GetSize(), 1u);
    EXPECT_LT(receiver_->GetCounters().bytes_to_device, data.size() - partial.size() + (1u << 20));
    EXPECT_TRUE(ReadReceiver("C:\\rec.ts") == data);
    ExpectDiskClean();
}

// While the receiver is away it may write its own disk. A second process writes a file into
// the image then; after the copy both files are whole and the disk is clean: nothing held in
// memory from before the outage went back to the disk.
std::string g_image_for_writer;
bool g_written_while_away = false;

bool WriteAnotherFileWhileAway(const TransferProgress& progress, void*) {
    if (progress.phase != TransferProgress::kWaiting || g_written_while_away) return true;
    g_written_while_away = true;
    const pid_t child = fork();
    if (child == 0) {
        // The child has its own copy of the library's state: it drops it and mounts the
        // image itself, as the receiver would.
        pcfm_release();
        if (image::MountReceiverImage(g_image_for_writer) != 0) _exit(2);
        pcfm_file* file = pcfm_open("C:\\other.bin", "wb");
        const std::string bytes = RandomBytes(3u << 20, 99);
        const bool ok = file != nullptr &&
                        pcfm_write(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                        pcfm_close(file) == 0;
        image::UnmountReceiverImage();
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return true;
}

TEST_F(ReconnectionTest, WhatTheReceiverWroteWhileAwayStaysIntact) {
    MakeImage(256ull << 20, 32768);
    Connect();
    std::filesystem::create_directories(Pc("pc"));
    // Before its first write-back (16 MiB) the target's clusters are free on the disk, where
    // the receiver's own file takes them.
    const std::string data = RandomBytes(12u << 20, 55);
    WriteFileBytes(Pc("pc/rec.ts"), data);
    emulator::FaultPlan plan;
    plan.unplug_after_bytes = 6u << 20;
    plan.replug_after_ms = 2500;
    receiver_->SetFaultPlan(plan);
    g_image_for_writer = image_;
    g_written_while_away = false;
    win_.progress = WriteAnotherFileWhileAway;
    EXPECT_TRUE(Copy(true, Pc("pc"), "rec.ts", "C:\\")) << win_.failure;
    win_.progress = nullptr;
    EXPECT_TRUE(g_written_while_away);
    receiver_->SetFaultPlan({});
    Reconnect();
    EXPECT_TRUE(ReadReceiver("C:\\rec.ts") == data);
    EXPECT_TRUE(ReadReceiver("C:\\other.bin") == RandomBytes(3u << 20, 99));
    ExpectDiskClean();
}

}  // namespace
