// Power: system states mapped to device states, device power-down after running requests,
// and wait-wake with its completion racing cancellation.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/tests/driver_fixture.h"

using ::testing::ElementsAre;

namespace {

POWER_STATE System(SYSTEM_POWER_STATE state) {
    POWER_STATE power;
    power.SystemState = state;
    return power;
}

POWER_STATE Device(DEVICE_POWER_STATE state) {
    POWER_STATE power;
    power.DeviceState = state;
    return power;
}

TEST_F(DriverTest, SystemSleepAndWakeDriveTheMappedDeviceStates) {
    PlugIn();
    EXPECT_EQ(host_->Power(IRP_MN_SET_POWER, SystemPowerState, System(PowerSystemSleeping3)),
              STATUS_SUCCESS);
    EXPECT_EQ(Extension()->SystemPower, PowerSystemSleeping3);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD3);
    EXPECT_EQ(kernel_model::ReportedDevicePower(host_->Fdo()), PowerDeviceD3);
    EXPECT_EQ(host_->Power(IRP_MN_SET_POWER, SystemPowerState, System(PowerSystemWorking)),
              STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    EXPECT_THAT(bus_->SystemPowerSeen(), ElementsAre(PowerSystemSleeping3, PowerSystemWorking));
    EXPECT_THAT(bus_->DevicePowerSeen(), ElementsAre(PowerDeviceD3, PowerDeviceD0));
    // The device requests' dispatch may still be returning when the system request completes.
    kernel_model::WaitForPowerRequests();
    EXPECT_EQ(Extension()->IoCount, 1);
}

TEST_F(DriverTest, AFailedSystemRequestIsNotTurnedIntoADeviceRequest) {
    PlugIn();
    std::unique_ptr<kernel_model::PendingRequest> query =
        host_->StartPower(IRP_MN_QUERY_POWER, SystemPowerState, System(PowerSystemSleeping1));
    EXPECT_TRUE(query->WaitForCompletion(1000));
    EXPECT_EQ(query->Status(), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->SystemPower, PowerSystemWorking);  // a query changes nothing
    kernel_model::FailAllocation(1);
    EXPECT_EQ(host_->Power(IRP_MN_SET_POWER, SystemPowerState, System(PowerSystemSleeping3)),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
}

TEST_F(DriverTest, PoweringDownFromD0WaitsForTheRunningTransfer) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> in = Open(u"\\PIPE01");
    bus_->HoldTransfers(true);
    std::vector<uint8_t> buffer(64);
    std::unique_ptr<kernel_model::PendingRequest> read =
        host_->StartTransfer(*in, true, buffer.data(), 64);
    std::unique_ptr<kernel_model::PendingRequest> down =
        host_->StartPower(IRP_MN_SET_POWER, DevicePowerState, Device(PowerDeviceD2));
    EXPECT_EQ(down->dispatch_status, STATUS_PENDING);
    EXPECT_FALSE(down->WaitForCompletion(200));
    EXPECT_EQ(bus_->DevicePower(), PowerDeviceD0);

    bus_->ReleaseHeldTransfers();
    EXPECT_TRUE(down->WaitForCompletion(5000));
    EXPECT_EQ(down->Status(), STATUS_SUCCESS);
    EXPECT_EQ(read->Status(), STATUS_SUCCESS);
    EXPECT_EQ(bus_->DevicePower(), PowerDeviceD2);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD2);

    EXPECT_EQ(host_->Power(IRP_MN_SET_POWER, DevicePowerState, Device(PowerDeviceD0)),
              STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    EXPECT_EQ(kernel_model::ReportedDevicePower(host_->Fdo()), PowerDeviceD0);
    EXPECT_EQ(host_->Close(*in), STATUS_SUCCESS);
}

TEST_F(DriverTest, PowerRequestsBeforeStartPassDownUnfollowed) {
    ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    EXPECT_EQ(host_->Power(IRP_MN_SET_POWER, DevicePowerState, Device(PowerDeviceD3)),
              STATUS_SUCCESS);
    EXPECT_THAT(bus_->DevicePowerSeen(), ElementsAre(PowerDeviceD3));
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);  // not followed before start
}

