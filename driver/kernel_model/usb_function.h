// The device side behind the simulated USB bus driver: what its endpoints do with the bulk
// transfers, endpoint halts and port resets the bus carries to it.
#pragma once

#include <cstdint>

namespace kernel_model {

enum class UsbTransferResult {
    kOk,
    kStall,     // the endpoint is halted
    kNoDevice,  // the device is gone
    kFailed,    // the transfer broke; nothing moved
    kHang,      // the transfer does not complete until it is cancelled or aborted
};

class UsbFunction {
  public:
    virtual ~UsbFunction() = default;
    // `endpoint` is the endpoint address (bit 7 set for IN endpoints).
    virtual UsbTransferResult BulkOut(uint8_t endpoint, const uint8_t* data, uint32_t size,
                                      uint32_t* done) = 0;
    virtual UsbTransferResult BulkIn(uint8_t endpoint, uint8_t* data, uint32_t size,
                                     uint32_t* done) = 0;
    virtual bool ClearHalt(uint8_t endpoint) = 0;
    virtual bool ResetPort() = 0;
};

}  // namespace kernel_model
