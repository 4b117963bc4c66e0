// Which receiver disk the command line works on, and bringing it up: a USB receiver over
// libusb, the emulated receiver over an image (every byte through the real transport), or an
// image or block device read and written directly.
#pragma once

#include <memory>
#include <string>

#include "emulator/emulated_receiver.h"
#include "transfer/receiver_connection.h"

struct DiskChoice {
    std::string device;         // --device VID:PID (else the UsbDevice setting)
    std::string emulate_image;  // --emulate IMAGE
    std::string
        emulate_fault;  // --emulate-fault unplug-at=N,unplug-after-bytes=N,replug-after=MS,...
    std::string image;  // --image PATH
    std::string
        emulate_speed;  // --emulate-speed usb2: the emulated receiver paced by its link model
};

class DiskConnection {
  public:
    DiskConnection() = default;
    ~DiskConnection();
    // Connects and, when `mount`, mounts; false with a message that says what to do. A
    // `read_only` command opens an image for reading only.
    bool Open(const DiskChoice& choice, std::string* error, bool mount, bool read_only);
    // Only the first half of Open: the configuration (and the emulated receiver) for the
    // choice, for a caller that brings the link up itself, attempt by attempt.
    bool Prepare(const DiskChoice& choice, std::string* error, bool read_only);
    const ReceiverConfig& Config() const { return config_; }
    ReceiverConnection& Receiver() { return receiver_; }
    emulator::EmulatedReceiver* Emulated() { return emulated_.get(); }
    // Whether the last Open failed over a value the user gave wrongly (exit status 2).
    bool UsageProblem() const { return usage_problem_; }

  private:
    ReceiverConfig config_;
    std::unique_ptr<emulator::EmulatedReceiver> emulated_;
    ReceiverConnection receiver_;
    bool usage_problem_ = false;
};

// Parses "unplug-at=5000,replug-after=1500": false with a message for an unknown option.
bool ParseFaultPlan(const std::string& text, emulator::FaultPlan* plan, std::string* error);
