// A simulated USB bus driver: the physical device object of one receiver, below the driver
// under test. It answers descriptor requests, select-configuration, bulk transfers (carried to
// a UsbFunction), abort pipe, reset pipe, port status and port reset, idle notification,
// Plug and Play and power requests, and lets tests hold transfers, inject failures and play
// the USB stack's part in selective suspend and wait-wake.
#pragma once

#include <usb.h>
#include <usbioctl.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "driver/kernel_model/usb_function.h"

namespace kernel_model {

// Descriptors of a receiver: one bulk-only mass-storage interface with a bulk-out endpoint
// 0x01 and a bulk-in endpoint 0x82 (pipes 0 and 1), optionally a second interface with one
// interrupt endpoint, optionally the remote-wakeup attribute.
std::vector<uint8_t> ReceiverDeviceDescriptor();
std::vector<uint8_t> ReceiverConfigurationDescriptor(bool second_interface, bool remote_wakeup);

// The seed of randomised completion timing: OVPVRUSB_SEED when set, else a fresh one. Tests
// print it when they fail, so that the run can be repeated.
uint32_t CompletionSeed();

struct ConfiguredPipe {
    USBD_PIPE_HANDLE handle;
    uint8_t endpoint;
    USBD_PIPE_TYPE type;
    ULONG maximum_transfer_size;  // as the driver asked at select-configuration
};

struct TransferRecord {
    uint8_t endpoint;
    ULONG length;
    ULONG flags;
};

class SimulatedUsbBus {
  public:
    SimulatedUsbBus(UsbFunction* function, std::vector<uint8_t> configuration_descriptor);
    ~SimulatedUsbBus();
    SimulatedUsbBus(const SimulatedUsbBus&) = delete;
    SimulatedUsbBus& operator=(const SimulatedUsbBus&) = delete;

    PDEVICE_OBJECT Pdo() const { return pdo_; }

    // What the bus driver reports for query capabilities (Size and Version are the caller's).
    void SetCapabilities(const DEVICE_CAPABILITIES& capabilities);
    // The next Plug and Play request with this minor function fails with `status`.
    void FailPnp(UCHAR minor, NTSTATUS status);
    // The next URB of this function fails with `status`.
    void FailUrb(USHORT function, NTSTATUS status);
    // The next bulk transfer fails at once: the request is completed with `status` inside
    // IoCallDriver.
    void FailNextTransferAtOnce(NTSTATUS status);
    // Bulk transfers complete later, as a host controller completes them: from a thread of the
    // bus's own, at DISPATCH_LEVEL, after a random pause, transfers of different endpoints in
    // random order (of one endpoint in order), all drawn from `seed`.
    void CompleteTransfersLater(uint32_t seed);
    // Bulk transfers stay pending until released (or aborted, or cancelled).
    void HoldTransfers(bool hold);
    size_t HeldTransfers();
    void ReleaseHeldTransfers();

    // Port state for port status queries; a reset port is enabled again.
    void SetPort(bool connected, bool enabled);
    void FailPortStatus(NTSTATUS status);

    // Selective suspend: idle requests stay pending until completed or cancelled; or are
    // rejected at once with a status.
    void RejectIdleRequests(NTSTATUS status);
    bool IdleRequestPending();
    void InvokeIdleCallback();
    void CompleteIdleRequest(NTSTATUS status);

    bool WaitWakePending();
    void CompleteWaitWake(NTSTATUS status);
    // A cancelled wait-wake request is completed only when the test says so, as a bus driver
    // may take its time over a cancellation.
    void DeferWaitWakeCancellation(bool defer);
    void FinishCancelledWaitWake();
    const IRP* PendingWaitWake();

