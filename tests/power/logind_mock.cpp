#include "tests/power/logind_mock.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

namespace {
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";
constexpr int kStartTimeoutMs = 10000;
constexpr int kCallTimeoutMs = 5000;

bool NameHasOwner(GDBusConnection* connection, const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, nullptr);
    if (reply == nullptr) return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}
}  // namespace

LogindMock::LogindMock(Logind logind) {
    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TESSEL_DBUS_DAEMON, "--session", "--nofork", "--nopidfile",
                                 "--print-address=1"},
        std::vector<std::string>{});
    if (bus_->Started()) address_ = bus_->ReadLine(kStartTimeoutMs);
    if (address_.empty()) {
        failure_ = "the private bus did not start";
        return;
    }
    GError* error = nullptr;
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection_ == nullptr) {
        failure_ = std::string("cannot reach the private bus: ") + error->message;
        g_error_free(error);
        return;
    }
    setenv("TESSEL_LOGIND_BUS", address_.c_str(), 1);
    if (logind == Logind::kAbsent) return;

    mock_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TESSEL_DBUSMOCK_PYTHON, "-m", "dbusmock", "--session",
                                 "--template", "logind"},
        std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + address_});
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!NameHasOwner(connection_, kLogind)) {
        if (!mock_->Running() || std::chrono::steady_clock::now() > deadline) {
            failure_ = "the logind mock did not come up on the private bus";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LogindMock::~LogindMock() {
    unsetenv("TESSEL_LOGIND_BUS");
    if (connection_ != nullptr) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    mock_.reset();
    bus_.reset();
}

GVariant* LogindMock::Call(const char* interface, const char* method, GVariant* arguments,
                           const char* reply_type) {
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(connection_, kLogind, kLogindPath, interface, method, arguments,
                                    reply_type != nullptr ? G_VARIANT_TYPE(reply_type) : nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (reply == nullptr) {
        ADD_FAILURE() << interface << "." << method << ": " << error->message;
        g_error_free(error);
    }
    return reply;
}

std::vector<InhibitorLock> LogindMock::Inhibitors() {
    std::vector<InhibitorLock> locks;
    GVariant* reply = Call(kManager, "ListInhibitors", nullptr, "(a(ssssuu))");
    if (reply == nullptr) return locks;
    GVariantIter* rows = nullptr;
    g_variant_get(reply, "(a(ssssuu))", &rows);
    const char *what, *who, *why, *mode;
    guint32 uid, pid;
    while (g_variant_iter_next(rows, "(&s&s&s&suu)", &what, &who, &why, &mode, &uid, &pid))
        locks.push_back({what, who, why, mode});
    g_variant_iter_free(rows);
    g_variant_unref(reply);
    return locks;
}

bool LogindMock::WaitUntilNoInhibitors() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Inhibitors().empty()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int LogindMock::CallsOf(const std::string& method) {
    GVariant* reply =
        Call(kMockInterface, "GetMethodCalls", g_variant_new("(s)", method.c_str()), "(a(tav))");
    if (reply == nullptr) return -1;
    GVariant* calls = g_variant_get_child_value(reply, 0);
    const int count = static_cast<int>(g_variant_n_children(calls));
    g_variant_unref(calls);
    g_variant_unref(reply);
    return count;
}

void LogindMock::MakeMethodFail(const std::string& method, const std::string& in_signature,
                                const std::string& error_name, const std::string& message) {
    // The mock runs this Python line for every call of the method.
    const std::string code =
        "raise dbus.exceptions.DBusException('" + message + "', name='" + error_name + "')";
    GVariant* reply = Call(
        kMockInterface, "AddMethod",
        g_variant_new("(sssss)", kManager, method.c_str(), in_signature.c_str(), "", code.c_str()),
        nullptr);
    if (reply != nullptr) g_variant_unref(reply);
}
