// Plug and Play: start, stop and remove sequences, configuration at start, and the wait of a
// query stop for a running transfer.
#include <gmock/gmock.h>

#include <thread>

#include "driver/tests/driver_fixture.h"

using kernel_model::SimulatedUsbBus;
using ::testing::ElementsAre;

namespace {

bool InterfaceEnabled() {
    std::vector<kernel_model::DeviceInterface> interfaces = kernel_model::DeviceInterfaces();
    return interfaces.size() == 1 && interfaces[0].enabled;
}

TEST_F(DriverTest, StartConfiguresTheFirstInterfaceAndEnablesTheDeviceInterface) {
    PlugIn();
    POV_DEVICE_EXTENSION extension = Extension();
    ASSERT_NE(extension->Interface, nullptr);
    EXPECT_EQ(extension->Interface->NumberOfPipes, 2u);
    EXPECT_EQ(extension->Interface->Pipes[0].EndpointAddress, 0x01);
    EXPECT_EQ(extension->Interface->Pipes[1].EndpointAddress, 0x82);
    EXPECT_EQ(extension->PipeOpenFlags[0], 0);
    EXPECT_EQ(extension->PipeOpenFlags[1], 0);
    EXPECT_EQ(extension->ConfigurationDescriptor->wTotalLength, 32);
    EXPECT_TRUE(InterfaceEnabled());
    for (const kernel_model::ConfiguredPipe& pipe : bus_->Pipes())
        EXPECT_EQ(pipe.maximum_transfer_size, 4096u);
    EXPECT_TRUE(host_->Fdo()->Flags & DO_DIRECT_IO);
    EXPECT_TRUE(host_->Fdo()->Flags & DO_POWER_PAGABLE);
    EXPECT_FALSE(host_->Fdo()->Flags & DO_DEVICE_INITIALIZING);
    EXPECT_EQ(host_->Fdo()->DeviceType, static_cast<ULONG>(FILE_DEVICE_UNKNOWN));
    EXPECT_TRUE(kernel_model::WmiRegistered(host_->Fdo()));
    EXPECT_EQ(kernel_model::ReportedDevicePower(host_->Fdo()), PowerDeviceD0);
}

TEST_F(DriverTest, AFailedStartLeavesTheDeviceNotStarted) {
    ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    bus_->FailUrb(URB_FUNCTION_SELECT_CONFIGURATION, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Extension()->DeviceState, OvNotStarted);
    EXPECT_EQ(Extension()->ConfigurationDescriptor, nullptr);
    EXPECT_FALSE(InterfaceEnabled());
}

TEST_F(DriverTest, APoolShortageAtStartFailsTheStart) {
    ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    // The descriptor URB, then the device descriptor's synchronous request: fail the third.
    kernel_model::FailAllocation(3);
    EXPECT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Extension()->DeviceState, OvNotStarted);
}

TEST_F(DriverTest, QueryStopThenCancelStopReturnsToWorking) {
    PlugIn();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvStopPending);
    EXPECT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvWorking);
    EXPECT_EQ(Extension()->IoCount, 1);
}

TEST_F(DriverTest, QueryStopThenStopDeconfiguresAndAStartConfiguresAgain) {
    PlugIn();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvStopped);
    EXPECT_EQ(Extension()->ConfigurationDescriptor, nullptr);
    EXPECT_EQ(Extension()->Interface, nullptr);
    EXPECT_EQ(Extension()->PipeOpenFlags, nullptr);
    EXPECT_EQ(bus_->Deconfigurations(), 1u);
    std::unique_ptr<kernel_model::FileHandle> handle;
    EXPECT_EQ(host_->Create(u"\\PIPE00", &handle), STATUS_INVALID_DEVICE_STATE);

    EXPECT_EQ(host_->Pnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvWorking);
    EXPECT_EQ(bus_->SelectConfigurations(), 2u);
}

TEST_F(DriverTest, QueryRemoveThenRemoveReleasesEverything) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> pipe = Open(u"\\PIPE00");
    const PDEVICE_OBJECT fdo = host_->Fdo();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvRemovePending);
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_TRUE(host_->DeviceRemoved());
    EXPECT_EQ(bus_->Pdo()->AttachedDevice, nullptr);
    EXPECT_FALSE(InterfaceEnabled());
    EXPECT_FALSE(kernel_model::WmiRegistered(fdo));
    EXPECT_EQ(bus_->AbortsOf(0x01), 1u);
}

TEST_F(DriverTest, QueryRemoveThenCancelRemoveReturnsToWorking) {
    PlugIn();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Pnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvWorking);
}

