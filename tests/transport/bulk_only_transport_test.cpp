// READ(10) and WRITE(10) through the link to the emulated receiver: the wrappers byte for
// byte, the splitting of requests, and the ways a command fails.
#include "pvrdisk/transport/bulk_only_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/log.h"
#include "platform/profile_store.h"
#include "pvrdisk/link/usb_link.h"
#include "tests/support/emulated_link.h"

namespace {

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        platform::Profile().WriteString("Settings", "Path Log", logs_.Path());
        platform::Profile().WriteInt("Settings", "LogLevel", 3);
        StartLog();
    }
    std::string Logged() { return ReadFileBytes(GetLogFilePath()); }
    pcfm_blkreq Request(uint8_t* buffer, uint16_t count) {
        pcfm_blkreq request{};
        request.buffer = buffer;
        request.count = count;
        return request;
    }

    TempFolder logs_;
    EmulatedLink link_{1024};
};

TEST_F(TransportTest, ReadWrapperIsLaidOutByteForByte) {
    std::string data(2 * 512, '\0');
    ASSERT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 0x00000102, 2), 0);
    const uint8_t expected[31] = {'U',  'S',  'B',  'C',  0x08, 0x18, 0x32, 0x85, 0x00, 0x04, 0x00,
                                  0x00, 0x80, 0x00, 0x0A, 0x28, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00,
                                  0x00, 0x02, 0x00, 0,    0,    0,    0,    0,    0};
    EXPECT_EQ(std::memcmp(LastCommandBlockWrapper(), expected, 31), 0);
    EXPECT_EQ(data, EmulatedLink::PatternSector(0x102) + EmulatedLink::PatternSector(0x103));
}

TEST_F(TransportTest, WriteWrapperDiffersOnlyInFlagsAndOperation) {
    const std::string data(512, 'W');
    ASSERT_EQ(Write10(reinterpret_cast<const uint8_t*>(data.data()), 0x01020304 & 0x3FF, 1), 0);
    const uint8_t* cbw = LastCommandBlockWrapper();
    EXPECT_EQ(std::memcmp(cbw + 4, "\x08\x18\x32\x85", 4), 0);
    EXPECT_EQ(cbw[8], 0x00);
    EXPECT_EQ(cbw[9], 0x02);
    EXPECT_EQ(cbw[12], 0x00);
    EXPECT_EQ(cbw[15], 0x2A);
    EXPECT_EQ(cbw[19], 0x03);
    EXPECT_EQ(cbw[20], 0x04);
    EXPECT_EQ(cbw[23], 0x01);
    EXPECT_EQ(link_.ImageBytes(0x304, 1), data);
}

TEST_F(TransportTest, LargeRequestsAreSplitIntoCommandsOfBufferSize) {
    std::string data(300 * 512, '\0');
    pcfm_blkreq request = Request(reinterpret_cast<uint8_t*>(data.data()), 300);
    link_.Receiver().ResetCounters();
    ASSERT_EQ(usb_block_driver.read(100, &request), 0);
    EXPECT_EQ(link_.Receiver().GetCounters().commands, 3u);  // 128, 128, 44
    const uint8_t* cbw = LastCommandBlockWrapper();
    EXPECT_EQ(cbw[19] << 8 | cbw[20], 100 + 256);
    EXPECT_EQ(cbw[22] << 8 | cbw[23], 44);
    EXPECT_EQ(data, link_.ImageBytes(100, 300));
    // The request is consumed in place.
    EXPECT_EQ(request.count, 0);
    EXPECT_EQ(request.buffer, reinterpret_cast<uint8_t*>(data.data()) + data.size());
}

