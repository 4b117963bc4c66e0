// Feeds arbitrary device answers to the bulk-only transport: every bulk-in transfer delivers
// bytes of the input (or fails, or is short), every bulk-out transfer is accepted or refused
// as the input says. A command may only count as done after a good status wrapper.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/last_error.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_left = 0;

uint8_t TakeByte() {
    if (g_left == 0) return 0;
    --g_left;
    return *g_data++;
}

bool Find(char* path, size_t size) {
    std::strncpy(path, "fuzz", size);
    return true;
}
PipeHandle Open(const char* path) {
    return std::strstr(path, "PIPE01") ? 1 : 2;
}
bool Yes(PipeHandle) {
    return true;
}
bool Control(PipeHandle, uint32_t) {
    return TakeByte() & 1;
}

// The answer of each transfer: a control byte (low bits: complete, fail, short), then for
// bulk-in transfers the delivered bytes.
bool Begin(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* done) {
    const uint8_t control = TakeByte();
    if (control % 4 == 1) {
        platform::SetLastError(platform::kErrorGenFailure);
        return false;
    }
    uint32_t moved = size;
    if (control % 4 == 2) moved = TakeByte() % (size + 1);
    if (pipe == 1) {
        auto* bytes = static_cast<uint8_t*>(buffer);
        for (uint32_t i = 0; i < moved; ++i) bytes[i] = TakeByte();
    }
    *done = moved;
    return true;
}
bool Wait(PipeHandle, uint32_t) {
    return true;
}
bool Result(PipeHandle, uint32_t* done, bool) {
    *done = 0;
    return true;
}

const LinkBackend kFuzzBackend = {
    .name = "fuzz",
    .cancels_complete_at_once = true,
    .find_receiver = Find,
    .open_pipe = Open,
    .close_pipe = Yes,
    .cancel_io = Yes,
    .begin_transfer = Begin,
    .wait_transfer = Wait,
    .transfer_result = Result,
    .control = Control,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        SetLinkBackend(kFuzzBackend);
        return InitDevice() == 1;
    }();
    if (!ready) std::abort();
    g_data = data;
    g_left = size;
    SetTransferBufferSize(1024 * (1 + TakeByte() % 8));
    std::vector<uint8_t> buffer(16 * 512);
    while (g_left > 0) {
        pcfm_blkreq request{};
        request.count = static_cast<uint16_t>(TakeByte() % 17);
        request.buffer = TakeByte() & 1 ? buffer.data() : nullptr;
        const bool issued_command = request.buffer == nullptr || request.count > 0;
        const bool write = TakeByte() & 1;
        const int result = write ? usb_block_driver.write(TakeByte(), &request)
                                 : usb_block_driver.read(TakeByte(), &request);
        if (result != 0) continue;
        // Done means every sector moved, and the last command ended with a good status.
        if (request.buffer != nullptr && request.count != 0) std::abort();
        const uint8_t* csw = LastCommandStatusWrapper();
        if (issued_command && (std::memcmp(csw, "USBS", 4) != 0 || csw[12] != 0)) std::abort();
    }
    return 0;
}
