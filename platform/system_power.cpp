#include "platform/system_power.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr int kCallTimeoutMs = 5000;

std::string Take(GError* error) {
    std::string text = error != nullptr ? error->message : "unknown error";
    if (error != nullptr) g_error_free(error);
    return text;
}

// The system bus; TESSEL_LOGIND_BUS names another bus address (tests start their own).
GDBusConnection* SystemBus(std::string* failure) {
    GError* error = nullptr;
    GDBusConnection* bus = nullptr;
    if (const char* address = g_getenv("TESSEL_LOGIND_BUS"); address != nullptr && *address) {
        bus = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
    } else {
        bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    }
    if (bus == nullptr) *failure = "no system bus: " + Take(error);
    return bus;
}
}  // namespace

SleepInhibitor::SleepInhibitor(const std::string& why) {
    GDBusConnection* bus = SystemBus(&failure_);
    if (bus == nullptr) return;
    GError* error = nullptr;
    GUnixFDList* fds = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kLogind, kLogindPath, kManager, "Inhibit",
        g_variant_new("(ssss)", "sleep", "TX Tessel USB", why.c_str(), "block"),
        G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr,
        &error);
    if (reply == nullptr) {
        failure_ = "logind refused the sleep lock: " + Take(error);
    } else {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        fd_ = fds != nullptr ? g_unix_fd_list_get(fds, index, &error) : -1;
        if (fd_ < 0) failure_ = "logind gave no lock: " + Take(error);
        g_variant_unref(reply);
    }
    if (fds != nullptr) g_object_unref(fds);
    g_object_unref(bus);
}

SleepInhibitor::~SleepInhibitor() {
    Release();
}

void SleepInhibitor::Release() {
    // The lock is the descriptor: logind lets the system sleep again once it is closed.
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool RequestPowerOff(std::string* failure) {
    GDBusConnection* bus = SystemBus(failure);
    if (bus == nullptr) return false;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kLogind, kLogindPath, kManager, "PowerOff", g_variant_new("(b)", FALSE), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    g_object_unref(bus);
    if (reply == nullptr) {
        *failure = Take(error);
        return false;
    }
    g_variant_unref(reply);
    return true;
}

}  // namespace platform
