// Selective suspend: the idle timer, the idle request and its callback, cancellation by a new
// handle, and the registry switch.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/tests/driver_fixture.h"

namespace {

class SelectiveSuspendTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        EnableSelectiveSuspend();
        PlugIn();
    }
};

TEST_F(SelectiveSuspendTest, TheTimerRunsFromStartAndFiresAfterFiveSeconds) {
    EXPECT_EQ(Extension()->SelectiveSuspendEnable, 1);
    EXPECT_EQ(Extension()->SelectiveSuspendRegistered, 1);
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
    kernel_model::AdvanceClockMs(4999);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 0u);
    kernel_model::AdvanceClockMs(1);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 1u);
    EXPECT_TRUE(bus_->IdleRequestPending());
    // The timer stops while the request is pending.
    EXPECT_FALSE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
    EXPECT_EQ(KeReadStateEvent(&Extension()->NoIdleRequestPendingEvent), 0);
}

TEST_F(SelectiveSuspendTest, TheCallbackSuspendsAndANewHandleWakesTheDevice) {
    kernel_model::AdvanceClockMs(5000);
    ASSERT_TRUE(bus_->IdleRequestPending());
    bus_->InvokeIdleCallback();
    EXPECT_EQ(bus_->DevicePower(), Extension()->IdleDevicePower);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD2);
    EXPECT_EQ(kernel_model::ReportedDevicePower(host_->Fdo()), PowerDeviceD2);

    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    ASSERT_TRUE(in);
    EXPECT_FALSE(bus_->IdleRequestPending());
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));

    // The read waits until the device is back in D0.
    std::vector<uint8_t> buffer(512);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in, true, buffer.data(), 512, &done), STATUS_SUCCESS);
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    EXPECT_EQ(bus_->DevicePower(), PowerDeviceD0);
    EXPECT_EQ(KeReadStateEvent(&Extension()->NoIdleRequestPendingEvent), 1);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

