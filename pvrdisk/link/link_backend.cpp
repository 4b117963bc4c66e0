#include "pvrdisk/link/link_backend.h"

#include <atomic>

#include "pvrdisk/link/no_link_backend.h"

namespace {
const LinkBackend* g_backend = nullptr;
std::atomic<DeviceChangeHandler> g_change_handler{nullptr};
std::atomic<void*> g_change_context{nullptr};
}  // namespace

const LinkBackend& CurrentLinkBackend() {
    return g_backend != nullptr ? *g_backend : NoLinkBackend();
}

void SetLinkBackend(const LinkBackend& backend) {
    g_backend = &backend;
}

void SetDeviceChangeHandler(DeviceChangeHandler handler, void* context) {
    g_change_context.store(context);
    g_change_handler.store(handler);
}

void NotifyDeviceChange(bool arrived) {
    if (DeviceChangeHandler handler = g_change_handler.load())
        handler(arrived, g_change_context.load());
}
