// An emulated receiver over a fresh image file, attached to the link as the backend, with the
// link opened; everything is undone at the end of the test.
#pragma once

#include <cstdint>
#include <string>

#include "emulator/emulated_receiver.h"
#include "tests/support/temp_folder.h"

class EmulatedLink {
  public:
    // An image of `sectors` sectors, each filled with a pattern that names the sector.
    explicit EmulatedLink(uint32_t sectors = 4096, bool open_link = true);
    ~EmulatedLink();

    emulator::EmulatedReceiver& Receiver() { return receiver_; }
    const std::string& ImagePath() const { return image_; }
    // The bytes of one sector as the pattern makes them.
    static std::string PatternSector(uint32_t sector);
    // The image's bytes of `count` sectors from `first`, read directly from the file.
    std::string ImageBytes(uint32_t first, uint32_t count) const;

  private:
    TempFolder folder_;
    std::string image_;
    emulator::EmulatedReceiver receiver_;
};