// The power manager sends the D0 request only later: a read, a stop or anything else waiting
// for the idle request to end must go on with the device in D0, not while it is still in D2.
TEST_F(SelectiveSuspendTest, WaitersOfTheIdleRequestGoOnOnlyWithTheDeviceBackInD0) {
    kernel_model::AdvanceClockMs(5000);
    bus_->InvokeIdleCallback();
    ASSERT_EQ(Extension()->DevicePower, PowerDeviceD2);
    kernel_model::HoldPowerRequests(true);
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    ASSERT_TRUE(in);
    ASSERT_FALSE(bus_->IdleRequestPending());
    ASSERT_EQ(kernel_model::PowerRequestsNotSent(), 1u);
    EXPECT_EQ(KeReadStateEvent(&Extension()->NoIdleRequestPendingEvent), 0);

    std::atomic<DEVICE_POWER_STATE> seen_by_waiter{PowerDeviceUnspecified};
    std::thread waiter([&] {
        OvWaitUntilNoIdleRequest(Extension());
        seen_by_waiter = Extension()->DevicePower;
    });
    std::thread reader([&] {
        std::vector<uint8_t> buffer(512);
        ULONG done = 0;
        EXPECT_EQ(host_->Transfer(*in, true, buffer.data(), 512, &done), STATUS_SUCCESS);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(bus_->Transfers().empty());
    EXPECT_EQ(seen_by_waiter.load(), PowerDeviceUnspecified);

    kernel_model::HoldPowerRequests(false);
    waiter.join();
    reader.join();
    EXPECT_EQ(seen_by_waiter.load(), PowerDeviceD0);
    EXPECT_EQ(bus_->Transfers().size(), 1u);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

// No D0 request could be made: nothing may wait for one for ever.
TEST_F(SelectiveSuspendTest, AWakeThatCannotBeRequestedStillLetsTheWaitersGo) {
    kernel_model::AdvanceClockMs(5000);
    bus_->InvokeIdleCallback();
    ASSERT_EQ(Extension()->DevicePower, PowerDeviceD2);
    kernel_model::FailAllocation(1);  // the power manager's IRP
    bus_->CompleteIdleRequest(STATUS_UNSUCCESSFUL);
    EXPECT_EQ(kernel_model::PowerRequestsNotSent(), 0u);
    EXPECT_EQ(KeReadStateEvent(&Extension()->NoIdleRequestPendingEvent), 1);
    EXPECT_EQ(Extension()->IdleRequestPending, 0);
    EXPECT_EQ(Extension()->PendingIdleIrp, nullptr);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD2);
}

// The idle request completes while the device stops: its completion must not set the timer
// again after the stop has made its last cancel.
TEST_F(SelectiveSuspendTest, AnIdleRequestEndingDuringAStopLeavesTheTimerStopped) {
    kernel_model::AdvanceClockMs(5000);
    ASSERT_TRUE(bus_->IdleRequestPending());
    std::thread stop;
    kernel_model::BeforeNextTimerSet(&Extension()->IdleTimer, [&] {
        stop = std::thread([&] { EXPECT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    bus_->CompleteIdleRequest(STATUS_CANCELLED);
    ASSERT_TRUE(stop.joinable());
    stop.join();
    EXPECT_EQ(Extension()->DeviceState, OvStopped);
    EXPECT_FALSE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
}

// The idle timer has expired and its DPC is queued but has not run when the device stops: the
// stop waits for it rather than leaving it to run on a stopped (or freed) device.
TEST_F(SelectiveSuspendTest, AStopWaitsForTheIdleDpcAlreadyQueued) {
    std::atomic<bool> stopped{false};
    std::thread stop;
    kernel_model::BeforeNextDpc([&] {
        stop = std::thread([&] {
            EXPECT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
            stopped = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(stopped.load());
    });
    kernel_model::AdvanceClockMs(5000);
    ASSERT_TRUE(stop.joinable());
    stop.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_EQ(bus_->IdleRequestsSeen(), 0u);
}

TEST_F(SelectiveSuspendTest, ADeviceWithAHandleOpenIsNeverSuspended) {
    std::unique_ptr<kernel_model::FileHandle> device = Open(u"");
    kernel_model::AdvanceClockMs(60000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 0u);
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
    EXPECT_EQ(host_->Close(*device), STATUS_SUCCESS);
    kernel_model::AdvanceClockMs(5000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 1u);
}

TEST_F(SelectiveSuspendTest, ARejectedIdleRequestLeavesTheDeviceInD0WithTheTimerRunning) {
    bus_->RejectIdleRequests(STATUS_NOT_SUPPORTED);
    kernel_model::AdvanceClockMs(5000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 1u);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    EXPECT_EQ(bus_->DevicePowerSeen().size(), 0u);
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
    EXPECT_EQ(KeReadStateEvent(&Extension()->NoIdleRequestPendingEvent), 1);
    kernel_model::AdvanceClockMs(5000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 2u);
}

TEST_F(SelectiveSuspendTest, TheUsbStackCompletingTheIdleRequestWakesTheDevice) {
    kernel_model::AdvanceClockMs(5000);
    bus_->InvokeIdleCallback();
    ASSERT_EQ(Extension()->DevicePower, PowerDeviceD2);
    bus_->CompleteIdleRequest(STATUS_UNSUCCESSFUL);
    OvWaitUntilNoIdleRequest(Extension());  // as a read would
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    EXPECT_EQ(Extension()->PendingIdleIrp, nullptr);
    EXPECT_EQ(Extension()->IdleCallbackInfo, nullptr);
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
}

TEST_F(SelectiveSuspendTest, ASecondIdleRequestIsRefusedWhileOneIsPending) {
    kernel_model::AdvanceClockMs(5000);
    ASSERT_TRUE(bus_->IdleRequestPending());
    EXPECT_EQ(OvSubmitIdleRequest(Extension()), STATUS_DEVICE_BUSY);
    bus_->InvokeIdleCallback();
    EXPECT_EQ(OvSubmitIdleRequest(Extension()), STATUS_POWER_STATE_INVALID);
}

TEST_F(SelectiveSuspendTest, RemoveWhileSuspendedCancelsTheIdleRequestAndStopsTheTimer) {
    kernel_model::AdvanceClockMs(5000);
    bus_->InvokeIdleCallback();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(bus_->IdleRequestPending());
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(kernel_model::TimersSet(), 0u);
}

TEST_F(SelectiveSuspendTest, StopEndsTheIdleMachinery) {
    ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->SelectiveSuspendRegistered, 0);
    EXPECT_EQ(kernel_model::TimersSet(), 0u);
    kernel_model::AdvanceClockMs(60000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 0u);
    ASSERT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    EXPECT_TRUE(kernel_model::TimerIsSet(&Extension()->IdleTimer));
}

TEST_F(DriverTest, WithoutTheRegistryValueNoTimerRunsAndNothingWaits) {
    PlugIn();
    EXPECT_EQ(Extension()->SelectiveSuspendEnable, 0);
    EXPECT_EQ(Extension()->SelectiveSuspendRegistered, 0);
    EXPECT_EQ(kernel_model::TimersSet(), 0u);
    kernel_model::AdvanceClockMs(60000);
    EXPECT_EQ(bus_->IdleRequestsSeen(), 0u);
    EXPECT_EQ(kernel_model::WorkItemsRun(), 0u);
    // The events were never set up; a request that waited on them would hang.
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    std::vector<uint8_t> buffer(8);
    ULONG done = 0;
    EXPECT_EQ(host_->Transfer(*in, true, buffer.data(), 8, &done), STATUS_SUCCESS);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

TEST_F(DriverTest, ARegistryValueOfZeroLeavesSelectiveSuspendOff) {
    kernel_model::SetRegistryDword(
        u"\\REGISTRY\\Machine\\System\\CurrentControlSet\\SERVICES\\OvPvrUSB\\Parameters",
        u"BulkUsbEnable", 0);
    PlugIn();
    EXPECT_EQ(Extension()->SelectiveSuspendRegistered, 0);
    EXPECT_EQ(kernel_model::TimersSet(), 0u);
}

TEST_F(DriverTest, SelectiveSuspendIsOnlyForWindowsXpOrLater) {
    EnableSelectiveSuspend();
    kernel_model::SetWdmVersion(1, 0x10);
    PlugIn();
    EXPECT_EQ(Extension()->WdmVersion, OvWin2000);
    EXPECT_EQ(Extension()->SelectiveSuspendEnable, 0);
    EXPECT_EQ(kernel_model::TimersSet(), 0u);
}

}  // namespace