TEST_F(DriverTest, SurpriseRemovalThenRemoveCleansUpOnce) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> pipe = Open(u"\\PIPE01");
    EXPECT_EQ(host_->Pnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    EXPECT_EQ(Extension()->DeviceState, OvSurpriseRemoved);
    EXPECT_FALSE(InterfaceEnabled());
    EXPECT_FALSE(kernel_model::WmiRegistered(host_->Fdo()));
    EXPECT_EQ(bus_->AbortsOf(0x82), 1u);
    EXPECT_EQ(Extension()->PipeOpenFlags[1], 0);
    ULONG done = 0;
    uint8_t byte = 0;
    EXPECT_EQ(host_->Transfer(*pipe, true, &byte, 1, &done), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(host_->Close(*pipe), STATUS_SUCCESS);

    // The model faults a second WMI deregistration or interface release.
    EXPECT_EQ(host_->Pnp(IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(bus_->AbortsOf(0x82), 1u);
    EXPECT_THAT(bus_->PnpSeen(), ElementsAre(IRP_MN_QUERY_CAPABILITIES, IRP_MN_START_DEVICE,
                                             IRP_MN_SURPRISE_REMOVAL, IRP_MN_REMOVE_DEVICE));
}

TEST_F(DriverTest, UnknownPnpRequestsPassDownUnchanged) {
    PlugIn();
    EXPECT_EQ(host_->Pnp(IRP_MN_QUERY_DEVICE_RELATIONS), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(bus_->PnpSeen().back(), IRP_MN_QUERY_DEVICE_RELATIONS);
}

TEST_F(DriverTest, QueryStopWaitsForARunningTransfer) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> pipe = Open(u"\\PIPE01");
    bus_->HoldTransfers(true);
    std::vector<uint8_t> buffer(512);
    std::unique_ptr<kernel_model::PendingRequest> read =
        host_->StartTransfer(*pipe, true, buffer.data(), 512);
    ASSERT_EQ(read->dispatch_status, STATUS_PENDING);
    ASSERT_EQ(bus_->HeldTransfers(), 1u);

    NTSTATUS query_status = STATUS_PENDING;
    std::thread query([&] { query_status = host_->Pnp(IRP_MN_QUERY_STOP_DEVICE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Still waiting: the request has not reached the bus.
    EXPECT_NE(bus_->PnpSeen().back(), IRP_MN_QUERY_STOP_DEVICE);
    EXPECT_FALSE(read->Completed());

    bus_->ReleaseHeldTransfers();
    query.join();
    EXPECT_EQ(query_status, STATUS_SUCCESS);
    EXPECT_EQ(bus_->PnpSeen().back(), IRP_MN_QUERY_STOP_DEVICE);
    EXPECT_TRUE(read->Completed());
    EXPECT_EQ(read->Status(), STATUS_SUCCESS);
    EXPECT_EQ(read->Information(), 512u);
    EXPECT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Close(*pipe), STATUS_SUCCESS);
}

// Query-stop and a power-down both wait for the running transfer. Its end must wake both: an
// auto-reset event would wake one and leave the other waiting for ever.
TEST_F(DriverTest, TheEndOfTheLastTransferWakesQueryStopAndPowerDownAlike) {
    PlugIn();
    std::unique_ptr<kernel_model::FileHandle> pipe = Open(u"\\PIPE01");
    bus_->HoldTransfers(true);
    std::vector<uint8_t> buffer(512);
    std::unique_ptr<kernel_model::PendingRequest> read =
        host_->StartTransfer(*pipe, true, buffer.data(), 512);
    ASSERT_EQ(read->dispatch_status, STATUS_PENDING);

    NTSTATUS query_status = STATUS_PENDING;
    std::thread query([&] { query_status = host_->Pnp(IRP_MN_QUERY_STOP_DEVICE); });
    POWER_STATE d3;
    d3.DeviceState = PowerDeviceD3;
    std::unique_ptr<kernel_model::PendingRequest> power =
        host_->StartPower(IRP_MN_SET_POWER, DevicePowerState, d3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(power->Completed());

    bus_->ReleaseHeldTransfers();
    query.join();
    EXPECT_EQ(query_status, STATUS_SUCCESS);
    ASSERT_TRUE(power->WaitForCompletion(5000));
    EXPECT_EQ(power->Status(), STATUS_SUCCESS);
    EXPECT_EQ(bus_->DevicePower(), PowerDeviceD3);
    EXPECT_EQ(host_->Pnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(host_->Close(*pipe), STATUS_SUCCESS);
}

// A device whose configuration descriptor announces more than it sends.
class ShortConfigurationDriverTest : public DriverTest {
  protected:
    std::vector<uint8_t> ConfigurationDescriptor() override {
        std::vector<uint8_t> bytes = kernel_model::ReceiverConfigurationDescriptor(false, false);
        const size_t announced = bytes.size() + 16;
        bytes[2] = static_cast<uint8_t>(announced);
        bytes[3] = static_cast<uint8_t>(announced >> 8);
        return bytes;
    }
};

TEST_F(ShortConfigurationDriverTest, StartFailsAndKeepsNoDescriptor) {
    ASSERT_EQ(host_->Load(), STATUS_SUCCESS);
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(host_->Pnp(IRP_MN_START_DEVICE)));
    EXPECT_EQ(Extension()->DeviceState, OvNotStarted);
    EXPECT_EQ(Extension()->ConfigurationDescriptor, nullptr);
    EXPECT_EQ(bus_->SelectConfigurations(), 0u);
}

class TwoInterfaceDriverTest : public DriverTest {
  protected:
    std::vector<uint8_t> ConfigurationDescriptor() override {
        return kernel_model::ReceiverConfigurationDescriptor(true, false);
    }
};

TEST_F(TwoInterfaceDriverTest, BothInterfacesAreConfiguredButOnlyTheFirstOnesPipesAreUsable) {
    PlugIn();
    std::vector<kernel_model::ConfiguredPipe> pipes = bus_->Pipes();
    ASSERT_EQ(pipes.size(), 3u);
    EXPECT_EQ(pipes[2].endpoint, 0x83);
    EXPECT_EQ(pipes[2].maximum_transfer_size, 4096u);
    EXPECT_EQ(Extension()->Interface->NumberOfPipes, 2u);
    std::unique_ptr<kernel_model::FileHandle> handle;
    EXPECT_EQ(host_->Create(u"\\PIPE02", &handle), STATUS_INVALID_PARAMETER);
}

}  // namespace
