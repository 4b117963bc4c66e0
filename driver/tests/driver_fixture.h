// The fixture of the driver's tests: OvPvrUSB over a simulated bus with a loopback function.
// Every test ends with the device removed, the driver unloaded, and the model asserting that
// nothing leaked, no request was left pending and nothing was done twice.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "driver/kernel_model/driver_host.h"
#include "driver/kernel_model/usb_bus.h"
#include "driver/tests/loopback_function.h"

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The receiver's configuration; tests of other devices override it.
    virtual std::vector<uint8_t> ConfigurationDescriptor();

    // Plugs the receiver in and checks it started.
    void PlugIn();
    std::unique_ptr<kernel_model::FileHandle> Open(const std::u16string& name);

    POV_DEVICE_EXTENSION Extension() { return host_->Extension(); }

    uint32_t seed_ = 0;  // of the bus's completion timing and the power manager's
    LoopbackFunction function_;
    std::unique_ptr<kernel_model::SimulatedUsbBus> bus_;
    std::unique_ptr<kernel_model::DriverHost> host_;
};

// A receiver whose driver has selective suspend switched on in the registry.
void EnableSelectiveSuspend();
