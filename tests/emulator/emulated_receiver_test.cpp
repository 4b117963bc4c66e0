// The emulated receiver's device side of the Bulk-Only Transport, driven transfer by transfer.
#include "emulator/emulated_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/support/emulated_link.h"

namespace {

using emulator::Endpoint;
using emulator::TransferStatus;

std::string Cbw(uint32_t host_length, bool data_in, uint8_t op, uint32_t lba, uint16_t blocks,
                uint32_t tag = 0x11223344) {
    std::string cbw(31, '\0');
    std::memcpy(cbw.data(), "USBC", 4);
    for (int i = 0; i < 4; ++i) {
        cbw[4 + i] = static_cast<char>(tag >> (8 * i));
        cbw[8 + i] = static_cast<char>(host_length >> (8 * i));
        cbw[17 + i] = static_cast<char>(lba >> (8 * (3 - i)));
    }
    cbw[12] = data_in ? '\x80' : 0;
    cbw[14] = 10;
    cbw[15] = static_cast<char>(op);
    cbw[22] = static_cast<char>(blocks >> 8);
    cbw[23] = static_cast<char>(blocks);
    return cbw;
}

struct Csw {
    TransferStatus transfer;
    uint32_t tag = 0, residue = 0;
    uint8_t status = 0xEE;
};

class DeviceTest : public ::testing::Test {
  protected:
    DeviceTest() : link_(64, false), device_(link_.Receiver()), gen_(device_.Generation()) {}

    TransferStatus Out(const std::string& bytes, uint32_t* done = nullptr) {
        uint32_t moved = 0;
        TransferStatus s = device_.BulkOut(gen_, reinterpret_cast<const uint8_t*>(bytes.data()),
                                           static_cast<uint32_t>(bytes.size()), &moved);
        if (done) *done = moved;
        return s;
    }
    TransferStatus In(std::string* bytes, uint32_t size) {
        bytes->assign(size, '\x55');
        uint32_t moved = 0;
        TransferStatus s =
            device_.BulkIn(gen_, reinterpret_cast<uint8_t*>(bytes->data()), size, &moved);
        bytes->resize(moved);
        return s;
    }
    Csw Status() {
        std::string bytes;
        Csw csw;
        csw.transfer = In(&bytes, 13);
        if (csw.transfer != TransferStatus::kOk || bytes.size() != 13) return csw;
        EXPECT_EQ(bytes.substr(0, 4), "USBS");
        auto le = [&](int at) {
            uint32_t v = 0;
            for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
            return v;
        };
        csw.tag = le(4);
        csw.residue = le(8);
        csw.status = static_cast<uint8_t>(bytes[12]);
        return csw;
    }

