// The link functions over the emulated receiver, and over a scripted backend for the cases a
// device cannot be made to show on demand.
#include "pvrdisk/link/usb_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/log.h"
#include "emulator/emulated_link_backend.h"
#include "platform/last_error.h"
#include "platform/profile_store.h"
#include "platform/tick_count.h"
#include "tests/support/emulated_link.h"

namespace {

// Log at level 3 into a temporary folder, so that tests can read what the link wrote.
class LinkLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProfile(platform::MakeMemoryProfileStore());
        platform::Profile().WriteString("Settings", "Path Log", logs_.Path());
        platform::Profile().WriteInt("Settings", "LogLevel", 3);
        StartLog();
    }
    std::string Logged() { return ReadFileBytes(GetLogFilePath()); }

    TempFolder logs_;
};

using UsbLinkTest = LinkLogTest;

TEST_F(UsbLinkTest, CheckDeviceAttachedOpensNothing) {
    EmulatedLink link(64, false);
    EXPECT_EQ(CheckDeviceAttached(), 1);
    EXPECT_FALSE(ReadPipeOpen());
    EXPECT_FALSE(WritePipeOpen());
    link.Receiver().Unplug();
    EXPECT_EQ(CheckDeviceAttached(), 0);
    EXPECT_NE(Logged().find("GetUsbDeviceFileName2() failed!"), std::string::npos);
}

TEST_F(UsbLinkTest, InitDeviceOpensBothPipesBelowTheDevicePath) {
    EmulatedLink link(64, false);
    ASSERT_EQ(InitDevice(), 1);
    EXPECT_TRUE(ReadPipeOpen());
    EXPECT_TRUE(WritePipeOpen());
    const std::string log = Logged();
    EXPECT_NE(log.find("\\ InitDevice\r\n"), std::string::npos);
    EXPECT_NE(log.find("DeviceName: \r\n"), std::string::npos);
    EXPECT_NE(log.find(std::string(emulator::kEmulatedDevicePath) + "\\\r\n"), std::string::npos);
    EXPECT_EQ(CloseUSBDrv(), 0);
    EXPECT_FALSE(ReadPipeOpen());
    EXPECT_FALSE(WritePipeOpen());
}

TEST_F(UsbLinkTest, InitDeviceWithoutReceiverFails) {
    EmulatedLink link(64, false);
    link.Receiver().Unplug();
    EXPECT_EQ(InitDevice(), 0);
    EXPECT_NE(Logged().find("Failed to GetUsbDeviceFileName"), std::string::npos);
}

TEST_F(UsbLinkTest, TransfersCarryACommandAndItsDataAndStatus) {
    EmulatedLink link(64);
    uint8_t cbw[31] = {'U', 'S', 'B', 'C', 1, 2, 3, 4, 0, 2, 0, 0, 0x80, 0, 10, 0x28};
    cbw[17 + 3] = 5;  // sector 5
    cbw[23] = 1;      // one sector
    uint32_t done = 0;
    ASSERT_EQ(UsbWrite(cbw, sizeof cbw, &done), 1);
    EXPECT_EQ(done, 31u);
    std::string sector(512, '\0');
    ASSERT_EQ(UsbRead(sector.data(), 512, &done), 1);
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(sector, EmulatedLink::PatternSector(5));
    uint8_t csw[13] = {};
    ASSERT_EQ(UsbRead(csw, sizeof csw, &done), 1);
    EXPECT_EQ(done, 13u);
    EXPECT_EQ(std::memcmp(csw, "USBS\x01\x02\x03\x04", 8), 0);
    EXPECT_EQ(csw[12], 0);
}

TEST_F(UsbLinkTest, PulledOutReceiverFailsTransfersUntilThePipesAreReopened) {
    EmulatedLink link(64);
    link.Receiver().Unplug();
    uint8_t cbw[31] = {'U', 'S', 'B', 'C'};
    uint32_t done = 0;
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 0);
    EXPECT_NE(Logged().find("UsbWrite(): GetOverlappedResult(): 0x0000048F"), std::string::npos);
    link.Receiver().Plug();
    // The old handles belong to the device that was pulled out.
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 0);
    EXPECT_EQ(Connect_ReopenPIPE(), 1);
    EXPECT_TRUE(TransferEventsExist());
    EXPECT_TRUE(ReadPipeOpen());
    // A new handle talks to the device again; an all-zero wrapper is invalid, so it halts.
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 1);
}

TEST_F(UsbLinkTest, ReopenWhileUnpluggedLeavesTheLinkClosed) {
    EmulatedLink link(64);
    link.Receiver().Unplug();
    EXPECT_EQ(Connect_ReopenPIPE(), 1);
    EXPECT_FALSE(ReadPipeOpen());
    EXPECT_NE(Logged().find("RW retry USB Bus Open fail."), std::string::npos);
}