    // What the bus saw.
    std::vector<ConfiguredPipe> Pipes();
    std::vector<TransferRecord> Transfers();
    std::vector<UCHAR> PnpSeen();
    uint64_t SelectConfigurations();
    uint64_t Deconfigurations();
    uint64_t AbortsOf(uint8_t endpoint);
    uint64_t ResetPipesOf(uint8_t endpoint);
    uint64_t PortResets();
    uint64_t PortStatusQueries();
    uint64_t IdleRequestsSeen();
    DEVICE_POWER_STATE DevicePower();
    std::vector<DEVICE_POWER_STATE> DevicePowerSeen();
    std::vector<SYSTEM_POWER_STATE> SystemPowerSeen();

    // Dispatch routines of the bus driver.
    NTSTATUS DispatchInternalControl(PIRP irp);
    NTSTATUS DispatchPnp(PIRP irp);
    NTSTATUS DispatchPower(PIRP irp);
    NTSTATUS DispatchSystemControl(PIRP irp);
    void Cancel(PIRP irp);

  private:
    NTSTATUS HandleUrb(PIRP irp, PURB urb);
    NTSTATUS SelectConfiguration(PURB urb);
    NTSTATUS GetDescriptor(PURB urb);
    NTSTATUS Transfer(PIRP irp, PURB urb);
    NTSTATUS CarryTransfer(PIRP irp, PURB urb);
    NTSTATUS Pend(PIRP irp);
    NTSTATUS Complete(PIRP irp, NTSTATUS status);
    const ConfiguredPipe* FindPipe(USBD_PIPE_HANDLE handle);
    // Takes a pending request off its list and clears its cancel routine; false when a
    // canceller has it already.
    bool TakePending(PIRP irp);
    void RunCompletions();
    // Takes a request off the completion thread's queues; under mutex_.
    void ForgetLater(PIRP irp);
    void StopCompletions();

    std::mutex mutex_;
    // Transfers waiting for the completion thread, by endpoint.
    std::map<uint8_t, std::deque<PIRP>> later_;
    std::condition_variable later_changed_;
    std::thread completion_thread_;
    std::mt19937 random_;
    bool complete_later_ = false;
    bool stopping_ = false;
    UsbFunction* function_;
    std::vector<uint8_t> device_descriptor_;
    std::vector<uint8_t> configuration_descriptor_;
    PDEVICE_OBJECT pdo_ = nullptr;
    DEVICE_CAPABILITIES capabilities_{};
    std::map<UCHAR, NTSTATUS> pnp_failures_;
    std::map<USHORT, NTSTATUS> urb_failures_;
    NTSTATUS fail_transfer_at_once_ = STATUS_SUCCESS;
    bool hold_transfers_ = false;
    std::vector<PIRP> held_;     // transfers held by the test
    std::vector<PIRP> hanging_;  // transfers the function left hanging
    bool port_connected_ = true;
    bool port_enabled_ = true;
    NTSTATUS port_status_failure_ = STATUS_SUCCESS;
    NTSTATUS idle_rejection_ = STATUS_SUCCESS;
    PIRP idle_irp_ = nullptr;
    PIRP wait_wake_irp_ = nullptr;
    bool defer_wait_wake_cancellation_ = false;
    PIRP cancelled_wait_wake_ = nullptr;
    std::vector<ConfiguredPipe> pipes_;
    std::vector<uint8_t> pipe_handles_;  // storage whose addresses are the pipe handles
    std::vector<TransferRecord> transfers_;
    std::vector<UCHAR> pnp_seen_;
    uint64_t select_configurations_ = 0;
    uint64_t deconfigurations_ = 0;
    std::map<uint8_t, uint64_t> aborts_;
    std::map<uint8_t, uint64_t> reset_pipes_;
    uint64_t port_resets_ = 0;
    uint64_t port_status_queries_ = 0;
    uint64_t idle_requests_seen_ = 0;
    DEVICE_POWER_STATE device_power_ = PowerDeviceD0;
    std::vector<DEVICE_POWER_STATE> device_power_seen_;
    std::vector<SYSTEM_POWER_STATE> system_power_seen_;
};

}  // namespace kernel_model
