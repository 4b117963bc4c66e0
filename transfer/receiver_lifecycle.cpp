#include "transfer/receiver_lifecycle.h"

#include "app/log.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "transfer/progress.h"

namespace {
constexpr int kAttemptsPerPass = 2;
constexpr int kPasses = 3;
// "Not enough memory" is retried without counting it; this many times at most, so that a
// disk that always answers so does not keep the start waiting forever.
constexpr int kMaxMemoryRetries = 10;
constexpr int kOutOfMemory = 3;
}  // namespace

ReceiverLifecycle::ReceiverLifecycle(ReceiverConnection& connection, ReceiverConfig config,
                                     Sleep sleep)
    : connection_(connection), config_(std::move(config)), sleep_(std::move(sleep)) {}

bool ReceiverLifecycle::OpenLink() {
    std::string error;
    return connection_.Open(config_, &error, false);
}

bool ReceiverLifecycle::ConnectAtStart() {
    LogScope scope("COV_USBDlg::ConnectAtStart", 1);
    for (int pass = 0;; ++pass) {
        if (!OpenLink()) {
            LogLine("USB Device not connected", 1);
            return false;
        }
        LogLine("USB Device detected positive", 1);
        DeviceConnected = true;
        sleep_(100);
        int memory_retries = 0;
        for (int attempt = 0; attempt < kAttemptsPerPass;) {
            sleep_(100);
            LogLine("time_count: " + FormatDec(attempt), 3);
            ++file_system_attempts_;
            const int result = connection_.Mount();
            if (result == 0) {
                LogLine("USB Filesystem initialized ok", 3);
                return true;
            }
            if (result == kOutOfMemory && ++memory_retries <= kMaxMemoryRetries) {
                LogLine("Not enough Memory", 1);
                continue;
            }
            LogLine("other error: " + FormatDec(result), 1);
            ++attempt;
        }
        LogLine("connect_try_count: " + FormatDec(pass), 3);
        sleep_(1000);
        if (pass + 1 >= kPasses) {
            LogLine("Sorry!! USB Connect Fail!! Execute the program again!", 1);
            LogLine("Open Connect Fail\n", 1);
            connection_.Close();
            LogLine("CloseUSBDrv() returns 0", 1);
            // DeviceConnected stays set: only unplugging and plugging in again reconnects.
            return false;
        }
        LogLine("connect_try_count < 5", 1);
        connection_.Close();
        LogLine("CloseUSBDrv() returns 0", 1);
    }
}

ReceiverLifecycle::Change ReceiverLifecycle::OnDeviceNodesChanged(bool transferring) {
    LogScope scope("COV_USBDlg::WindowProc", 2);
    LogLine("DBT_DEVNODES_CHANGED", 2);
    if (CheckDeviceAttached()) {
        LogLine("CheckDeviceAttached():TRUE", 2);
        if (DeviceConnected || transferring) return Change::kNothing;
        sleep_(200);
        CreateTransferEvents();
        if (!OpenLink()) return Change::kNothing;
        LogLine("InitDevice() : TRUE", 2);
        sleep_(500);
        if (connection_.Mount() != 0) {
            LogLine("Get BPB Error!!!", 2);
            connection_.Close();
            LogLine("CloseUSBDrv() returned 0", 2);
            DeviceConnected = false;
            return Change::kReconnectFailed;
        }
        LogLine("Connected USB Device", 1);
        DeviceConnected = true;
        UsbFailure = false;
        return Change::kReconnected;
    }
    if (DeviceConnected) {
        LogLine("Connect_Message", 2);
        UsbFailure = true;
        if (!transferring) {
            LogLine("Win PROC Release Bulk USB", 2);
            connection_.Close();
            LogLine("CloseUSBDrv() returns 0", 2);
        }
        // The engine sets it again when it brings the receiver back; otherwise the next
        // arrival after the transfer reconnects.
        DeviceConnected = false;
        return Change::kPulledOut;
    }
    LogLine("Connect another device", 2);
    return Change::kOtherDevice;
}

void ReceiverLifecycle::Release() {
    connection_.Close();
    CloseTransferEvents();
}
