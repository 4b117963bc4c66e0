// Interrupt levels, spin locks, events and waits. Events share one mutex and one condition
// variable: a wait re-checks its own event whenever any event is set.
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

thread_local KIRQL t_irql = PASSIVE_LEVEL;
std::mutex g_event_mutex;
std::condition_variable g_event_changed;
// Longer than any test waits for anything: a wait this long is a hang.
constexpr auto kHangTime = std::chrono::seconds(20);
std::mutex g_hook_mutex;
const KSPIN_LOCK* g_hooked_lock = nullptr;
std::function<void()> g_release_hook;

}  // namespace

void SetIrql(KIRQL irql) {
    t_irql = irql;
}

void AfterNextSpinLockRelease(const KSPIN_LOCK* lock, std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(g_hook_mutex);
    g_hooked_lock = lock;
    g_release_hook = std::move(hook);
}

void RequirePassiveLevel(const char* routine) {
    if (t_irql != PASSIVE_LEVEL) RecordFault(std::string(routine) + " above PASSIVE_LEVEL");
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

KIRQL NTAPI KeGetCurrentIrql(void) {
    return t_irql;
}

VOID NTAPI KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
    *SpinLock = 0;
}

VOID NTAPI KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
    *OldIrql = t_irql;
    t_irql = DISPATCH_LEVEL;
    while (__atomic_exchange_n(SpinLock, 1, __ATOMIC_ACQUIRE) != 0) sched_yield();
}

VOID NTAPI KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    if (__atomic_exchange_n(SpinLock, 0, __ATOMIC_RELEASE) == 0)
        RecordFault("KeReleaseSpinLock of a lock that is not held");
    // Held spin locks run at DISPATCH_LEVEL, and the level given back is the one the matching
    // acquire saved: never above dispatch.
    if (t_irql != DISPATCH_LEVEL) RecordFault("KeReleaseSpinLock below DISPATCH_LEVEL");
    if (NewIrql > DISPATCH_LEVEL) RecordFault("KeReleaseSpinLock to a level above dispatch");
    t_irql = NewIrql;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(g_hook_mutex);
        if (g_hooked_lock == SpinLock) {
            hook = std::move(g_release_hook);
            g_hooked_lock = nullptr;
        }
    }
    if (hook) hook();
}

VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    std::lock_guard<std::mutex> lock(g_event_mutex);
    Event->Header.Type = static_cast<UCHAR>(Type);
    Event->Header.SignalState = State ? 1 : 0;
}

LONG NTAPI KeSetEvent(PRKEVENT Event, LONG Increment, BOOLEAN Wait) {
    (void)Increment;
    (void)Wait;
    std::lock_guard<std::mutex> lock(g_event_mutex);
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    g_event_changed.notify_all();
    return previous;
}

VOID NTAPI KeClearEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> lock(g_event_mutex);
    Event->Header.SignalState = 0;
}

LONG NTAPI KeResetEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> lock(g_event_mutex);
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

LONG NTAPI KeReadStateEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> lock(g_event_mutex);
    return Event->Header.SignalState;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                     KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                     PLARGE_INTEGER Timeout) {
    (void)WaitReason;
    (void)WaitMode;
    (void)Alertable;
    PRKEVENT event = static_cast<PRKEVENT>(Object);
    const bool polls = Timeout != nullptr && Timeout->QuadPart == 0;
    if (t_irql >= DISPATCH_LEVEL && !polls) RecordFault("KeWaitForSingleObject at dispatch level");

    std::unique_lock<std::mutex> lock(g_event_mutex);
    if (polls && event->Header.SignalState == 0) return STATUS_TIMEOUT;
    // The driver's waits have no time-out; the model's clock does not run by itself.
    if (!g_event_changed.wait_for(lock, kHangTime, [&] { return event->Header.SignalState; }))
        AbortHung("a KeWaitForSingleObject was never satisfied");
    if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
    return STATUS_SUCCESS;
}

}  // extern "C"
