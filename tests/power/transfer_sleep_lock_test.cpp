// A transfer through the real engine to the emulated receiver holds the sleep lock while its
// files are copied, the way the main window holds it around CopyFiles, and none after.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system_power.h"
#include "pvrdisk/fs/raw_file.h"
#include "tests/power/logind_mock.h"
#include "tests/transfer/receiver_fixture.h"
#include "transfer/gathering.h"
#include "transfer/win_function_mgr.h"

namespace {

class TransferSleepLockTest : public ReceiverFixture {
  protected:
    void SetUp() override {
        ReceiverFixture::SetUp();
        MakeImage();
        Connect();
    }

    // Every progress step asks logind whether the sleep lock is there.
    static bool CheckLock(const TransferProgress&, void* context) {
        auto* self = static_cast<TransferSleepLockTest*>(context);
        ++self->steps_;
        bool sleep_blocked = false;
        for (const InhibitorLock& lock : self->logind_.Inhibitors())
            sleep_blocked |= lock.what == "sleep" && lock.mode == "block";
        if (!sleep_blocked) ++self->steps_without_lock_;
        return true;
    }

    LogindMock logind_;
    int steps_ = 0;
    int steps_without_lock_ = 0;
};

TEST_F(TransferSleepLockTest, LockIsHeldDuringTheCopyAndGoneAfterIt) {
    ASSERT_TRUE(logind_.Ready()) << logind_.Failure();
    const std::string folder = Pc("Films");
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 3; ++i)
        WriteFileBytes(folder + "/f" + std::to_string(i) + ".TP0",
                       RandomBytes(1 << 20, static_cast<uint32_t>(i)));
    CDirEntry record;
    ASSERT_TRUE(MakePcRecord(folder_.Path(), "Films", &record));
    CDirList one;
    one.Add(record);
    CDirList files = GatherSelection(one, false);

    CWinFunctionMgr win;
    win.progress = CheckLock;
    win.progress_context = this;
    ASSERT_TRUE(logind_.Inhibitors().empty());
    bool copied = false;
    {
        platform::SleepInhibitor lock("Copying files to the receiver");
        ASSERT_TRUE(lock.Held()) << lock.Failure();
        copied = win.CopyFiles(&files, folder_.Path(), "C:\\");
    }
    EXPECT_TRUE(copied);
    EXPECT_GE(steps_, 3);
    EXPECT_EQ(steps_without_lock_, 0);
    EXPECT_TRUE(logind_.WaitUntilNoInhibitors());

    CRawFile copy;
    ASSERT_TRUE(copy.Open("C:\\Films\\f2.TP0", CFile::modeRead | CFile::typeBinary));
    std::string bytes(copy.GetLength(), '\0');
    copy.Read(bytes.data(), static_cast<unsigned>(bytes.size()));
    EXPECT_EQ(bytes, RandomBytes(1 << 20, 2));
    copy.Close();
    ExpectDiskClean();
}

}  // namespace
