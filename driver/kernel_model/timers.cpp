// The clock the tests drive, timers and their DPCs, and the work-item thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

struct _IO_WORKITEM {
    PDEVICE_OBJECT DeviceObject;
};

namespace kernel_model {
namespace {

constexpr LONGLONG kUnitsPerMs = 10000;

std::mutex g_timer_mutex;
LONGLONG g_now = 0;
std::set<PKTIMER> g_timers;
const KTIMER* g_hooked_timer = nullptr;
std::function<void()> g_timer_hook;
std::function<void()> g_dpc_hook;
// DPCs queued by an expired timer and not yet run to their end; KeFlushQueuedDpcs waits for 0.
int g_dpcs_queued = 0;
std::condition_variable g_dpcs_done;

struct QueuedWork {
    PIO_WORKITEM item;
    PIO_WORKITEM_ROUTINE routine;
    PVOID context;
};

std::mutex g_work_mutex;
std::condition_variable g_work_changed;
std::deque<QueuedWork> g_work;
bool g_work_running = false;
bool g_worker_stop = false;
uint64_t g_work_done = 0;
std::thread g_worker;

void WorkerLoop() {
    std::unique_lock<std::mutex> lock(g_work_mutex);
    for (;;) {
        g_work_changed.wait(lock, [] { return g_worker_stop || !g_work.empty(); });
        if (g_work.empty()) return;
        QueuedWork work = g_work.front();
        g_work.pop_front();
        g_work_running = true;
        lock.unlock();
        SetIrql(PASSIVE_LEVEL);
        work.routine(work.item->DeviceObject, work.context);
        lock.lock();
        g_work_running = false;
        g_work_done++;
        g_work_changed.notify_all();
    }
}

// The earliest timer due at or before `limit`, taken off or rescheduled; null when none.
PKTIMER TakeDueTimer(LONGLONG limit) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    PKTIMER due = nullptr;
    for (PKTIMER timer : g_timers)
        if (timer->DueTime <= limit && (due == nullptr || timer->DueTime < due->DueTime))
            due = timer;
    if (due == nullptr) return nullptr;
    g_now = due->DueTime;
    if (due->Period > 0) {
        due->DueTime += due->Period * kUnitsPerMs;
    } else {
        due->Inserted = FALSE;
        g_timers.erase(due);
    }
    return due;
}

}  // namespace

LONGLONG Now() {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    return g_now;
}

void AdvanceClockMs(uint32_t milliseconds) {
    const LONGLONG limit = Now() + milliseconds * kUnitsPerMs;
    while (PKTIMER timer = TakeDueTimer(limit)) {
        PKDPC dpc = timer->Dpc;
        if (dpc != nullptr) {
            std::function<void()> hook;
            {
                std::lock_guard<std::mutex> lock(g_timer_mutex);
                g_dpcs_queued++;
                hook = std::move(g_dpc_hook);
                g_dpc_hook = nullptr;
            }
            if (hook) hook();
            SetIrql(DISPATCH_LEVEL);
            dpc->DeferredRoutine(dpc, dpc->DeferredContext, nullptr, nullptr);
            SetIrql(PASSIVE_LEVEL);
            {
                std::lock_guard<std::mutex> lock(g_timer_mutex);
                g_dpcs_queued--;
            }
            g_dpcs_done.notify_all();
        }
        WaitForWorkItems();
    }
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    g_now = limit;
}

void BeforeNextTimerSet(const KTIMER* timer, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    g_hooked_timer = timer;
    g_timer_hook = std::move(hook);
}

void BeforeNextDpc(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    g_dpc_hook = std::move(hook);
}

bool TimerIsSet(const KTIMER* timer) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    return g_timers.count(const_cast<PKTIMER>(timer)) != 0;
}

size_t TimersSet() {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    return g_timers.size();
}

std::vector<std::string> TimerLeaks() {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    std::vector<std::string> leaks;
    for (size_t i = 0; i < g_timers.size(); i++) leaks.push_back("a timer still set");
    return leaks;
}

bool DropTimersWithin(const void* begin, const void* end) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    bool dropped = false;
    for (auto timer = g_timers.begin(); timer != g_timers.end();) {
        const void* at = *timer;
        if (at >= begin && at < end) {
            timer = g_timers.erase(timer);
            dropped = true;
        } else {
            ++timer;
        }
    }
    return dropped;
}

void WaitForWorkItems() {
    std::unique_lock<std::mutex> lock(g_work_mutex);
    if (!g_work_changed.wait_for(lock, std::chrono::seconds(20),
                                 [] { return g_work.empty() && !g_work_running; }))
        AbortHung("a work item never finished");
}

uint64_t WorkItemsRun() {
    std::lock_guard<std::mutex> lock(g_work_mutex);
    return g_work_done;
}

void ResetTimers() {
    {
        std::lock_guard<std::mutex> lock(g_work_mutex);
        g_worker_stop = true;
        g_work_changed.notify_all();
    }
    if (g_worker.joinable()) g_worker.join();
    {
        std::lock_guard<std::mutex> lock(g_work_mutex);
        g_worker_stop = false;
        g_work.clear();
        g_work_done = 0;
    }
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    g_timers.clear();
    g_now = 0;
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

VOID NTAPI KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
}

VOID NTAPI KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type) {
    (void)Type;
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    if (g_timers.count(Timer)) RecordFault("KeInitializeTimerEx of a timer that is set");
    Timer->DueTime = 0;
    Timer->Period = 0;
    Timer->Dpc = nullptr;
    Timer->Inserted = FALSE;
}

BOOLEAN NTAPI KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_timer_mutex);
        if (g_hooked_timer == Timer) {
            hook = std::move(g_timer_hook);
            g_hooked_timer = nullptr;
        }
    }
    if (hook) hook();
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    const BOOLEAN was_set = g_timers.count(Timer) != 0;
    Timer->DueTime = DueTime.QuadPart < 0 ? g_now - DueTime.QuadPart : DueTime.QuadPart;
    Timer->Period = Period;
    Timer->Dpc = Dpc;
    Timer->Inserted = TRUE;
    g_timers.insert(Timer);
    return was_set;
}

VOID NTAPI KeFlushQueuedDpcs(VOID) {
    RequirePassiveLevel("KeFlushQueuedDpcs");
    std::unique_lock<std::mutex> lock(g_timer_mutex);
    if (!g_dpcs_done.wait_for(lock, std::chrono::seconds(20), [] { return g_dpcs_queued == 0; }))
        AbortHung("KeFlushQueuedDpcs: a queued DPC never ran");
}

BOOLEAN NTAPI KeCancelTimer(PKTIMER Timer) {
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    Timer->Inserted = FALSE;
    return g_timers.erase(Timer) != 0;
}

PIO_WORKITEM NTAPI IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject) {
    if (NextAllocationFails()) return nullptr;
    PIO_WORKITEM item = new _IO_WORKITEM{DeviceObject};
    TrackBlock(item, "work item");
    return item;
}

VOID NTAPI IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine,
                           WORK_QUEUE_TYPE QueueType, PVOID Context) {
    (void)QueueType;
    std::lock_guard<std::mutex> lock(g_work_mutex);
    if (!g_worker.joinable()) g_worker = std::thread(WorkerLoop);
    g_work.push_back(QueuedWork{IoWorkItem, WorkerRoutine, Context});
    g_work_changed.notify_all();
}

VOID NTAPI IoFreeWorkItem(PIO_WORKITEM IoWorkItem) {
    if (UntrackBlock(IoWorkItem, "work item")) delete IoWorkItem;
}

}  // extern "C"
