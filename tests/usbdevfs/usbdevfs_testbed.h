// USB devices as Linux's usbdevfs shows them, emulated with umockdev: each device has its sysfs
// entry (descriptors, bus and address) and a device node whose ioctls (SUBMITURB, REAPURB,
// DISCARDURB, CLAIMINTERFACE, DISCONNECT_CLAIM, CLEAR_HALT, RESET, ...) are answered by a
// handler on a thread of the testbed's own. A device can be backed by an emulated receiver, so
// libusb's bulk and control transfers reach the same bulk-only device as every other test; a
// device without one only counts what is asked of it.
//
// The process must run under umockdev-wrapper. Create the testbed before libusb is first used:
// libusb enumerates the bus when its context is made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "emulator/emulated_receiver.h"
#include "pvrdisk/link/usb_device_id.h"

namespace usbdevfs {

struct DeviceSpec {
    UsbId id;
    bool vendor_specific = false;  // interface class 0xFF instead of 08/06/50
    bool storage_driver = true;    // the kernel's storage driver is bound to the interface
    std::string manufacturer = "Orvane";
    std::string product = "PVR receiver";
};

// What one device has been asked, for the tests' checks.
struct DeviceRecord {
    uint64_t ioctls = 0;  // every ioctl on its node
    uint64_t claims = 0;  // interface claims that succeeded
    uint64_t releases = 0;
    uint64_t detaches = 0;  // the kernel's driver taken off the interface
    uint64_t attaches = 0;  // ... and given back
    uint64_t clear_halts = 0;
    uint64_t class_resets = 0;  // bulk-only mass storage resets
    uint64_t port_resets = 0;
    uint64_t discards = 0;      // URBs cancelled
    bool driver_bound = false;  // the kernel's driver holds the interface now
    bool claimed = false;       // some client holds the interface now
};

class Testbed {
  public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Adds a device on bus 1; `receiver` (may be null) serves its bulk endpoints and class
    // requests and must outlive the testbed. Returns the device's number for the calls below.
    int AddDevice(const DeviceSpec& spec, emulator::EmulatedReceiver* receiver);

    // The device is pulled out: its receiver is unplugged, pending URBs complete with
    // -ESHUTDOWN, every later ioctl of its open clients fails with ENODEV, and the kernel
    // reports the removal (a "remove" uevent).
    void Unplug(int device);
    // Plugged in again at a new address, with an "add" uevent; the receiver is plugged in.
    void Replug(int device);

    // DISCARDURB is accepted but the URB never comes back: a kernel that loses a cancel.
    void SetLoseCancels(int device, bool lose);
    // DISCARDURB is accepted and the URB comes back cancelled only this much later.
    void SetCancelDelayMs(int device, uint32_t milliseconds);

    DeviceRecord Record(int device);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace usbdevfs
