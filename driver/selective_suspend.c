// Selective suspend: a periodic timer looks for an idle device (no handle open, no request
// being worked on) and submits an idle request to the USB stack, whose callback powers the
// device down to its idle state. Any new handle or Plug and Play request cancels it.
//
// The idle request ends in two shares, counted by the free count: its completion's and its
// canceller's (given up by the completion when no canceller took it). When the completion
// asks for D0, the D0 request's end takes over the completion's share, so that nobody waiting
// for the idle request goes on while the device is still suspended. The last share to end
// frees the request and lets the waiters go.
#include "driver/ovpvrusb.h"

static KDEFERRED_ROUTINE OvIdleDpc;
static IO_WORKITEM_ROUTINE OvIdleWorkItem;
static IO_COMPLETION_ROUTINE OvIdleRequestCompletion;
static REQUEST_POWER_COMPLETE OvIdlePowerDone;
static REQUEST_POWER_COMPLETE OvIdleWakeDone;
static VOID OvIdleCallback(PVOID Context);

static ULONG OvReadSelectiveSuspendEnable(void) {
    ULONG value = 0;
    ULONG absent = 0;
    RTL_QUERY_REGISTRY_TABLE table[2];
    RtlZeroMemory(table, sizeof(table));  // the second entry ends the table
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = L"BulkUsbEnable";
    table[0].EntryContext = &value;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &absent;
    table[0].DefaultLength = sizeof(absent);
    const NTSTATUS status = RtlQueryRegistryValues(
        RTL_REGISTRY_ABSOLUTE,
        L"\\REGISTRY\\Machine\\System\\CurrentControlSet\\SERVICES\\OvPvrUSB\\Parameters", table,
        NULL, NULL);
    return NT_SUCCESS(status) ? value : 0;
}

VOID OvInitializeSelectiveSuspend(POV_DEVICE_EXTENSION Extension) {
    Extension->SelectiveSuspendEnable = OvReadSelectiveSuspendEnable() != 0;
    if (!Extension->SelectiveSuspendEnable) return;
    KeInitializeTimerEx(&Extension->IdleTimer, NotificationTimer);
    KeInitializeDpc(&Extension->IdleDpc, OvIdleDpc, Extension);
    KeInitializeEvent(&Extension->NoDpcWorkPendingEvent, NotificationEvent, TRUE);
    KeInitializeEvent(&Extension->NoIdleRequestPendingEvent, NotificationEvent, TRUE);
}

VOID OvStartIdleTimer(POV_DEVICE_EXTENSION Extension) {
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = OV_IDLE_TIMER_DUE_TIME;
    KeSetTimerEx(&Extension->IdleTimer, dueTime, OV_IDLE_TIMER_PERIOD_MS, &Extension->IdleDpc);
}

static BOOLEAN OvDeviceIsIdle(POV_DEVICE_EXTENSION Extension) {
    // Read as they are written, since creates, closes and requests change them on other
    // processors.
    return InterlockedCompareExchange(&Extension->OpenHandleCount, 0, 0) == 0 &&
           OvIoCount(Extension) == 1;
}

static BOOLEAN OvReadyToSuspend(POV_DEVICE_EXTENSION Extension) {
    return OvSelectiveSuspendRegistered(Extension) && OvDeviceIsIdle(Extension);
}

VOID OvStopSelectiveSuspend(POV_DEVICE_EXTENSION Extension) {
    if (Extension->WdmVersion != OvWinXpOrLater || !OvSelectiveSuspendRegistered(Extension)) return;
    // Cleared under the lock the idle request's completion re-arms the timer under: after
    // this, no completion sets the timer again, and one that did before is cancelled below.
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    InterlockedExchange(&Extension->SelectiveSuspendRegistered, 0);
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);
    KeCancelTimer(&Extension->IdleTimer);
    // A timer that expired just now has its DPC queued: it must have run, and cleared the
    // event below if it has work, before the event says anything.
    KeFlushQueuedDpcs();
    KeWaitForSingleObject(&Extension->NoDpcWorkPendingEvent, Executive, KernelMode, FALSE, NULL);
    KeWaitForSingleObject(&Extension->NoIdleRequestPendingEvent, Executive, KernelMode, FALSE,
                          NULL);
    KeCancelTimer(&Extension->IdleTimer);
}

VOID OvWaitUntilNoIdleRequest(POV_DEVICE_EXTENSION Extension) {
    KeWaitForSingleObject(&Extension->NoIdleRequestPendingEvent, Executive, KernelMode, FALSE,
                          NULL);
}

