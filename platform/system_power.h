// The system's power: refusing sleep while a transfer runs, and powering the PC off after
// one. On Linux both go to systemd-logind over the system bus (D-Bus).
#pragma once

#include <string>

namespace platform {

// Holds a "sleep" inhibitor lock of logind from construction until destruction (or
// Release): the system does not suspend while it is held. When logind cannot be reached the
// lock is not held and Held() says so; nothing else fails.
class SleepInhibitor {
  public:
    explicit SleepInhibitor(const std::string& why);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    bool Held() const { return fd_ >= 0; }
    const std::string& Failure() const { return failure_; }
    void Release();

  private:
    int fd_ = -1;
    std::string failure_;
};

// Asks logind to power the PC off. True when the request was accepted; false with the
// reason (logind refused, or is not on the bus).
bool RequestPowerOff(std::string* failure);

}  // namespace platform
