// A USB function for the driver's tests: keeps what is written to its bulk-out endpoint and
// answers reads of its bulk-in endpoint with a counting pattern.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "driver/kernel_model/usb_function.h"

class LoopbackFunction : public kernel_model::UsbFunction {
  public:
    kernel_model::UsbTransferResult BulkOut(uint8_t endpoint, const uint8_t* data, uint32_t size,
                                            uint32_t* done) override;
    kernel_model::UsbTransferResult BulkIn(uint8_t endpoint, uint8_t* data, uint32_t size,
                                           uint32_t* done) override;
    bool ClearHalt(uint8_t endpoint) override;
    bool ResetPort() override;

    // The byte the n-th byte ever read carries.
    static uint8_t PatternByte(uint64_t n) { return static_cast<uint8_t>(n * 7 + n / 251); }

    // The next transfer ends with this result.
    void SetNextResult(kernel_model::UsbTransferResult result);
    void FailClearHalt(bool fail);
    std::vector<uint8_t> Written();
    uint64_t ClearHalts();
    uint64_t PortResets();

  private:
    std::mutex mutex_;
    kernel_model::UsbTransferResult next_result_ = kernel_model::UsbTransferResult::kOk;
    bool fail_clear_halt_ = false;
    std::vector<uint8_t> written_;
    uint64_t read_so_far_ = 0;
    uint64_t clear_halts_ = 0;
    uint64_t port_resets_ = 0;
};
