// State shared by the kernel model's sources. Not for tests: they use kernel_model.h.
#pragma once

#include <wdm.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kernel_model {

// Pool blocks the model allocates for itself; never subject to injected failures.
void* AllocateModelBlock(size_t size, ULONG tag);
// True when the injected-failure counter says this driver allocation fails.
bool NextAllocationFails();
// Records a tracked block (MDLs, work items) under a kind name, and drops it.
void TrackBlock(const void* block, const char* kind);
bool UntrackBlock(const void* block, const char* kind);
std::vector<std::string> TrackedBlockLeaks();
std::vector<std::string> PoolLeaks();
std::vector<std::string> IrpLeaks();
std::vector<std::string> DeviceLeaks();
std::vector<std::string> TimerLeaks();
void ResetPool();
void ResetIrps();
void ResetDevices();
void ResetTimers();
// Stops the power manager's thread and drops requests it never sent.
void ResetPowerManager();
void RecordReportedPower(const DEVICE_OBJECT* device, DEVICE_POWER_STATE state);
// Takes off the timers that lie in [begin, end); true when there were any.
bool DropTimersWithin(const void* begin, const void* end);
// The thread's interrupt level, raised by spin locks and DPCs.
void SetIrql(KIRQL irql);
// Records a fault when the calling thread runs above PASSIVE_LEVEL: `routine` may page.
void RequirePassiveLevel(const char* routine);
// PoStartNextPowerIrp was called for the power IRP at its current stack location.
void RecordStartNextPowerIrp(PIRP irp);

std::u16string ToU16(PCWSTR text);
std::u16string ToU16(const UNICODE_STRING& text);

}  // namespace kernel_model
