// Query capabilities: the record's checks, surprise removal allowed, the idle device state.
#include <gmock/gmock.h>

#include "driver/tests/driver_fixture.h"

namespace {

class CapabilitiesTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
        ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    }
    // The idle state chosen for a device whose S1, S2, S3 map to these states.
    DEVICE_POWER_STATE IdleStateFor(DEVICE_POWER_STATE s1, DEVICE_POWER_STATE s2,
                                    DEVICE_POWER_STATE s3) {
        DEVICE_CAPABILITIES reported{};
        reported.DeviceState[PowerSystemWorking] = PowerDeviceD0;
        reported.DeviceState[PowerSystemSleeping1] = s1;
        reported.DeviceState[PowerSystemSleeping2] = s2;
        reported.DeviceState[PowerSystemSleeping3] = s3;
        bus_->SetCapabilities(reported);
        DEVICE_CAPABILITIES capabilities{};
        EXPECT_EQ(host_->QueryCapabilities(&capabilities), STATUS_SUCCESS);
        return Extension()->IdleDevicePower;
    }
};

TEST_F(CapabilitiesTest, BeforeTheCapabilitiesAreKnownTheDeviceIdlesInD2) {
    EXPECT_EQ(Extension()->IdleDevicePower, PowerDeviceD2);
}

TEST_F(CapabilitiesTest, AllSleepStatesInD3IdleInD2) {
    EXPECT_EQ(IdleStateFor(PowerDeviceD3, PowerDeviceD3, PowerDeviceD3), PowerDeviceD2);
}

TEST_F(CapabilitiesTest, S1InD1AndTheRestInD3IdlesInD1) {
    EXPECT_EQ(IdleStateFor(PowerDeviceD1, PowerDeviceD3, PowerDeviceD3), PowerDeviceD1);
}

TEST_F(CapabilitiesTest, TheLastSleepStateShallowerThanD3Wins) {
    EXPECT_EQ(IdleStateFor(PowerDeviceD1, PowerDeviceD2, PowerDeviceD3), PowerDeviceD2);
    EXPECT_EQ(IdleStateFor(PowerDeviceD2, PowerDeviceD1, PowerDeviceD3), PowerDeviceD1);
}

TEST_F(CapabilitiesTest, ADeviceThatStaysInD0IdlesInD2) {
    EXPECT_EQ(IdleStateFor(PowerDeviceD0, PowerDeviceD0, PowerDeviceD0), PowerDeviceD2);
}

TEST_F(CapabilitiesTest, TheRecordIsKeptWithSurpriseRemovalAllowed) {
    DEVICE_CAPABILITIES reported{};
    reported.DeviceState[PowerSystemSleeping3] = PowerDeviceD3;
    reported.SystemWake = PowerSystemSleeping1;
    reported.SurpriseRemovalOK = FALSE;  // a bus driver that clears it
    bus_->SetCapabilities(reported);
    DEVICE_CAPABILITIES capabilities{};
    ASSERT_EQ(host_->QueryCapabilities(&capabilities), STATUS_SUCCESS);
    EXPECT_TRUE(capabilities.SurpriseRemovalOK);
    EXPECT_TRUE(Extension()->DeviceCapabilities.SurpriseRemovalOK);
    EXPECT_EQ(Extension()->DeviceCapabilities.SystemWake, PowerSystemSleeping1);
    EXPECT_EQ(Extension()->DeviceCapabilities.DeviceState[PowerSystemSleeping3], PowerDeviceD3);
}

TEST_F(CapabilitiesTest, ABadRecordIsRefusedWithoutAskingTheBus) {
    DEVICE_CAPABILITIES capabilities{};
    capabilities.Size = sizeof(capabilities);
    capabilities.Version = 0;
    EXPECT_EQ(host_->QueryCapabilities(&capabilities), STATUS_UNSUCCESSFUL);
    capabilities.Size = sizeof(capabilities) - 1;
    capabilities.Version = 1;
    EXPECT_EQ(host_->QueryCapabilities(&capabilities), STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(bus_->PnpSeen().empty());
}

TEST_F(CapabilitiesTest, ABusFailureIsReturned) {
    bus_->FailPnp(IRP_MN_QUERY_CAPABILITIES, STATUS_UNSUCCESSFUL);
    DEVICE_CAPABILITIES capabilities{};
    EXPECT_EQ(host_->QueryCapabilities(&capabilities), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Extension()->DeviceCapabilities.Version, 0);
}

}  // namespace
