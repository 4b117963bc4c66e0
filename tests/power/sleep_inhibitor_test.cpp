// The sleep lock against logind on a private bus: taken with what the system shows, given
// back when the holder goes, and no lock (but no failure either) when logind says no.
#include <gtest/gtest.h>

#include "platform/system_power.h"
#include "tests/power/logind_mock.h"

namespace {

TEST(SleepInhibitorTest, HoldsOneBlockingSleepLockUntilItGoes) {
    LogindMock logind;
    ASSERT_TRUE(logind.Ready()) << logind.Failure();
    ASSERT_TRUE(logind.Inhibitors().empty());
    {
        platform::SleepInhibitor lock("Copying recordings");
        ASSERT_TRUE(lock.Held()) << lock.Failure();
        const std::vector<InhibitorLock> locks = logind.Inhibitors();
        ASSERT_EQ(locks.size(), 1u);
        EXPECT_EQ(locks[0].what, "sleep");
        EXPECT_EQ(locks[0].mode, "block");
        EXPECT_EQ(locks[0].who, "TX Tessel USB");
        EXPECT_EQ(locks[0].why, "Copying recordings");
    }
    EXPECT_TRUE(logind.WaitUntilNoInhibitors());
    EXPECT_EQ(logind.CallsOf("Inhibit"), 1);
}

TEST(SleepInhibitorTest, ReleaseGivesTheLockBackOnceAndOnlyItsOwn) {
    LogindMock logind;
    ASSERT_TRUE(logind.Ready()) << logind.Failure();
    platform::SleepInhibitor outer("outer");
    {
        platform::SleepInhibitor inner("inner");
        ASSERT_TRUE(inner.Held() && outer.Held());
        EXPECT_EQ(logind.Inhibitors().size(), 2u);
        inner.Release();
        EXPECT_FALSE(inner.Held());
        inner.Release();
    }
    // Logind drops the inner lock a moment after its descriptor closed; the outer one stays.
    for (int i = 0; i < 500 && logind.Inhibitors().size() != 1; ++i) g_usleep(10000);
    const std::vector<InhibitorLock> left = logind.Inhibitors();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].why, "outer");
    outer.Release();
    EXPECT_TRUE(logind.WaitUntilNoInhibitors());
}

TEST(SleepInhibitorTest, RefusedOrMissingLogindLeavesNoLockAndSaysWhy) {
    {
        LogindMock logind;
        ASSERT_TRUE(logind.Ready()) << logind.Failure();
        logind.MakeMethodFail("Inhibit", "ssss", "org.freedesktop.DBus.Error.AccessDenied",
                              "Permission denied");
        platform::SleepInhibitor lock("copy");
        EXPECT_FALSE(lock.Held());
        EXPECT_NE(lock.Failure().find("Permission denied"), std::string::npos) << lock.Failure();
        EXPECT_TRUE(logind.Inhibitors().empty());
    }
    {
        LogindMock bus_only(LogindMock::Logind::kAbsent);
        ASSERT_TRUE(bus_only.Ready()) << bus_only.Failure();
        platform::SleepInhibitor lock("copy");
        EXPECT_FALSE(lock.Held());
        EXPECT_NE(lock.Failure().find("org.freedesktop.login1"), std::string::npos)
            << lock.Failure();
    }
}

}  // namespace