static VOID NTAPI OvIdleDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                            PVOID SystemArgument2) {
    UNREFERENCED_PARAMETER(Dpc);
    UNREFERENCED_PARAMETER(SystemArgument1);
    UNREFERENCED_PARAMETER(SystemArgument2);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeferredContext;
    KeClearEvent(&extension->NoDpcWorkPendingEvent);
    if (OvReadyToSuspend(extension)) {
        // Submitting the idle request allocates and may wait: a work item does it.
        PIO_WORKITEM item = IoAllocateWorkItem(extension->FunctionalDeviceObject);
        if (item != NULL) {
            IoQueueWorkItem(item, OvIdleWorkItem, DelayedWorkQueue, item);
            return;
        }
    }
    KeSetEvent(&extension->NoDpcWorkPendingEvent, IO_NO_INCREMENT, FALSE);
}

static VOID NTAPI OvIdleWorkItem(PDEVICE_OBJECT DeviceObject, PVOID Context) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    if (OvReadyToSuspend(extension)) OvSubmitIdleRequest(extension);
    IoFreeWorkItem((PIO_WORKITEM)Context);
    KeSetEvent(&extension->NoDpcWorkPendingEvent, IO_NO_INCREMENT, FALSE);
}

// Ends the idle-request bookkeeping when no request reached the USB stack. The flag and the
// event change together under the lock: set after it, the event could let readers past a new
// request that another work item started in between.
static VOID OvAbandonIdleRequest(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    Extension->IdleRequestPending = 0;
    KeSetEvent(&Extension->NoIdleRequestPendingEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);
}

NTSTATUS OvSubmitIdleRequest(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    if (Extension->DevicePower != PowerDeviceD0) {
        KeReleaseSpinLock(&Extension->IdleStateLock, irql);
        return STATUS_POWER_STATE_INVALID;
    }
    if (Extension->IdleRequestPending) {
        KeReleaseSpinLock(&Extension->IdleStateLock, irql);
        return STATUS_DEVICE_BUSY;
    }
    Extension->IdleRequestPending = 1;
    KeClearEvent(&Extension->NoIdleRequestPendingEvent);
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);

    PUSB_IDLE_CALLBACK_INFO info = (PUSB_IDLE_CALLBACK_INFO)ExAllocatePoolWithTag(
        NonPagedPoolNx, sizeof(USB_IDLE_CALLBACK_INFO), OV_POOL_TAG);
    PIRP irp = IoAllocateIrp(Extension->LowerDeviceObject->StackSize, FALSE);
    if (info == NULL || irp == NULL) {
        if (info != NULL) ExFreePoolWithTag(info, OV_POOL_TAG);
        if (irp != NULL) IoFreeIrp(irp);
        OvAbandonIdleRequest(Extension);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    info->IdleCallback = OvIdleCallback;
    info->IdleContext = Extension;

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION;
    next->Parameters.DeviceIoControl.Type3InputBuffer = info;
    next->Parameters.DeviceIoControl.InputBufferLength = sizeof(USB_IDLE_CALLBACK_INFO);
    IoSetCompletionRoutine(irp, OvIdleRequestCompletion, Extension, TRUE, TRUE, TRUE);
    InterlockedExchange(&Extension->IdleIrpFreeCount, 2);

    // Recorded and checked under one lock, so a handle opened after the check finds the
    // request and cancels it.
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    if (!OvDeviceIsIdle(Extension) || Extension->DevicePower != PowerDeviceD0) {
        KeReleaseSpinLock(&Extension->IdleStateLock, irql);
        ExFreePoolWithTag(info, OV_POOL_TAG);
        IoFreeIrp(irp);
        OvAbandonIdleRequest(Extension);
        return STATUS_UNSUCCESSFUL;
    }
    Extension->IdleCallbackInfo = info;
    Extension->PendingIdleIrp = irp;
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);

    KeCancelTimer(&Extension->IdleTimer);
    return IoCallDriver(Extension->LowerDeviceObject, irp);
}

static VOID NTAPI OvIdlePowerDone(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                  POWER_STATE PowerState, PVOID Context,
                                  PIO_STATUS_BLOCK IoStatus) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(MinorFunction);
    UNREFERENCED_PARAMETER(PowerState);
    UNREFERENCED_PARAMETER(IoStatus);
    KeSetEvent((PKEVENT)Context, IO_NO_INCREMENT, FALSE);
}

