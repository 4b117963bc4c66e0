// A private D-Bus message bus started for a test, with or without a mock of systemd-logind
// on it (python3-dbusmock's logind template), and the test's view of what the mock saw.
// TESSEL_LOGIND_BUS points the code under test at this bus while the object lives.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/power/child_process.h"

// One inhibitor lock as logind lists it.
struct InhibitorLock {
    std::string what, who, why, mode;
};

class LogindMock {
  public:
    enum class Logind { kOnTheBus, kAbsent };
    explicit LogindMock(Logind logind = Logind::kOnTheBus);
    ~LogindMock();
    LogindMock(const LogindMock&) = delete;
    LogindMock& operator=(const LogindMock&) = delete;

    // Whether the bus (and the mock, when asked for) came up; Failure says what did not.
    bool Ready() const { return failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    const std::string& Address() const { return address_; }

    std::vector<InhibitorLock> Inhibitors();
    // Waits (at most five seconds) until logind lists no lock: it notices a closed lock
    // descriptor on its own main loop, a moment after the close.
    bool WaitUntilNoInhibitors();
    // How often a Manager method was called since the mock started.
    int CallsOf(const std::string& method);
    // Makes a Manager method with input signature `in_signature` answer with the D-Bus error
    // `error_name` and `message` from now on.
    void MakeMethodFail(const std::string& method, const std::string& in_signature,
                        const std::string& error_name, const std::string& message);

  private:
    GVariant* Call(const char* interface, const char* method, GVariant* arguments,
                   const char* reply_type);

    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> mock_;
    GDBusConnection* connection_ = nullptr;
    std::string address_;
    std::string failure_;
};
