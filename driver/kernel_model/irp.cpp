// IRPs: allocation with their stack locations, IoCallDriver, completion with the stack's
// completion routines, cancellation, threaded control requests, and MDLs.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

enum class IrpKind {
    kTest,      // sent by a test as the I/O manager would; freed by the test
    kThreaded,  // IoBuildDeviceIoControlRequest: freed by the I/O manager at completion
    kDriver,    // IoAllocateIrp: its owner frees it from its completion routine
};

struct IrpRecord {
    IrpKind kind;
    bool completed = false;
    CHAR sent_from = 0;  // the sender's stack location at the first IoCallDriver
    // Stack locations (bit n: location n) that were marked pending when completion left them.
    uint64_t marked_pending = 0;
    // Stack locations at which PoStartNextPowerIrp was called.
    uint64_t started_next_power = 0;
};

std::mutex g_irp_mutex;
std::condition_variable g_irp_completed;
std::map<const IRP*, IrpRecord> g_irps;
std::map<const IRP*, std::function<void()>> g_cancel_hooks;
KSPIN_LOCK g_cancel_lock = 0;

PIRP NewIrp(CCHAR stack_size, IrpKind kind) {
    const size_t size = sizeof(IRP) + stack_size * sizeof(IO_STACK_LOCATION);
    PIRP irp = static_cast<PIRP>(std::calloc(1, size));
    irp->Size = static_cast<USHORT>(size);
    irp->StackCount = stack_size;
    irp->CurrentLocation = static_cast<CHAR>(stack_size + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stack_size;
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    g_irps[irp] = IrpRecord{kind};
    return irp;
}

bool FindRecord(const IRP* irp, IrpRecord* record) {
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    auto found = g_irps.find(irp);
    if (found == g_irps.end()) return false;
    *record = found->second;
    return true;
}

void ForgetIrp(PIRP irp) {
    {
        std::lock_guard<std::mutex> lock(g_irp_mutex);
        g_irps.erase(irp);
        g_cancel_hooks.erase(irp);
    }
    std::free(irp);
}

// The request has left its last stack location.
void FinishIrp(PIRP irp, IrpKind kind) {
    if (kind == IrpKind::kThreaded) {
        *irp->UserIosb = irp->IoStatus;
        PKEVENT event = irp->UserEvent;
        ForgetIrp(irp);
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        return;
    }
    if (kind == IrpKind::kDriver)
        RecordFault("a driver-allocated IRP completed past its owner's completion routine");
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    g_irps[irp].completed = true;
    g_irp_completed.notify_all();
}

// A dispatch routine that returns STATUS_PENDING must have marked the request pending, and
// one that marked it must return STATUS_PENDING: the I/O manager decides from the returned
// status whether to wait for completion, and completion decides from the mark whether to
// signal the waiter. Either mismatch loses the caller's wake-up or completes twice.
void CheckPendingReturned(PIRP irp, PIO_STACK_LOCATION stack, CHAR location, UCHAR major,
                          NTSTATUS status) {
    bool marked;
    {
        std::lock_guard<std::mutex> lock(g_irp_mutex);
        auto found = g_irps.find(irp);
        if (found == g_irps.end()) return;  // a threaded request, freed at its completion
        const bool left = irp->CurrentLocation > location || found->second.completed;
        marked = left ? (found->second.marked_pending >> location & 1) != 0
                      : (stack->Control & SL_PENDING_RETURNED) != 0;
    }
    if (status == STATUS_PENDING && !marked)
        RecordFault("dispatch (major " + std::to_string(major) +
                    ") returned STATUS_PENDING without IoMarkIrpPending");
    if (status != STATUS_PENDING && marked)
        RecordFault("dispatch (major " + std::to_string(major) +
                    ") marked the IRP pending but returned another status");
}

}  // namespace

PIRP AllocateTestIrp(CCHAR stack_size) {
    return NewIrp(stack_size, IrpKind::kTest);
}

bool IrpCompleted(const IRP* irp) {
    IrpRecord record;
    return FindRecord(irp, &record) && record.completed;
}

bool WaitForIrpCompletion(const IRP* irp, uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(g_irp_mutex);
    return g_irp_completed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        auto found = g_irps.find(irp);
        return found != g_irps.end() && found->second.completed;
    });
}

void FreeTestIrp(PIRP irp) {
    IrpRecord record;
    if (!FindRecord(irp, &record)) {
        RecordFault("freeing an unknown test IRP");
        return;
    }
    if (!record.completed) RecordFault("a test IRP was never completed");
    ForgetIrp(irp);
}