class WakeCapableTest : public DriverTest {
  protected:
    std::vector<uint8_t> ConfigurationDescriptor() override {
        return kernel_model::ReceiverConfigurationDescriptor(false, true);
    }
};

TEST_F(WakeCapableTest, StartArmsWaitWakeAndAWakeBringsTheDeviceToD0AndRearms) {
    PlugIn();
    EXPECT_EQ(Extension()->WakeCapable, 1);
    ASSERT_TRUE(bus_->WaitWakePending());
    EXPECT_EQ(Extension()->WaitWakeArmed, 1);
    EXPECT_EQ(OvArmWaitWake(Extension()), STATUS_DEVICE_BUSY);

    ASSERT_EQ(host_->Power(IRP_MN_SET_POWER, DevicePowerState, Device(PowerDeviceD2)),
              STATUS_SUCCESS);
    bus_->CompleteWaitWake(STATUS_SUCCESS);
    kernel_model::WaitForPowerRequests();  // the D0 request the wake asked for
    EXPECT_EQ(Extension()->DevicePower, PowerDeviceD0);
    ASSERT_TRUE(bus_->WaitWakePending());
    EXPECT_EQ(Extension()->WaitWakeArmed, 1);
}

TEST_F(WakeCapableTest, RemoveCancelsWaitWakeAndDoesNotRearm) {
    PlugIn();
    ASSERT_TRUE(bus_->WaitWakePending());
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(bus_->WaitWakePending());
}

// A cancelled wait-wake that the bus finishes only later: remove must wait for its end, which
// still runs the driver's routines on the device's extension.
TEST_F(WakeCapableTest, RemoveWaitsForTheCancelledWaitWakeToEnd) {
    PlugIn();
    ASSERT_TRUE(bus_->WaitWakePending());
    bus_->DeferWaitWakeCancellation(true);
    std::atomic<bool> removed{false};
    std::thread remove([&] {
        EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(removed.load());
    bus_->FinishCancelledWaitWake();
    remove.join();
    EXPECT_TRUE(removed.load());
}

TEST_F(WakeCapableTest, ACompletionRacingTheCancellationFinishesTheRequestOnce) {
    PlugIn();
    const IRP* wait_wake = bus_->PendingWaitWake();
    ASSERT_NE(wait_wake, nullptr);
    // The device wakes just after the canceller has taken the request and before it cancels.
    kernel_model::BeforeNextCancel(wait_wake, [&] { bus_->CompleteWaitWake(STATUS_SUCCESS); });
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(bus_->WaitWakePending());
    EXPECT_EQ(Extension()->WaitWakeArmed, 0);  // finished as cancelled: not armed again
    EXPECT_EQ(Extension()->WaitWakeIrp, nullptr);
}

TEST_F(WakeCapableTest, ACancellationBeforeTheCompletionFinishesTheRequestOnce) {
    PlugIn();
    ASSERT_TRUE(bus_->WaitWakePending());
    OvCancelWaitWake(Extension());
    EXPECT_FALSE(bus_->WaitWakePending());
    EXPECT_EQ(Extension()->WaitWakeArmed, 0);
    OvCancelWaitWake(Extension());  // nothing left to cancel
}

TEST_F(WakeCapableTest, ASleepDeeperThanTheWakeStateDisarmsAndAShallowerOneArms) {
    PlugIn();
    ASSERT_TRUE(bus_->WaitWakePending());
    // The bus's capabilities say the device can wake the system from S3 at most.
    EXPECT_EQ(host_->Power(IRP_MN_QUERY_POWER, SystemPowerState, System(PowerSystemHibernate)),
              STATUS_SUCCESS);
    EXPECT_FALSE(bus_->WaitWakePending());
    EXPECT_EQ(host_->Power(IRP_MN_QUERY_POWER, SystemPowerState, System(PowerSystemSleeping3)),
              STATUS_SUCCESS);
    EXPECT_TRUE(bus_->WaitWakePending());
}

}  // namespace
