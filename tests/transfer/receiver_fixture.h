// A receiver disk image in a temporary folder, served by the emulated receiver through the
// real link and transport and mounted by the file system; at the end the disk is checked.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "emulator/emulated_receiver.h"
#include "tests/support/temp_folder.h"
#include "transfer/receiver_connection.h"

class ReceiverFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the image (before Connect); `prepare` may fill it through the sparse image device.
    void MakeImage(uint64_t bytes = 1ull << 30, uint32_t cluster = 65536);
    void Connect();
    // Unmounts and checks the image directly: every test that wrote ends clean.
    void ExpectDiskClean();
    // Mounts the image through the link again after the receiver was pulled out.
    void Reconnect();

    // Writes a receiver file into the image before Connect: `head` at its start, `tail` at its
    // end and zeros between, kept as holes in the image (recordings of several GiB).
    void WriteSparseReceiverFile(const std::string& path, uint64_t size, const std::string& head,
                                 const std::string& tail);

    std::string Pc(const std::string& name) const { return folder_.File(name); }
    // The whole file at a receiver path, or "<missing>"; needs the disk connected.
    std::string ReceiverBytes(const std::string& path);

    TempFolder folder_;
    std::string image_;
    std::unique_ptr<emulator::EmulatedReceiver> receiver_;
    ReceiverConnection connection_;
};

// Random bytes of a given length, the same for the same seed.
std::string RandomBytes(size_t length, uint32_t seed);

// A PC file of `size` bytes holding `head` at its start and `piece` at `offset`, holes
// elsewhere.
void WriteSparsePcFile(const std::string& path, uint64_t size, const std::string& head,
                       uint64_t offset, const std::string& piece);
// `length` bytes of a PC file from `offset`; fewer at its end.
std::string ReadPcRange(const std::string& path, uint64_t offset, size_t length);
