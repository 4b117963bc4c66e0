// The power manager: power IRPs requested by drivers, power-state reports, and PoCallDriver.
//
// A device power request (set or query) reaches the device's stack later, as a real power
// manager may send it: from the power manager's own thread at PASSIVE_LEVEL, after a random
// pause, in the order asked. Its completion function runs wherever the stack completes the
// request. A wait-wake request goes down at once: it is meant to stay pending below.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

// Longest random pause before a requested device power IRP is sent.
constexpr uint32_t kMaxSendPauseUs = 1500;
// Longer than any power request the model completes takes: waiting this long is a hang.
constexpr auto kHangTime = std::chrono::seconds(20);

struct PowerRequest {
    PDEVICE_OBJECT target;
    UCHAR minor;
    POWER_STATE state;
    PREQUEST_POWER_COMPLETE completion;
    PVOID context;
    bool later;  // sent by the power manager's thread, counted in g_outstanding
};

struct QueuedSend {
    PDEVICE_OBJECT top;
    PIRP irp;
    PowerRequest* request;
};

std::mutex g_power_mutex;
std::condition_variable g_power_changed;
std::deque<QueuedSend> g_sends;  // requested, not yet sent
// Device power requests asked for whose completion function has not yet returned.
size_t g_outstanding = 0;
bool g_sending = false;  // the thread is inside PoCallDriver
bool g_hold = false;
bool g_stop = false;
std::mt19937 g_random;
std::thread g_sender;

void SendLoop() {
    std::unique_lock<std::mutex> lock(g_power_mutex);
    for (;;) {
        g_power_changed.wait(lock, [] { return g_stop || (!g_hold && !g_sends.empty()); });
        if (g_stop) return;
        const auto pause = std::chrono::microseconds(g_random() % kMaxSendPauseUs);
        lock.unlock();
        std::this_thread::sleep_for(pause);
        lock.lock();
        if (g_stop) return;
        if (g_hold || g_sends.empty()) continue;  // held meanwhile
        const QueuedSend send = g_sends.front();
        g_sends.pop_front();
        g_sending = true;
        lock.unlock();
        SetIrql(PASSIVE_LEVEL);
        PoCallDriver(send.top, send.irp);
        lock.lock();
        g_sending = false;
        g_power_changed.notify_all();
    }
}

// The power manager's own stack location: reports the result to the requester and frees the
// request.
NTSTATUS NTAPI PowerRequestDone(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
    (void)DeviceObject;
    PowerRequest* request = static_cast<PowerRequest*>(Context);
    if (request->completion != nullptr)
        request->completion(request->target, request->minor, request->state, request->context,
                            &Irp->IoStatus);
    const bool later = request->later;
    delete request;
    IoFreeIrp(Irp);
    if (later) {
        std::lock_guard<std::mutex> lock(g_power_mutex);
        g_outstanding--;
        g_power_changed.notify_all();
    }
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void SendLater(PDEVICE_OBJECT top, PIRP irp, PowerRequest* request) {
    std::lock_guard<std::mutex> lock(g_power_mutex);
    if (!g_sender.joinable()) g_sender = std::thread(SendLoop);
    g_sends.push_back(QueuedSend{top, irp, request});
    g_outstanding++;
    g_power_changed.notify_all();
}

}  // namespace

void SeedPowerRequestTiming(uint32_t seed) {
    std::lock_guard<std::mutex> lock(g_power_mutex);
    g_random.seed(seed);
}

void HoldPowerRequests(bool hold) {
    std::lock_guard<std::mutex> lock(g_power_mutex);
    g_hold = hold;
    g_power_changed.notify_all();
}

size_t PowerRequestsNotSent() {
    std::lock_guard<std::mutex> lock(g_power_mutex);
    return g_sends.size();
}

void WaitForPowerRequests() {
    std::unique_lock<std::mutex> lock(g_power_mutex);
    if (!g_power_changed.wait_for(lock, kHangTime, [] { return g_outstanding == 0 && !g_sending; }))
        AbortHung("a requested power IRP never completed");
}

void ResetPowerManager() {
    {
        std::lock_guard<std::mutex> lock(g_power_mutex);
        g_stop = true;
        g_power_changed.notify_all();
    }
    if (g_sender.joinable()) g_sender.join();
    std::lock_guard<std::mutex> lock(g_power_mutex);
    // Requests never sent are the test's leak to report; their IRPs are left to the IRP
    // records, their bookkeeping is dropped.
    for (const QueuedSend& send : g_sends) delete send.request;
    g_sends.clear();
    g_outstanding = 0;
    g_hold = false;
    g_stop = false;
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return IoCallDriver(DeviceObject, Irp);
}

VOID NTAPI PoStartNextPowerIrp(PIRP Irp) {
    RecordStartNextPowerIrp(Irp);
}

POWER_STATE NTAPI PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type,
                                  POWER_STATE State) {
    POWER_STATE previous;
    previous.DeviceState = ReportedDevicePower(DeviceObject);
    if (Type == DevicePowerState) RecordReportedPower(DeviceObject, State.DeviceState);
    return previous;
}

NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                 POWER_STATE PowerState, PREQUEST_POWER_COMPLETE CompletionFunction,
                                 PVOID Context, PIRP* Irp) {
    if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER &&
        MinorFunction != IRP_MN_WAIT_WAKE) {
        RecordFault("PoRequestPowerIrp with a minor function it does not send");
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT top = DeviceObject;
    while (top->AttachedDevice != nullptr) top = top->AttachedDevice;
    // One location more than the stack needs: the power manager's own, for its completion.
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(top->StackSize + 1), FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    IoSetNextIrpStackLocation(irp);
    const bool later = MinorFunction != IRP_MN_WAIT_WAKE;
    auto* request = new PowerRequest{DeviceObject,       MinorFunction, PowerState,
                                     CompletionFunction, Context,       later};
    IoSetCompletionRoutine(irp, PowerRequestDone, request, TRUE, TRUE, TRUE);

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = MinorFunction;
    if (MinorFunction == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = PowerState.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = PowerState;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    if (Irp != nullptr) *Irp = irp;
    if (later)
        SendLater(top, irp, request);
    else
        PoCallDriver(top, irp);
    return STATUS_PENDING;
}

}  // extern "C"
