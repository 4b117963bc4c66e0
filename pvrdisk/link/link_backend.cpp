#include "pvrdisk/link/link_backend.h"

#include <mutex>

#include "pvrdisk/link/no_link_backend.h"

namespace {
const LinkBackend* g_backend = nullptr;
// The handler and its context change together, and never while a backend's thread is inside
// the handler: once SetDeviceChangeHandler returns, the old context is no longer used.
std::mutex g_change_mutex;
DeviceChangeHandler g_change_handler = nullptr;
void* g_change_context = nullptr;
}  // namespace

const LinkBackend& CurrentLinkBackend() {
    return g_backend != nullptr ? *g_backend : NoLinkBackend();
}

void SetLinkBackend(const LinkBackend& backend) {
    g_backend = &backend;
}

void SetDeviceChangeHandler(DeviceChangeHandler handler, void* context) {
    std::lock_guard<std::mutex> lock(g_change_mutex);
    g_change_handler = handler;
    g_change_context = context;
}

void NotifyDeviceChange(bool arrived) {
    std::lock_guard<std::mutex> lock(g_change_mutex);
    if (g_change_handler != nullptr) g_change_handler(arrived, g_change_context);
}