PMDL AllocateTestMdl(void* buffer, ULONG length) {
    PMDL mdl = new MDL{};
    mdl->StartVa = buffer;
    mdl->MappedSystemVa = buffer;
    mdl->ByteCount = length;
    return mdl;
}

void FreeTestMdl(PMDL mdl) {
    delete mdl;
}

void BeforeNextCancel(const IRP* irp, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    g_cancel_hooks[irp] = std::move(hook);
}

std::vector<std::string> IrpLeaks() {
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    std::vector<std::string> leaks;
    for (const auto& [irp, record] : g_irps) {
        if (record.kind == IrpKind::kTest && record.completed) continue;
        const IO_STACK_LOCATION* stack = irp->Tail.Overlay.CurrentStackLocation;
        const bool at_a_driver = irp->CurrentLocation <= irp->StackCount;
        leaks.push_back(std::string(at_a_driver ? "an IRP pending" : "an IRP not freed") +
                        " (major " + std::to_string(at_a_driver ? stack->MajorFunction : -1) +
                        ", minor " + std::to_string(at_a_driver ? stack->MinorFunction : -1) + ")");
    }
    return leaks;
}

void ResetIrps() {
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    // Leaked requests are reported, not freed: a driver may still point at them.
    g_irps.clear();
    g_cancel_hooks.clear();
}

void RecordStartNextPowerIrp(PIRP irp) {
    std::lock_guard<std::mutex> lock(g_irp_mutex);
    auto found = g_irps.find(irp);
    if (found == g_irps.end()) {
        RecordFault("PoStartNextPowerIrp of an unknown IRP");
        return;
    }
    found->second.started_next_power |= uint64_t{1} << irp->CurrentLocation;
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

PIRP NTAPI IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
    (void)ChargeQuota;
    if (NextAllocationFails()) return nullptr;
    return NewIrp(StackSize, IrpKind::kDriver);
}

VOID NTAPI IoFreeIrp(PIRP Irp) {
    IrpRecord record;
    if (!FindRecord(Irp, &record)) {
        RecordFault("IoFreeIrp of an unknown or freed IRP");
        return;
    }
    if (record.kind != IrpKind::kDriver) RecordFault("IoFreeIrp of an IRP the driver does not own");
    if (record.sent_from != 0 && Irp->CurrentLocation < record.sent_from)
        RecordFault("IoFreeIrp of an IRP a lower driver still holds");
    ForgetIrp(Irp);
}

NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    IrpRecord record;
    if (!FindRecord(Irp, &record)) AbortHung("IoCallDriver with an unknown or freed IRP");
    if (record.completed) RecordFault("IoCallDriver with a completed IRP");
    {
        // Under the lock: the dispatch routine of the location above may still be running on
        // another thread and check whether the request has left it (CheckPendingReturned).
        std::lock_guard<std::mutex> lock(g_irp_mutex);
        if (record.sent_from == 0) g_irps[Irp].sent_from = Irp->CurrentLocation;
        Irp->CurrentLocation--;
        Irp->Tail.Overlay.CurrentStackLocation--;
    }
    if (Irp->CurrentLocation <= 0) AbortHung("IoCallDriver with no stack location left");
    PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = DeviceObject;
    const CHAR location = Irp->CurrentLocation;
    const UCHAR major = stack->MajorFunction;
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[major];
    if (dispatch == nullptr) AbortHung("IoCallDriver to a driver without that dispatch routine");
    const NTSTATUS status = dispatch(DeviceObject, Irp);
    CheckPendingReturned(Irp, stack, location, major, status);
    return status;
}

