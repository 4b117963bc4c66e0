// The emulated receiver as the USB function behind the simulated bus: bulk transfers of
// endpoints 0x01 and 0x82 go to its bulk-out and bulk-in endpoints, reset pipe clears the
// halt of the endpoint, port reset resets it.
#pragma once

#include "driver/kernel_model/usb_function.h"
#include "emulator/emulated_receiver.h"

namespace kernel_model {

class EmulatedReceiverFunction : public UsbFunction {
  public:
    // Binds to the receiver's current plug generation: after an unplug it stays gone.
    explicit EmulatedReceiverFunction(emulator::EmulatedReceiver& receiver);

    UsbTransferResult BulkOut(uint8_t endpoint, const uint8_t* data, uint32_t size,
                              uint32_t* done) override;
    UsbTransferResult BulkIn(uint8_t endpoint, uint8_t* data, uint32_t size,
                             uint32_t* done) override;
    bool ClearHalt(uint8_t endpoint) override;
    bool ResetPort() override;

  private:
    emulator::EmulatedReceiver& receiver_;
    uint64_t generation_;
};

}  // namespace kernel_model
