// Controls of the kernel model that the tests hold: the faults it saw, what is still
// allocated or pending, the clock that drives timers, the work-item queue, and the
// registry, WDM version and device-interface state the driver sees.
//
// The model checks what a real kernel would punish with a crash or a hang: an IRP completed
// twice or freed while a lower driver owns it, pool freed twice or with the wrong tag, a wait
// at dispatch level, a device deleted while still attached or registered with WMI, a wait
// that is never satisfied.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kernel_model {

// Clears every record and stops the work-item thread. Called between tests.
void Reset();

// Problems the model saw, in order.
void RecordFault(const std::string& what);
// Fails loudly when something is never satisfied or completed: the test would otherwise hang.
[[noreturn]] void AbortHung(const std::string& what);
std::vector<std::string> Faults();

// Everything still allocated or pending: pool blocks, IRPs, MDLs, work items, device
// objects, set timers, WMI registrations. Empty after a clean run.
std::vector<std::string> Leaks();

// The n-th driver allocation from now (pool, IRP, MDL, work item; 1 = the next) fails.
void FailAllocation(uint64_t nth);
uint64_t PoolBlocksWithTag(ULONG tag);

// The clock, in units of 100 ns. Advancing it fires due timers' DPCs on the calling thread
// and then lets the work items they queued run to the end.
LONGLONG Now();
void AdvanceClockMs(uint32_t milliseconds);
bool TimerIsSet(const KTIMER* timer);
size_t TimersSet();
// Waits until the work-item queue is empty and no item runs.
void WaitForWorkItems();
uint64_t WorkItemsRun();

// Device power requests drivers ask for (PoRequestPowerIrp, set or query power) are sent
// later, from the power manager's thread at PASSIVE_LEVEL, after random pauses drawn from
// the seed; each test seeds it with the bus's completion seed.
void SeedPowerRequestTiming(uint32_t seed);
// While held, requested device power IRPs wait unsent.
void HoldPowerRequests(bool hold);
size_t PowerRequestsNotSent();
// Waits until every requested device power IRP has completed to its requester and the
// dispatch routines it was sent to have returned.
void WaitForPowerRequests();

// Registry values for RtlQueryRegistryValues (absolute paths).
void SetRegistryDword(const std::u16string& path, const std::u16string& name, uint32_t value);

// The WDM version IoIsWdmVersionAvailable reports (1.32, Windows XP, by default).
void SetWdmVersion(UCHAR major, UCHAR minor);

struct DeviceInterface {
    std::u16string symbolic_link;
    const DEVICE_OBJECT* physical_device;
    bool enabled;
};
std::vector<DeviceInterface> DeviceInterfaces();

bool WmiRegistered(const DEVICE_OBJECT* device);
// The device power state last reported with PoSetPowerState.
DEVICE_POWER_STATE ReportedDevicePower(const DEVICE_OBJECT* device);

// Runs once, just before the next IoCancelIrp on `irp` cancels it: lets a test complete the
// request at the worst moment for the canceller.
void BeforeNextCancel(const IRP* irp, std::function<void()> hook);

// Run once: just before the next KeSetTimerEx of `timer`, and on the clock's thread between a
// timer's expiry (its DPC queued) and its DPC, so a test can act in those windows.
void BeforeNextTimerSet(const KTIMER* timer, std::function<void()> hook);
void BeforeNextDpc(std::function<void()> hook);

// Runs once, on the releasing thread, right after the next KeReleaseSpinLock of `lock`: lets
// a test act between a driver's check under a lock and what the driver does next.
void AfterNextSpinLockRelease(const KSPIN_LOCK* lock, std::function<void()> hook);

// The I/O manager's side of a request the test sends.
PIRP AllocateTestIrp(CCHAR stack_size);
bool IrpCompleted(const IRP* irp);
// Waits up to `milliseconds` of real time for a test IRP to complete.
bool WaitForIrpCompletion(const IRP* irp, uint32_t milliseconds);
void FreeTestIrp(PIRP irp);
// An MDL describing a caller's buffer, as the I/O manager builds for direct I/O.
PMDL AllocateTestMdl(void* buffer, ULONG length);
void FreeTestMdl(PMDL mdl);

// UTF-16 text as the kernel's strings hold it.
UNICODE_STRING MakeUnicodeString(std::u16string& text);

}  // namespace kernel_model