TEST_F(UsbLinkTest, AHungTransferIsCancelledWhenTheWaitRunsOut) {
    EmulatedLink link(64);
    SetTransferTimeoutMs(30);
    emulator::FaultPlan plan;
    plan.hang_transfer_at = link.Receiver().GetCounters().transfers + 1;
    link.Receiver().SetFaultPlan(plan);
    uint8_t buffer[13];
    uint32_t done = 99;
    EXPECT_EQ(UsbRead(buffer, sizeof buffer, &done), 0);
    EXPECT_EQ(done, 0u);
    EXPECT_NE(Logged().find("UsbRead(): transfer timed out, cancelled"), std::string::npos);
    // Nothing is left pending: the next transfer runs normally.
    uint8_t cbw[31] = {'U', 'S', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 10, 0x28};
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 1);
}

TEST_F(UsbLinkTest, ResetAfterAnInvalidWrapperMakesTheReceiverAnswerAgain) {
    EmulatedLink link(64);
    uint8_t junk[31] = {'N', 'O', 'P', 'E'};
    uint32_t done = 0;
    ASSERT_EQ(UsbWrite(junk, sizeof junk, &done), 1);
    uint8_t csw[13];
    EXPECT_EQ(UsbRead(csw, sizeof csw, &done), 0);  // halted
    EXPECT_EQ(ResetDevice(1), 0);
    uint8_t cbw[31] = {'U', 'S', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 10, 0x28};
    ASSERT_EQ(UsbWrite(cbw, sizeof cbw, &done), 1);
    ASSERT_EQ(UsbRead(csw, sizeof csw, &done), 1);
    EXPECT_EQ(csw[12], 0);
    const std::string log = Logged();
    EXPECT_NE(log.find("Cancel pending I/Os\r\n"), std::string::npos);
    EXPECT_NE(log.find("Reset Pipes\r\n"), std::string::npos);
    EXPECT_NE(log.find("Reset Devices\r\n"), std::string::npos);
}

// A backend that records what the link asks of it and answers as the test says.
struct Script {
    std::vector<std::string> calls;
    bool fail_write_pipe_open = false;
    bool complete_at_once = false;
    uint32_t immediate_error = platform::kErrorIoPending;
    uint32_t result_error = platform::kErrorSuccess;
    bool control_fails = false;
};
Script g_script;

std::string Name(PipeHandle pipe) {
    return pipe == 1 ? "read" : pipe == 2 ? "write" : "invalid";
}

const LinkBackend kScriptedBackend = {
    .name = "scripted",
    .cancels_complete_at_once = true,
    .find_receiver =
        [](char* path, size_t size) {
            std::snprintf(path, size, "\\\\?\\scripted");
            return true;
        },
    .open_pipe = [](const char* path) -> PipeHandle {
        const std::string p = path;
        g_script.calls.push_back("open " + p.substr(p.rfind('\\') + 1));
        if (p.ends_with("PIPE01")) return 1;
        return g_script.fail_write_pipe_open ? kInvalidPipe : 2;
    },
    .close_pipe =
        [](PipeHandle pipe) {
            g_script.calls.push_back("close " + Name(pipe));
            return true;
        },
    .cancel_io =
        [](PipeHandle pipe) {
            g_script.calls.push_back("cancel " + Name(pipe));
            return true;
        },
    .begin_transfer =
        [](PipeHandle pipe, void*, uint32_t size, uint32_t* done) {
            g_script.calls.push_back("transfer " + Name(pipe));
            if (g_script.complete_at_once) {
                *done = size;
                return true;
            }
            platform::SetLastError(g_script.immediate_error);
            return false;
        },
    .wait_transfer = [](PipeHandle, uint32_t) { return true; },
    .transfer_result =
        [](PipeHandle, uint32_t* done, bool) {
            *done = 0;
            platform::SetLastError(g_script.result_error);
            return false;
        },
    .control =
        [](PipeHandle pipe, uint32_t code) {
            g_script.calls.push_back("control " + Name(pipe) + " " + FormatHex8(code));
            if (g_script.control_fails) platform::SetLastError(platform::kErrorGenFailure);
            return !g_script.control_fails;
        },
};

class ScriptedLinkTest : public LinkLogTest {
  protected:
    void SetUp() override {
        LinkLogTest::SetUp();
        g_script = Script{};
        SetLinkBackend(kScriptedBackend);
    }
    void TearDown() override {
        CloseUSBDrv();
        SetLinkBackend(emulator::EmulatedLinkBackend());
    }
};

TEST_F(ScriptedLinkTest, HalfOpenedLinkIsLeftForCloseUSBDrv) {
    g_script.fail_write_pipe_open = true;
    EXPECT_EQ(InitDevice(), 0);
    EXPECT_NE(Logged().find("Invalid USB read or write filehandle"), std::string::npos);
    EXPECT_TRUE(ReadPipeOpen());
    EXPECT_FALSE(WritePipeOpen());
    EXPECT_EQ(CloseUSBDrv(), 0);
    EXPECT_FALSE(ReadPipeOpen());
    EXPECT_EQ(g_script.calls, (std::vector<std::string>{"open PIPE01", "open PIPE00", "cancel read",
                                                        "close read"}));
}

