#include "driver/tests/loopback_function.h"

using kernel_model::UsbTransferResult;

UsbTransferResult LoopbackFunction::BulkOut(uint8_t endpoint, const uint8_t* data, uint32_t size,
                                            uint32_t* done) {
    (void)endpoint;
    std::lock_guard<std::mutex> lock(mutex_);
    const UsbTransferResult result = next_result_;
    next_result_ = UsbTransferResult::kOk;
    if (result != UsbTransferResult::kOk) return result;
    written_.insert(written_.end(), data, data + size);
    *done = size;
    return result;
}

UsbTransferResult LoopbackFunction::BulkIn(uint8_t endpoint, uint8_t* data, uint32_t size,
                                           uint32_t* done) {
    (void)endpoint;
    std::lock_guard<std::mutex> lock(mutex_);
    const UsbTransferResult result = next_result_;
    next_result_ = UsbTransferResult::kOk;
    if (result != UsbTransferResult::kOk) return result;
    for (uint32_t i = 0; i < size; i++) data[i] = PatternByte(read_so_far_++);
    *done = size;
    return result;
}

bool LoopbackFunction::ClearHalt(uint8_t endpoint) {
    (void)endpoint;
    std::lock_guard<std::mutex> lock(mutex_);
    clear_halts_++;
    return !fail_clear_halt_;
}

bool LoopbackFunction::ResetPort() {
    std::lock_guard<std::mutex> lock(mutex_);
    port_resets_++;
    return true;
}

void LoopbackFunction::SetNextResult(UsbTransferResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_result_ = result;
}

void LoopbackFunction::FailClearHalt(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_clear_halt_ = fail;
}

std::vector<uint8_t> LoopbackFunction::Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

uint64_t LoopbackFunction::ClearHalts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clear_halts_;
}

uint64_t LoopbackFunction::PortResets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_resets_;
}
