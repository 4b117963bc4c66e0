// The control codes and their buffer rules, reset pipe and reset device.
#include <gmock/gmock.h>

#include "driver/tests/driver_fixture.h"

namespace {

class DeviceControlTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        PlugIn();
        pipe_ = Open(u"\\PIPE00");
        device_ = Open(u"");
    }
    void TearDown() override {
        EXPECT_EQ(host_->Close(*pipe_), STATUS_SUCCESS);
        EXPECT_EQ(host_->Close(*device_), STATUS_SUCCESS);
        DriverTest::TearDown();
    }
    std::unique_ptr<kernel_model::FileHandle> pipe_;
    std::unique_ptr<kernel_model::FileHandle> device_;
};

TEST_F(DeviceControlTest, GetConfigCopiesTheWholeDescriptor) {
    const std::vector<uint8_t> expected =
        kernel_model::ReceiverConfigurationDescriptor(false, false);
    std::vector<uint8_t> output(64, 0xEE);
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*device_, IOCTL_PVR_GET_CONFIG, output.data(), 64, &information),
              STATUS_SUCCESS);
    ASSERT_EQ(information, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), output.begin()));
}

TEST_F(DeviceControlTest, GetConfigWithABufferOneByteShortReturnsNoData) {
    const ULONG size =
        static_cast<ULONG>(kernel_model::ReceiverConfigurationDescriptor(false, false).size());
    std::vector<uint8_t> output(size - 1, 0xEE);
    ULONG_PTR information = 99;
    EXPECT_EQ(host_->Control(*device_, IOCTL_PVR_GET_CONFIG, output.data(), size - 1, &information),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(information, 0u);
    EXPECT_EQ(output[0], 0xEE);
}

TEST_F(DeviceControlTest, ResetPipeNeedsAPipeHandle) {
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_PIPE, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(bus_->ResetPipesOf(0x01), 1u);
    EXPECT_EQ(function_.ClearHalts(), 1u);
    EXPECT_EQ(host_->Control(*device_, IOCTL_PVR_RESET_PIPE, nullptr, 0, &information),
              STATUS_INVALID_PARAMETER);
    function_.FailClearHalt(true);
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_PIPE, nullptr, 0, &information),
              STATUS_UNSUCCESSFUL);
}

TEST_F(DeviceControlTest, ResetDeviceLeavesAHealthyPortAlone) {
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_DEVICE, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(bus_->PortStatusQueries(), 1u);
    EXPECT_EQ(bus_->PortResets(), 0u);
}

TEST_F(DeviceControlTest, ResetDeviceResetsADisabledPort) {
    bus_->SetPort(true, false);
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_DEVICE, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(bus_->PortResets(), 1u);
    EXPECT_EQ(function_.PortResets(), 1u);
}

TEST_F(DeviceControlTest, ResetDeviceDoesNotResetADisconnectedPortAndReportsAFailedQuery) {
    bus_->SetPort(false, false);
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_DEVICE, nullptr, 0, &information),
              STATUS_SUCCESS);
    bus_->FailPortStatus(STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(host_->Control(*pipe_, IOCTL_PVR_RESET_DEVICE, nullptr, 0, &information),
              STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(bus_->PortResets(), 0u);
}

TEST_F(DeviceControlTest, UnknownCodesAndWrongStatesAreRefused) {
    ULONG_PTR information = 0;
    EXPECT_EQ(host_->Control(*device_, 0x22000C, nullptr, 0, &information),
              STATUS_INVALID_DEVICE_REQUEST);
    ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Control(*device_, IOCTL_PVR_GET_CONFIG, nullptr, 0, &information),
              STATUS_INVALID_DEVICE_STATE);
    ASSERT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
}

TEST(ControlCodes, HaveTheValuesUserModeSends) {
    EXPECT_EQ(IOCTL_PVR_GET_CONFIG, 0x220000u);
    EXPECT_EQ(IOCTL_PVR_RESET_DEVICE, 0x220004u);
    EXPECT_EQ(IOCTL_PVR_RESET_PIPE, 0x220008u);
    EXPECT_EQ(IOCTL_INTERNAL_USB_SUBMIT_URB, 0x220003u);
    EXPECT_EQ(IOCTL_INTERNAL_USB_RESET_PORT, 0x220007u);
    EXPECT_EQ(IOCTL_INTERNAL_USB_GET_PORT_STATUS, 0x220013u);
    EXPECT_EQ(IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION, 0x220027u);
    EXPECT_EQ(sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), 128u);
    EXPECT_EQ(sizeof(struct _URB_PIPE_REQUEST), 40u);
    EXPECT_EQ(OV_POOL_TAG, 0x4B6C7542u);  // "BulK"
}

}  // namespace
