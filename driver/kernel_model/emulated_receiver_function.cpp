#include "driver/kernel_model/emulated_receiver_function.h"

#include <usb.h>

namespace kernel_model {
namespace {

UsbTransferResult FromReceiver(emulator::TransferStatus status) {
    switch (status) {
        case emulator::TransferStatus::kOk:
            return UsbTransferResult::kOk;
        case emulator::TransferStatus::kStall:
            return UsbTransferResult::kStall;
        case emulator::TransferStatus::kNoDevice:
            return UsbTransferResult::kNoDevice;
        case emulator::TransferStatus::kFailed:
            return UsbTransferResult::kFailed;
        case emulator::TransferStatus::kHang:
            return UsbTransferResult::kHang;
    }
    return UsbTransferResult::kFailed;
}

}  // namespace

EmulatedReceiverFunction::EmulatedReceiverFunction(emulator::EmulatedReceiver& receiver)
    : receiver_(receiver), generation_(receiver.Generation()) {}

UsbTransferResult EmulatedReceiverFunction::BulkOut(uint8_t endpoint, const uint8_t* data,
                                                    uint32_t size, uint32_t* done) {
    (void)endpoint;
    return FromReceiver(receiver_.BulkOut(generation_, data, size, done));
}

UsbTransferResult EmulatedReceiverFunction::BulkIn(uint8_t endpoint, uint8_t* data, uint32_t size,
                                                   uint32_t* done) {
    (void)endpoint;
    return FromReceiver(receiver_.BulkIn(generation_, data, size, done));
}

bool EmulatedReceiverFunction::ClearHalt(uint8_t endpoint) {
    return receiver_.ClearHalt(generation_, (endpoint & USB_ENDPOINT_DIRECTION_MASK)
                                                ? emulator::Endpoint::kBulkIn
                                                : emulator::Endpoint::kBulkOut);
}

bool EmulatedReceiverFunction::ResetPort() {
    return receiver_.ResetPort(generation_);
}

}  // namespace kernel_model
