#include "driver/tests/driver_fixture.h"

#include <gmock/gmock.h>

#include <cstdio>

using ::testing::IsEmpty;

void DriverTest::SetUp() {
    kernel_model::Reset();
    bus_ = std::make_unique<kernel_model::SimulatedUsbBus>(&function_, ConfigurationDescriptor());
    seed_ = kernel_model::CompletionSeed();
    bus_->CompleteTransfersLater(seed_);
    kernel_model::SeedPowerRequestTiming(seed_);
    host_ = std::make_unique<kernel_model::DriverHost>(*bus_);
}

void DriverTest::TearDown() {
    if (!host_->DeviceRemoved() && host_->Fdo() != nullptr) host_->Pnp(IRP_MN_REMOVE_DEVICE);
    host_->Unload();
    kernel_model::WaitForWorkItems();
    EXPECT_THAT(kernel_model::Leaks(), IsEmpty());
    EXPECT_THAT(kernel_model::Faults(), IsEmpty());
    if (HasFailure()) std::printf("completion timing: OVPVRUSB_SEED=%u\n", seed_);
    host_.reset();
    bus_.reset();
    kernel_model::Reset();
}

std::vector<uint8_t> DriverTest::ConfigurationDescriptor() {
    return kernel_model::ReceiverConfigurationDescriptor(false, false);
}

void DriverTest::PlugIn() {
    ASSERT_EQ(host_->Plug(), STATUS_SUCCESS);
    ASSERT_EQ(Extension()->DeviceState, OvWorking);
}

std::unique_ptr<kernel_model::FileHandle> DriverTest::Open(const std::u16string& name) {
    std::unique_ptr<kernel_model::FileHandle> handle;
    EXPECT_EQ(host_->Create(name, &handle), STATUS_SUCCESS);
    return handle;
}

void EnableSelectiveSuspend() {
    kernel_model::SetRegistryDword(
        u"\\REGISTRY\\Machine\\System\\CurrentControlSet\\SERVICES\\OvPvrUSB\\Parameters",
        u"BulkUsbEnable", 1);
}
