#include "pvrdisk/link/no_link_backend.h"

#include "platform/last_error.h"

namespace {

bool Fail() {
    platform::SetLastError(platform::kErrorFileNotFound);
    return false;
}

bool FindNothing(char* device_path, size_t size) {
    if (size > 0) device_path[0] = '\0';
    platform::SetLastError(platform::kErrorNoMoreItems);
    return false;
}

PipeHandle OpenNothing(const char*) {
    Fail();
    return kInvalidPipe;
}

bool NoHandle(PipeHandle) {
    return Fail();
}

bool NoTransfer(PipeHandle, void*, uint32_t, uint32_t* done) {
    *done = 0;
    return Fail();
}

bool NoWait(PipeHandle, uint32_t) {
    return Fail();
}

bool NoResult(PipeHandle, uint32_t* done, bool) {
    *done = 0;
    return Fail();
}

bool NoControl(PipeHandle, uint32_t) {
    return Fail();
}

const LinkBackend kNoBackend = {
    .name = "none",
    .cancels_complete_at_once = true,
    .find_receiver = FindNothing,
    .open_pipe = OpenNothing,
    .close_pipe = NoHandle,
    .cancel_io = NoHandle,
    .begin_transfer = NoTransfer,
    .wait_transfer = NoWait,
    .transfer_result = NoResult,
    .control = NoControl,
};

}  // namespace

const LinkBackend& NoLinkBackend() {
    return kNoBackend;
}