    EmulatedLink link_;
    emulator::EmulatedReceiver& device_;
    uint64_t gen_;
};

TEST_F(DeviceTest, ReadServesTheImageAndEchoesTheTag) {
    ASSERT_EQ(Out(Cbw(1024, true, 0x28, 3, 2, 0xCAFEF00D)), TransferStatus::kOk);
    std::string data;
    ASSERT_EQ(In(&data, 1024), TransferStatus::kOk);
    EXPECT_EQ(data, EmulatedLink::PatternSector(3) + EmulatedLink::PatternSector(4));
    const Csw csw = Status();
    EXPECT_EQ(csw.tag, 0xCAFEF00Du);
    EXPECT_EQ(csw.residue, 0u);
    EXPECT_EQ(csw.status, 0);
    EXPECT_EQ(device_.GetCounters().bytes_from_device, 1024u);
}

TEST_F(DeviceTest, DataPhaseMayComeInPieces) {
    ASSERT_EQ(Out(Cbw(512, false, 0x2A, 10, 1)), TransferStatus::kOk);
    const std::string sector(512, 'w');
    ASSERT_EQ(Out(sector.substr(0, 100)), TransferStatus::kOk);
    ASSERT_EQ(Out(sector.substr(100)), TransferStatus::kOk);
    EXPECT_EQ(Status().status, 0);
    EXPECT_EQ(link_.ImageBytes(10, 1), sector);
    EXPECT_EQ(link_.ImageBytes(11, 1), EmulatedLink::PatternSector(11));
}

TEST_F(DeviceTest, InvalidWrappersHaltBothEndpointsUntilResetRecovery) {
    std::string bad_signature = Cbw(512, true, 0x28, 0, 1);
    bad_signature[0] = 'X';
    std::string lun_one = Cbw(512, true, 0x28, 0, 1);
    lun_one[13] = 1;
    std::string no_cdb = Cbw(512, true, 0x28, 0, 1);
    no_cdb[14] = 0;
    std::string long_cdb = Cbw(512, true, 0x28, 0, 1);
    long_cdb[14] = 17;
    const std::string short_wrapper = Cbw(512, true, 0x28, 0, 1).substr(0, 30);
    const std::string long_wrapper = Cbw(512, true, 0x28, 0, 1) + "x";
    for (const std::string& wrapper :
         {bad_signature, lun_one, no_cdb, long_cdb, short_wrapper, long_wrapper}) {
        ASSERT_EQ(Out(wrapper), TransferStatus::kOk);
        std::string data;
        EXPECT_EQ(In(&data, 13), TransferStatus::kStall);
        EXPECT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kStall);
        // Clearing the halts alone is not enough after an invalid wrapper.
        device_.ClearHalt(gen_, Endpoint::kBulkIn);
        device_.ClearHalt(gen_, Endpoint::kBulkOut);
        EXPECT_EQ(In(&data, 13), TransferStatus::kStall);
        ASSERT_TRUE(device_.MassStorageReset(gen_));
        device_.ClearHalt(gen_, Endpoint::kBulkIn);
        device_.ClearHalt(gen_, Endpoint::kBulkOut);
        ASSERT_EQ(Out(Cbw(0, true, 0x28, 0, 0)), TransferStatus::kOk);
        EXPECT_EQ(Status().status, 0);
    }
}

TEST_F(DeviceTest, BlockAddressBeyondTheDiskFailsTheCommandAndTouchesNothing) {
    ASSERT_EQ(Out(Cbw(1024, true, 0x28, 63, 2)), TransferStatus::kOk);
    std::string data;
    ASSERT_EQ(In(&data, 1024), TransferStatus::kOk);
    EXPECT_EQ(data, std::string(1024, '\0'));
    Csw csw = Status();
    EXPECT_EQ(csw.status, 1);
    EXPECT_EQ(csw.residue, 1024u);

    ASSERT_EQ(Out(Cbw(512, false, 0x2A, 64, 1)), TransferStatus::kOk);
    ASSERT_EQ(Out(std::string(512, 'x')), TransferStatus::kOk);
    csw = Status();
    EXPECT_EQ(csw.status, 1);
    EXPECT_EQ(csw.residue, 512u);
    EXPECT_EQ(device_.GetCounters().bytes_to_device, 512u);  // moved, but discarded
}

TEST_F(DeviceTest, HostExpectingMoreThanTheCommandGetsPaddingAndAResidue) {
    ASSERT_EQ(Out(Cbw(1536, true, 0x28, 2, 1)), TransferStatus::kOk);
    std::string data;
    ASSERT_EQ(In(&data, 1536), TransferStatus::kOk);
    EXPECT_EQ(data, EmulatedLink::PatternSector(2) + std::string(1024, '\0'));
    Csw csw = Status();
    EXPECT_EQ(csw.status, 0);
    EXPECT_EQ(csw.residue, 1024u);

    ASSERT_EQ(Out(Cbw(1024, false, 0x2A, 5, 1)), TransferStatus::kOk);
    ASSERT_EQ(Out(std::string(512, 'a') + std::string(512, 'b')), TransferStatus::kOk);
    csw = Status();
    EXPECT_EQ(csw.residue, 512u);
    EXPECT_EQ(link_.ImageBytes(5, 2), std::string(512, 'a') + EmulatedLink::PatternSector(6));
}