TEST_F(TransportTest, BufferSizeIsHeldWithinOneSectorAndTheDriversLimit) {
    SetTransferBufferSize(100);
    EXPECT_EQ(MaxSectorsPerCommand(), 1u);
    SetTransferBufferSize(-5);
    EXPECT_EQ(MaxSectorsPerCommand(), 1u);
    SetTransferBufferSize(4 << 20);
    EXPECT_EQ(MaxSectorsPerCommand(), 1024u);
    SetTransferBufferSize(131072);
    EXPECT_EQ(MaxSectorsPerCommand(), 256u);
    SetTransferBufferSize(1000);  // truncated to whole sectors
    EXPECT_EQ(MaxSectorsPerCommand(), 1u);

    SetTransferBufferSize(1024);
    std::string data(5 * 512, '\0');
    pcfm_blkreq request = Request(reinterpret_cast<uint8_t*>(data.data()), 5);
    link_.Receiver().ResetCounters();
    ASSERT_EQ(usb_block_driver.read(0, &request), 0);
    EXPECT_EQ(link_.Receiver().GetCounters().commands, 3u);  // 2, 2, 1
    EXPECT_EQ(data, link_.ImageBytes(0, 5));
}

TEST_F(TransportTest, ZeroSectorsIssueNoCommandAndANullBufferMeansOneSector) {
    uint8_t byte = 0;
    pcfm_blkreq empty = Request(&byte, 0);
    link_.Receiver().ResetCounters();
    EXPECT_EQ(usb_block_driver.write(0, &empty), 0);
    EXPECT_EQ(link_.Receiver().GetCounters().commands, 0u);

    pcfm_blkreq single = Request(nullptr, 77);
    ASSERT_EQ(usb_block_driver.read(9, &single), 0);
    EXPECT_EQ(link_.Receiver().GetCounters().bytes_from_device, 512u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(single.sector), 512),
              EmulatedLink::PatternSector(9));
    std::memset(single.sector, 'S', 512);
    ASSERT_EQ(usb_block_driver.write(10, &single), 0);
    EXPECT_EQ(link_.ImageBytes(10, 1), std::string(512, 'S'));
    EXPECT_EQ(link_.ImageBytes(11, 1), EmulatedLink::PatternSector(11));
}

TEST_F(TransportTest, FailedCommandStatusFailsTheCommand) {
    std::string data(512, '\0');
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 1024, 1), 1);  // beyond the disk
    EXPECT_NE(Logged().find("CSW_Command_buffer[0x0c] = 0x01"), std::string::npos);
    // The link stays usable.
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 1023, 1), 0);
    EXPECT_EQ(data, EmulatedLink::PatternSector(1023));
}