VOID NTAPI IoCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
    (void)PriorityBoost;
    IrpRecord record;
    if (!FindRecord(Irp, &record)) {
        RecordFault("IoCompleteRequest of an unknown or freed IRP");
        return;
    }
    if (record.completed) {
        RecordFault("IoCompleteRequest of an IRP completed already");
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) RecordFault("IRP completed with STATUS_PENDING");
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) RecordFault("IoCompleteRequest above DISPATCH_LEVEL");
    if (Irp->CancelRoutine != nullptr) RecordFault("IRP completed with a cancel routine set");

    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
        const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        const PVOID context = stack->Context;
        UCHAR control;
        {
            // The dispatch routine of this location may still be running on another thread
            // and check its mark (CheckPendingReturned): the mark is kept for it.
            std::lock_guard<std::mutex> lock(g_irp_mutex);
            control = stack->Control;
            IrpRecord& kept = g_irps[Irp];
            if (control & SL_PENDING_RETURNED)
                kept.marked_pending |= uint64_t{1} << Irp->CurrentLocation;
            // Each driver a power IRP passed through must let the next one start (Windows
            // before Vista holds the next power IRP until then).
            if (stack->MajorFunction == IRP_MJ_POWER && stack->DeviceObject != nullptr &&
                !(kept.started_next_power >> Irp->CurrentLocation & 1))
                RecordFault("power IRP (minor " + std::to_string(stack->MinorFunction) +
                            ") left a driver without PoStartNextPowerIrp");
            stack->CompletionRoutine = nullptr;
            stack->Control = 0;
            Irp->CurrentLocation++;
            Irp->Tail.Overlay.CurrentStackLocation++;
        }
        Irp->PendingReturned = (control & SL_PENDING_RETURNED) != 0;

        const bool at_top = Irp->CurrentLocation > Irp->StackCount;
        PDEVICE_OBJECT upper =
            at_top ? nullptr : Irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
        const NTSTATUS status = Irp->IoStatus.Status;
        const bool invoke =
            routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                   (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                   (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            if (routine(upper, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (Irp->PendingReturned && !at_top) {
            IoMarkIrpPending(Irp);
        }
    }
    FinishIrp(Irp, record.kind);
}

VOID NTAPI IoAcquireCancelSpinLock(PKIRQL Irql) {
    KeAcquireSpinLock(&g_cancel_lock, Irql);
}

VOID NTAPI IoReleaseCancelSpinLock(KIRQL Irql) {
    KeReleaseSpinLock(&g_cancel_lock, Irql);
}

BOOLEAN NTAPI IoCancelIrp(PIRP Irp) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_irp_mutex);
        auto found = g_cancel_hooks.find(Irp);
        if (found != g_cancel_hooks.end()) {
            hook = std::move(found->second);
            g_cancel_hooks.erase(found);
        }
    }
    if (hook) hook();
    IrpRecord record;
    if (!FindRecord(Irp, &record)) {
        RecordFault("IoCancelIrp of an unknown or freed IRP");
        return FALSE;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    Irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                ? Irp->Tail.Overlay.CurrentStackLocation->DeviceObject
                                : nullptr;
    routine(device, Irp);  // releases the cancel spin lock
    return TRUE;
}

PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                         PVOID InputBuffer, ULONG InputBufferLength,
                                         PVOID OutputBuffer, ULONG OutputBufferLength,
                                         BOOLEAN InternalDeviceIoControl, PKEVENT Event,
                                         PIO_STATUS_BLOCK IoStatusBlock) {
    if (NextAllocationFails()) return nullptr;
    PIRP irp = NewIrp(DeviceObject->StackSize, IrpKind::kThreaded);
    irp->UserEvent = Event;
    irp->UserIosb = IoStatusBlock;
    irp->UserBuffer = OutputBuffer;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
    return irp;
}

PMDL NTAPI IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer,
                         BOOLEAN ChargeQuota, PIRP Irp) {
    (void)SecondaryBuffer;
    (void)ChargeQuota;
    if (Irp != nullptr) RecordFault("IoAllocateMdl attaching to an IRP is not modelled");
    if (NextAllocationFails()) return nullptr;
    PMDL mdl = new MDL{};
    mdl->StartVa = VirtualAddress;
    mdl->ByteCount = Length;
    TrackBlock(mdl, "MDL");
    return mdl;
}

VOID NTAPI IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress, ULONG Length) {
    PUCHAR start = static_cast<PUCHAR>(MmGetMdlVirtualAddress(SourceMdl));
    PUCHAR first = static_cast<PUCHAR>(VirtualAddress);
    if (first < start || first + Length > start + SourceMdl->ByteCount)
        RecordFault("IoBuildPartialMdl outside its source MDL");
    TargetMdl->StartVa = VirtualAddress;
    TargetMdl->ByteOffset = 0;
    TargetMdl->ByteCount = Length;
    TargetMdl->MappedSystemVa = VirtualAddress;
}

VOID NTAPI IoFreeMdl(PMDL Mdl) {
    if (UntrackBlock(Mdl, "MDL")) delete Mdl;
}

}  // extern "C"