TEST_F(DeviceTest, HostExpectingLessThanTheCommandNeedsIsAPhaseError) {
    ASSERT_EQ(Out(Cbw(512, false, 0x2A, 7, 2)), TransferStatus::kOk);
    ASSERT_EQ(Out(std::string(512, 'z')), TransferStatus::kOk);
    EXPECT_EQ(Status().status, 2);
    EXPECT_EQ(link_.ImageBytes(7, 1), EmulatedLink::PatternSector(7));  // nothing written

    ASSERT_EQ(Out(Cbw(512, true, 0x28, 7, 2)), TransferStatus::kOk);
    std::string data;
    ASSERT_EQ(In(&data, 512), TransferStatus::kOk);
    EXPECT_EQ(Status().status, 2);
}

TEST_F(DeviceTest, OppositeDirectionsHaltTheHostsDataPipeAndReportAPhaseError) {
    ASSERT_EQ(Out(Cbw(512, false, 0x28, 1, 1)), TransferStatus::kOk);  // READ with data out
    EXPECT_EQ(Out(std::string(512, 'q')), TransferStatus::kStall);
    device_.ClearHalt(gen_, Endpoint::kBulkOut);
    EXPECT_EQ(Status().status, 2);
    EXPECT_EQ(link_.ImageBytes(1, 1), EmulatedLink::PatternSector(1));

    ASSERT_EQ(Out(Cbw(512, true, 0x2A, 1, 1)), TransferStatus::kOk);  // WRITE with data in
    std::string data;
    EXPECT_EQ(In(&data, 512), TransferStatus::kStall);
    device_.ClearHalt(gen_, Endpoint::kBulkIn);
    EXPECT_EQ(Status().status, 2);
}

TEST_F(DeviceTest, NoDataExpectedByTheHostButWantedByTheCommandIsAPhaseError) {
    ASSERT_EQ(Out(Cbw(0, true, 0x28, 1, 1)), TransferStatus::kOk);
    EXPECT_EQ(Status().status, 2);
}

TEST_F(DeviceTest, UnsupportedCommandsFail) {
    ASSERT_EQ(Out(Cbw(0, false, 0x00, 0, 0)), TransferStatus::kOk);  // TEST UNIT READY
    EXPECT_EQ(Status().status, 1);
    ASSERT_EQ(Out(Cbw(36, true, 0x12, 0, 0)), TransferStatus::kOk);  // INQUIRY
    std::string data;
    ASSERT_EQ(In(&data, 36), TransferStatus::kOk);
    const Csw csw = Status();
    EXPECT_EQ(csw.status, 1);
    EXPECT_EQ(csw.residue, 36u);
}

TEST_F(DeviceTest, NothingToSendIsANakForEverAndAStatusNeedsThirteenBytes) {
    std::string data;
    EXPECT_EQ(In(&data, 13), TransferStatus::kHang);
    ASSERT_EQ(Out(Cbw(0, true, 0x28, 0, 0)), TransferStatus::kOk);
    EXPECT_EQ(In(&data, 12), TransferStatus::kFailed);
    EXPECT_EQ(Status().status, 0);
}

TEST_F(DeviceTest, AWrapperDuringTheDataPhaseHaltsTheDevice) {
    ASSERT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kOk);
    EXPECT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kStall);
    std::string data;
    EXPECT_EQ(In(&data, 512), TransferStatus::kStall);
    ASSERT_TRUE(device_.ResetPort(gen_));
    ASSERT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kOk);
}

TEST_F(DeviceTest, PulledOutDeviceAnswersNothingAndOldPipesStayDeadAfterReplug) {
    device_.Unplug();
    EXPECT_FALSE(device_.IsPlugged());
    EXPECT_EQ(Out(Cbw(0, true, 0x28, 0, 0)), TransferStatus::kNoDevice);
    EXPECT_FALSE(device_.MassStorageReset(gen_));
    device_.Plug();
    EXPECT_EQ(Out(Cbw(0, true, 0x28, 0, 0)), TransferStatus::kNoDevice);
    gen_ = device_.Generation();
    EXPECT_EQ(Out(Cbw(0, true, 0x28, 0, 0)), TransferStatus::kOk);
}