// Called by the USB stack when it is ready to suspend the device.
static VOID OvIdleCallback(PVOID Context) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    if (OvGetDeviceState(extension) != OvWorking) return;
    if (extension->WakeCapable) OvArmWaitWake(extension);

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    POWER_STATE state;
    state.DeviceState = extension->IdleDevicePower;
    // The reference covers the request being made, not the wait: powering down waits for the
    // count to fall to the initial reference.
    OvIoIncrement(extension);
    const NTSTATUS status = PoRequestPowerIrp(extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                              state, OvIdlePowerDone, &done, NULL);
    OvIoDecrement(extension);
    if (NT_SUCCESS(status)) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
}

// Ends one share of the idle request; the last frees it and lets the waiters go. The pending
// flag is cleared with the event set, under the lock a new idle request is recorded under, so
// a new request cannot clear the event before this sets it. The caller holds an I/O
// reference (or the device is not being removed), since the lock is let go of afterwards.
static VOID OvEndIdleRequestShare(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    if (InterlockedDecrement(&Extension->IdleIrpFreeCount) != 0) return;
    IoFreeIrp(Irp);
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    Extension->IdleRequestPending = 0;
    KeSetEvent(&Extension->NoIdleRequestPendingEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);
}

// The D0 request asked for at the idle request's end has ended, whether or not the device
// reached D0: the completion's share ends here.
static VOID NTAPI OvIdleWakeDone(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                 POWER_STATE PowerState, PVOID Context, PIO_STATUS_BLOCK IoStatus) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(MinorFunction);
    UNREFERENCED_PARAMETER(PowerState);
    UNREFERENCED_PARAMETER(IoStatus);
    PIRP irp = (PIRP)Context;
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)irp->Tail.Overlay.DriverContext[0];
    OvEndIdleRequestShare(extension, irp);
    // The last touch of the extension: the reference kept remove from finishing meanwhile.
    OvIoDecrement(extension);
}

// Asks for D0 with the ended idle request as the D0 request's context; false when the request
// could not be made.
static BOOLEAN OvWakeFromIdle(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    // The idle request is this driver's again since its completion routine kept it.
    Irp->Tail.Overlay.DriverContext[0] = Extension;
    POWER_STATE state;
    state.DeviceState = PowerDeviceD0;
    OvIoIncrement(Extension);
    const NTSTATUS status = PoRequestPowerIrp(Extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                              state, OvIdleWakeDone, Irp, NULL);
    if (NT_SUCCESS(status)) return TRUE;
    OvIoDecrement(Extension);
    return FALSE;
}

static NTSTATUS NTAPI OvIdleRequestCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                              PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    // Held while this routine touches the extension: its last share may let a remove go on.
    OvIoIncrement(extension);
    const NTSTATUS status = Irp->IoStatus.Status;
    const BOOLEAN wake = !NT_SUCCESS(status) && status != STATUS_NOT_SUPPORTED &&
                         status != STATUS_POWER_STATE_INVALID &&
                         extension->DevicePower != PowerDeviceD0;

    KIRQL irql;
    KeAcquireSpinLock(&extension->IdleStateLock, &irql);
    PUSB_IDLE_CALLBACK_INFO info = extension->IdleCallbackInfo;
    extension->IdleCallbackInfo = NULL;
    const BOOLEAN untaken = extension->PendingIdleIrp == Irp;
    if (untaken) extension->PendingIdleIrp = NULL;
    // Under the lock, so that a stop either sees the timer set and cancels it or has cleared
    // the registration before this looks.
    if (OvSelectiveSuspendRegistered(extension)) OvStartIdleTimer(extension);
    KeReleaseSpinLock(&extension->IdleStateLock, irql);

    if (info != NULL) ExFreePoolWithTag(info, OV_POOL_TAG);
    // No canceller comes for a request nobody took.
    if (untaken) OvEndIdleRequestShare(extension, Irp);
    // A device that cannot be woken stays suspended, but nobody may wait for it for ever.
    if (!wake || !OvWakeFromIdle(extension, Irp)) OvEndIdleRequestShare(extension, Irp);
    OvIoDecrement(extension);
    // The request was allocated here and is freed by the last share.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

VOID OvCancelSelectiveSuspend(POV_DEVICE_EXTENSION Extension) {
    if (OvDeviceIsIdle(Extension)) return;
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IdleStateLock, &irql);
    PIRP irp = Extension->PendingIdleIrp;
    Extension->PendingIdleIrp = NULL;
    KeReleaseSpinLock(&Extension->IdleStateLock, irql);
    if (irp == NULL) return;

    IoCancelIrp(irp);
    OvEndIdleRequestShare(Extension, irp);
}
