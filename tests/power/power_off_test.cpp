// The power-off request against logind on a private bus: one PowerOff per request, and a
// refusal, a missing logind or a missing bus each reported as a failure with its reason.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/system_power.h"
#include "tests/power/logind_mock.h"

namespace {

TEST(PowerOffTest, EachRequestCallsPowerOffOnceAndIsAccepted) {
    LogindMock logind;
    ASSERT_TRUE(logind.Ready()) << logind.Failure();
    EXPECT_EQ(logind.CallsOf("PowerOff"), 0);
    std::string failure;
    EXPECT_TRUE(platform::RequestPowerOff(&failure)) << failure;
    EXPECT_EQ(logind.CallsOf("PowerOff"), 1);
    EXPECT_TRUE(platform::RequestPowerOff(&failure)) << failure;
    EXPECT_EQ(logind.CallsOf("PowerOff"), 2);
    EXPECT_EQ(logind.CallsOf("Reboot"), 0);
}

TEST(PowerOffTest, RefusalIsAFailureWithLogindsReason) {
    LogindMock logind;
    ASSERT_TRUE(logind.Ready()) << logind.Failure();
    logind.MakeMethodFail("PowerOff", "b", "org.freedesktop.login1.NotAuthorized",
                          "Interactive authentication required.");
    std::string failure;
    EXPECT_FALSE(platform::RequestPowerOff(&failure));
    EXPECT_NE(failure.find("Interactive authentication required."), std::string::npos) << failure;
    EXPECT_EQ(logind.CallsOf("PowerOff"), 1);
}

TEST(PowerOffTest, NoLogindOnTheBusFailsAtOnceWithTheReason) {
    LogindMock bus_only(LogindMock::Logind::kAbsent);
    ASSERT_TRUE(bus_only.Ready()) << bus_only.Failure();
    std::string failure;
    EXPECT_FALSE(platform::RequestPowerOff(&failure));
    // The bus answers for the missing name itself: an error naming it, not a time-out.
    EXPECT_NE(failure.find("ServiceUnknown"), std::string::npos) << failure;
}

TEST(PowerOffTest, NoBusIsAFailureWithTheReason) {
    setenv("TESSEL_LOGIND_BUS", "unix:path=/nonexistent/tessel-test-bus", 1);
    std::string failure;
    EXPECT_FALSE(platform::RequestPowerOff(&failure));
    EXPECT_NE(failure.find("no system bus"), std::string::npos) << failure;
    platform::SleepInhibitor lock("copy");
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(lock.Failure().empty());
    unsetenv("TESSEL_LOGIND_BUS");
}

}  // namespace