TEST_F(DeviceTest, InjectedFaultsHitTheChosenTransfers) {
    emulator::FaultPlan plan;
    plan.fail_transfer_at = 2;
    device_.SetFaultPlan(plan);
    ASSERT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kOk);
    std::string data;
    EXPECT_EQ(In(&data, 512), TransferStatus::kFailed);
    EXPECT_EQ(In(&data, 512), TransferStatus::kOk);  // only that one transfer

    device_.StallEndpoint(Endpoint::kBulkIn);
    EXPECT_EQ(In(&data, 13), TransferStatus::kStall);
    device_.ClearHalt(gen_, Endpoint::kBulkIn);
    EXPECT_EQ(Status().status, 0);
}

TEST_F(DeviceTest, UnplugAfterBytesCutsTheDataPhaseThere) {
    emulator::FaultPlan plan;
    plan.unplug_after_bytes = 700;
    device_.SetFaultPlan(plan);
    ASSERT_EQ(Out(Cbw(1024, false, 0x2A, 20, 2)), TransferStatus::kOk);
    uint32_t done = 0;
    EXPECT_EQ(Out(std::string(1024, 'u'), &done), TransferStatus::kNoDevice);
    EXPECT_EQ(done, 700u);
    EXPECT_FALSE(device_.IsPlugged());
    const std::string written = link_.ImageBytes(20, 2);
    EXPECT_EQ(written.substr(0, 700), std::string(700, 'u'));
    EXPECT_EQ(written.substr(700), EmulatedLink::PatternSector(21).substr(188));
}

TEST_F(DeviceTest, CountersAndLinkModelAddUpWhatMoved) {
    device_.ResetCounters();
    emulator::LinkModel model;
    model.payload_bytes_per_second = 1e6;
    model.seconds_per_command = 0.5;
    device_.SetLinkModel(model);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Out(Cbw(512, true, 0x28, 0, 1)), TransferStatus::kOk);
        std::string data;
        ASSERT_EQ(In(&data, 512), TransferStatus::kOk);
        Status();
    }
    const emulator::Counters c = device_.GetCounters();
    EXPECT_EQ(c.commands, 2u);
    EXPECT_EQ(c.transfers, 6u);
    EXPECT_EQ(c.bytes_from_device, 1024u);
    EXPECT_NEAR(c.modeled_seconds, 1.0 + 1024 / 1e6, 1e-9);
}

TEST_F(DeviceTest, APacedLinkTakesAtLeastTheModeledTimeAndAnUnpacedOneIsNotHeldBack) {
    // Slow enough that the pacing dominates: 0.1 s per command, 1 MB/s.
    emulator::LinkModel model;
    model.payload_bytes_per_second = 1e6;
    model.seconds_per_command = 0.1;
    const auto reads = [&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Out(Cbw(50 * 512, true, 0x28, 0, 50)), TransferStatus::kOk);
            std::string data;
            EXPECT_EQ(In(&data, 50 * 512), TransferStatus::kOk);
            EXPECT_EQ(data, link_.ImageBytes(0, 50));
            Status();
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    model.paced = true;
    device_.SetLinkModel(model);
    device_.ResetCounters();
    const double paced = reads();
    const double modeled = device_.GetCounters().modeled_seconds;
    EXPECT_NEAR(modeled, 3 * (0.1 + 50 * 512 / 1e6), 1e-9);
    EXPECT_GE(paced,
              modeled);  // a sleep never ends early; no upper bound is asked of a busy machine
    // Unpaced, the same reads do not wait for the model: well below its 0.38 s.
    model.paced = false;
    device_.SetLinkModel(model);
    EXPECT_LT(reads(), modeled);
}

}  // namespace