TEST_F(TransportTest, EveryPhaseThatFailsResetsTheLinkAndFailsTheCommand) {
    std::string data(4 * 512, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    // Transfers of one READ(10): 1 wrapper, 2 data, 3 status.
    for (uint64_t phase = 1; phase <= 3; ++phase) {
        emulator::FaultPlan plan;
        plan.fail_transfer_at = link_.Receiver().GetCounters().transfers + phase;
        link_.Receiver().SetFaultPlan(plan);
        EXPECT_EQ(Read10(bytes, 4, 4), 1) << "phase " << phase;
        link_.Receiver().SetFaultPlan({});
        EXPECT_EQ(Read10(bytes, 4, 4), 0) << "after phase " << phase;
        EXPECT_EQ(data, link_.ImageBytes(4, 4));
    }
    for (uint64_t phase = 1; phase <= 3; ++phase) {
        emulator::FaultPlan plan;
        plan.fail_transfer_at = link_.Receiver().GetCounters().transfers + phase;
        link_.Receiver().SetFaultPlan(plan);
        EXPECT_EQ(Write10(bytes, 40, 4), 1) << "phase " << phase;
        link_.Receiver().SetFaultPlan({});
        EXPECT_EQ(Write10(bytes, 40, 4), 0) << "after phase " << phase;
    }
    EXPECT_EQ(link_.ImageBytes(40, 4), data);
    const std::string log = Logged();
    EXPECT_NE(log.find("\\ ResetDevice"), std::string::npos);
    EXPECT_NE(log.find("Reset Devices"), std::string::npos);
}

// A phase error or a status wrapper that cannot be valid leaves the receiver halted until
// reset recovery: the command fails, and only with the recovery done does the next one work.
TEST_F(TransportTest, StatusOutOfStepLeadsToResetRecoveryAndTheNextCommandWorks) {
    std::string data(4 * 512, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    const std::string written(4 * 512, 'r');
    for (emulator::StatusFault fault :
         {emulator::StatusFault::kPhaseError, emulator::StatusFault::kBadSignature,
          emulator::StatusFault::kBadTag, emulator::StatusFault::kShortStatus}) {
        for (bool read : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(fault)
                                              << (read ? " on a read" : " on a write"));
            emulator::FaultPlan plan;
            plan.bad_status_at_command = link_.Receiver().GetCounters().commands + 1;
            plan.bad_status = fault;
            link_.Receiver().SetFaultPlan(plan);
            const uint64_t resets = link_.Receiver().GetCounters().resets;
            EXPECT_EQ(read ? Read10(bytes, 8, 4)
                           : Write10(reinterpret_cast<const uint8_t*>(written.data()), 8, 4),
                      1);
            EXPECT_EQ(link_.Receiver().GetCounters().resets, resets + 1);
            std::memset(bytes, 0, data.size());
            EXPECT_EQ(Read10(bytes, 20, 4), 0);
            EXPECT_EQ(data, link_.ImageBytes(20, 4));
        }
    }
    EXPECT_NE(Logged().find("CSW reports a phase error"), std::string::npos);
    EXPECT_NE(Logged().find("CSW is no valid status wrapper (12 bytes)"), std::string::npos);
}

TEST_F(TransportTest, FailedStatusNeedsNoResetRecovery) {
    std::string data(512, '\0');
    const uint64_t resets = link_.Receiver().GetCounters().resets;
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 1024, 1), 1);  // beyond the disk
    EXPECT_EQ(link_.Receiver().GetCounters().resets, resets);
}

TEST_F(TransportTest, StalledEndpointIsClearedByTheReset) {
    std::string data(512, '\0');
    link_.Receiver().StallEndpoint(emulator::Endpoint::kBulkIn);
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 3, 1), 1);
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 3, 1), 0);
    EXPECT_EQ(data, EmulatedLink::PatternSector(3));
}

TEST_F(TransportTest, PulledOutReceiverFailsEveryCommandUntilReopened) {
    std::string data(512, '\0');
    link_.Receiver().Unplug();
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 3, 1), 1);
    link_.Receiver().Plug();
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 3, 1), 1);
    Connect_ReopenPIPE();
    EXPECT_EQ(Read10(reinterpret_cast<uint8_t*>(data.data()), 3, 1), 0);
}

TEST_F(TransportTest, DroppedLinkInTheMiddleOfAWriteFailsIt) {
    std::string data(64 * 512, 'd');
    emulator::FaultPlan plan;
    plan.unplug_after_bytes = 10000;
    link_.Receiver().SetFaultPlan(plan);
    pcfm_blkreq request = Request(reinterpret_cast<uint8_t*>(data.data()), 64);
    EXPECT_EQ(usb_block_driver.write(200, &request), 1);
    EXPECT_GT(request.count, 0);  // the rest is left undone
}

TEST(ByteOrder, StoresAdvanceTheCursorAndLoadsReadLittleEndian) {
    uint8_t bytes[10] = {};
    uint8_t* cursor = bytes;
    StoreLe32(cursor, 0x11223344);
    StoreBe32(cursor, 0x55667788);
    StoreBe16(cursor, 0x99AA);
    EXPECT_EQ(cursor, bytes + 10);
    const uint8_t expected[10] = {0x44, 0x33, 0x22, 0x11, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA};
    EXPECT_EQ(std::memcmp(bytes, expected, 10), 0);
    EXPECT_EQ(LoadLe16(expected + 8), 0xAA99);
}

}  // namespace
