// Which receiver disk the command line works on, and bringing it up: a USB receiver over
// libusb, the emulated receiver over an image (every byte through the real transport), or an
// image or block device read and written directly.
#pragma once

#include <memory>
#include <string>

#include "emulator/emulated_receiver.h"

struct DiskChoice {
    std::string device;         // --device VID:PID (else the UsbDevice setting)
    std::string emulate_image;  // --emulate IMAGE
    std::string
        emulate_fault;  // --emulate-fault unplug-at=N,unplug-after-bytes=N,replug-after=MS,...
    std::string image;  // --image PATH
};

class DiskConnection {
  public:
    DiskConnection() = default;
    ~DiskConnection();
    // Connects and mounts; false with a message that says what to do.
    bool Open(const DiskChoice& choice, std::string* error, bool mount = true);
    // The block-device table the disk is reached through (for the consistency check).
    const struct pcfm_blkdrv& BlockDriver() const;
    uint64_t SectorCount() const { return sectors_; }
    emulator::EmulatedReceiver* Emulated() { return emulated_.get(); }

  private:
    std::unique_ptr<emulator::EmulatedReceiver> emulated_;
    bool direct_ = false;
    bool linked_ = false;
    uint64_t sectors_ = 0;
};

// Parses "unplug-at=5000,replug-after=1500": false with a message for an unknown option.
bool ParseFaultPlan(const std::string& text, emulator::FaultPlan* plan, std::string* error);