TEST_F(ScriptedLinkTest, CloseWithBothHandlesInvalidTouchesNothing) {
    EXPECT_EQ(CloseUSBDrv(), 0);
    EXPECT_TRUE(g_script.calls.empty());
    EXPECT_EQ(Logged().find("USB device connected"), std::string::npos);
}

TEST_F(ScriptedLinkTest, ResetOfTheReadSideSendsBothCodesOnTheWritePipe) {
    ASSERT_EQ(InitDevice(), 1);
    g_script.calls.clear();
    EXPECT_EQ(ResetDevice(1), 0);
    EXPECT_EQ(g_script.calls, (std::vector<std::string>{"cancel read", "control write 0x00220008",
                                                        "control write 0x00220004"}));
    g_script.calls.clear();
    EXPECT_EQ(ResetDevice(0), 0);
    EXPECT_EQ(g_script.calls.front(), "cancel write");
}

TEST_F(ScriptedLinkTest, FailedResetsAreLogged) {
    ASSERT_EQ(InitDevice(), 1);
    g_script.control_fails = true;
    EXPECT_EQ(ResetDevice(0), 0);
    const std::string log = Logged();
    EXPECT_NE(log.find("Reset pipes Failed!!! 0x0000001F"), std::string::npos);
    EXPECT_NE(log.find("failed!\r\n"), std::string::npos);
    EXPECT_NE(log.find("USB reset failed"), std::string::npos);
}

TEST_F(ScriptedLinkTest, CompletionReportedAsFailureWithCodeZeroCountsAsDone) {
    ASSERT_EQ(InitDevice(), 1);
    g_script.result_error = platform::kErrorSuccess;
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_EQ(UsbWrite(&byte, 1, &done), 1);
    EXPECT_EQ(UsbRead(&byte, 1, &done), 1);
}

TEST_F(ScriptedLinkTest, ImmediateEndOfFileAndOtherImmediateErrorsFailTheTransfer) {
    ASSERT_EQ(InitDevice(), 1);
    uint8_t byte = 0;
    uint32_t done = 0;
    g_script.immediate_error = platform::kErrorHandleEof;
    EXPECT_EQ(UsbWrite(&byte, 1, &done), 0);
    EXPECT_EQ(UsbRead(&byte, 1, &done), 0);
    g_script.immediate_error = platform::kErrorInvalidHandle;
    EXPECT_EQ(UsbWrite(&byte, 1, &done), 0);
    EXPECT_EQ(UsbRead(&byte, 1, &done), 0);
    const std::string log = Logged();
    EXPECT_NE(log.find("UsbWrite(): ERROR_HANDLE_EOF"), std::string::npos);
    EXPECT_NE(log.find("UsbRead(): handle Error!!"), std::string::npos);
    EXPECT_NE(log.find("UsbWrite(): other error: 0x00000006"), std::string::npos);
    EXPECT_NE(log.find("UsbRead(): some other error!!\r\nGetOverlappedResult(): 0x00000006"),
              std::string::npos);
    EXPECT_NE(log.find("The handle is invalid."), std::string::npos);
}

TEST_F(ScriptedLinkTest, TransferThatCompletesAtOnceSucceeds) {
    ASSERT_EQ(InitDevice(), 1);
    g_script.complete_at_once = true;
    uint8_t bytes[4] = {};
    uint32_t done = 0;
    EXPECT_EQ(UsbRead(bytes, 4, &done), 1);
    EXPECT_EQ(done, 4u);
}

// Device changes reach the handler the main window installs.
std::vector<bool> g_changes;

TEST(DeviceChange, PlugAndUnplugOfTheAttachedReceiverAreReported) {
    g_changes.clear();
    SetDeviceChangeHandler([](bool arrived, void*) { g_changes.push_back(arrived); }, nullptr);
    {
        EmulatedLink link(64, false);
        link.Receiver().Unplug();
        link.Receiver().Unplug();  // already out: nothing more to report
        link.Receiver().Plug();
    }
    SetDeviceChangeHandler(nullptr, nullptr);
    EXPECT_EQ(g_changes, (std::vector<bool>{false, true}));
}

TEST(DeviceChange, ReceiverComesBackByItselfAfterAPlannedUnplug) {
    EmulatedLink link(64);
    emulator::FaultPlan plan;
    plan.unplug_at_command = 1;
    plan.replug_after_ms = 20;
    link.Receiver().SetFaultPlan(plan);
    uint8_t cbw[31] = {'U', 'S', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 10, 0x28};
    uint32_t done = 0;
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 0);
    EXPECT_EQ(CheckDeviceAttached(), 0);
    for (int i = 0; i < 200 && !CheckDeviceAttached(); ++i) platform::SleepMs(5);
    EXPECT_EQ(CheckDeviceAttached(), 1);
    Connect_ReopenPIPE();
    EXPECT_EQ(UsbWrite(cbw, sizeof cbw, &done), 1);
}

}  // namespace
