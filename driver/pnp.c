// Plug and Play: the device-state machine.
#include "driver/ovpvrusb.h"

static NTSTATUS OvPassDown(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    IoSkipCurrentIrpStackLocation(Irp);
    return IoCallDriver(Extension->LowerDeviceObject, Irp);
}

static NTSTATUS OvHandleStartDevice(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    NTSTATUS status = OvForwardAndWait(Extension, Irp);
    if (NT_SUCCESS(status)) status = OvConfigureDevice(Extension);
    if (NT_SUCCESS(status)) {
        IoSetDeviceInterfaceState(&Extension->InterfaceName, TRUE);
        OvSetDeviceState(Extension, OvWorking);
        InterlockedExchange(&Extension->WaitWakeArmed, 0);
        InterlockedExchange(&Extension->WaitWakeCancelRace, 0);
        if (Extension->WakeCapable) OvArmWaitWake(Extension);
        if (Extension->WdmVersion == OvWinXpOrLater) {
            InterlockedExchange(&Extension->SelectiveSuspendRegistered,
                                Extension->SelectiveSuspendEnable);
            if (OvSelectiveSuspendRegistered(Extension)) OvStartIdleTimer(Extension);
        }
    }
    return OvCompleteRequest(Irp, status, 0);
}

// Query stop and query remove: hold off new work and wait until the running requests are done.
// The caller's reference is dropped first, so the stop event is set when the count reaches 1.
static NTSTATUS OvHandleQueryStopOrRemove(POV_DEVICE_EXTENSION Extension, PIRP Irp,
                                          OV_DEVICE_STATE PendingState) {
    OvSetDeviceState(Extension, PendingState);
    OvIoDecrement(Extension);
    KeWaitForSingleObject(&Extension->StopEvent, Executive, KernelMode, FALSE, NULL);
    Irp->IoStatus.Status = STATUS_SUCCESS;
    return OvPassDown(Extension, Irp);
}

static NTSTATUS OvHandleCancelStopOrRemove(POV_DEVICE_EXTENSION Extension, PIRP Irp,
                                           OV_DEVICE_STATE PendingState) {
    if (OvGetDeviceState(Extension) != PendingState) return OvPassDown(Extension, Irp);
    const NTSTATUS status = OvForwardAndWait(Extension, Irp);
    if (NT_SUCCESS(status)) OvRestorePreviousDeviceState(Extension);
    return OvCompleteRequest(Irp, status, 0);
}

static NTSTATUS OvHandleStopDevice(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    OvStopSelectiveSuspend(Extension);
    OvCancelWaitWake(Extension);
    OvSetDeviceState(Extension, OvStopped);
    OvFreeConfiguration(Extension);
    Irp->IoStatus.Status = OvDeconfigureDevice(Extension);
    return OvPassDown(Extension, Irp);
}

static VOID OvReleaseDeviceInterface(POV_DEVICE_EXTENSION Extension) {
    if (Extension->InterfaceName.Buffer == NULL) return;
    IoSetDeviceInterfaceState(&Extension->InterfaceName, FALSE);
    RtlFreeUnicodeString(&Extension->InterfaceName);
}

// Everything a departing device gives up while its object still exists.
static VOID OvReleaseDepartingDevice(POV_DEVICE_EXTENSION Extension) {
    OvCancelWaitWake(Extension);
    // The cancelled request's end still runs this driver's routines on the extension.
    KeWaitForSingleObject(&Extension->WaitWakeEndedEvent, Executive, KernelMode, FALSE, NULL);
    OvStopSelectiveSuspend(Extension);
    OvReleaseDeviceInterface(Extension);
    OvWmiDeregister(Extension);
    OvAbortOpenPipes(Extension);
}

static NTSTATUS OvHandleSurpriseRemoval(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    OvSetDeviceState(Extension, OvSurpriseRemoved);
    OvReleaseDepartingDevice(Extension);
    Irp->IoStatus.Status = STATUS_SUCCESS;
    return OvPassDown(Extension, Irp);
}

static NTSTATUS OvHandleRemoveDevice(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    if (OvGetDeviceState(Extension) != OvSurpriseRemoved) {
        // New requests are refused from here on; the clean-up below may wait for them.
        OvSetDeviceState(Extension, OvRemovePending);
        OvReleaseDepartingDevice(Extension);
    }
    OvSetDeviceState(Extension, OvRemoved);
    // This routine's reference and the initial one.
    OvIoDecrement(Extension);
    OvIoDecrement(Extension);
    KeWaitForSingleObject(&Extension->RemoveEvent, Executive, KernelMode, FALSE, NULL);
    OvFreeConfiguration(Extension);

    Irp->IoStatus.Status = STATUS_SUCCESS;
    const NTSTATUS status = OvPassDown(Extension, Irp);
    IoDetachDevice(Extension->LowerDeviceObject);
    IoDeleteDevice(Extension->FunctionalDeviceObject);
    return status;
}

NTSTATUS NTAPI OvDispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    if (OvGetDeviceState(extension) == OvRemoved)
        return OvCompleteRequest(Irp, STATUS_NO_SUCH_DEVICE, 0);

    OvIoIncrement(extension);
    const UCHAR minor = IoGetCurrentIrpStackLocation(Irp)->MinorFunction;
    if (minor != IRP_MN_START_DEVICE && OvSelectiveSuspendRegistered(extension))
        OvCancelSelectiveSuspend(extension);

    NTSTATUS status;
    switch (minor) {
        case IRP_MN_START_DEVICE:
            status = OvHandleStartDevice(extension, Irp);
            break;
        case IRP_MN_QUERY_STOP_DEVICE:
            // Drops this routine's reference itself.
            return OvHandleQueryStopOrRemove(extension, Irp, OvStopPending);
        case IRP_MN_QUERY_REMOVE_DEVICE:
            return OvHandleQueryStopOrRemove(extension, Irp, OvRemovePending);
        case IRP_MN_CANCEL_STOP_DEVICE:
            status = OvHandleCancelStopOrRemove(extension, Irp, OvStopPending);
            break;
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            status = OvHandleCancelStopOrRemove(extension, Irp, OvRemovePending);
            break;
        case IRP_MN_STOP_DEVICE:
            status = OvHandleStopDevice(extension, Irp);
            break;
        case IRP_MN_SURPRISE_REMOVAL:
            status = OvHandleSurpriseRemoval(extension, Irp);
            break;
        case IRP_MN_REMOVE_DEVICE:
            // Drops this routine's reference and the initial one; the extension is gone after.
            return OvHandleRemoveDevice(extension, Irp);
        case IRP_MN_QUERY_CAPABILITIES:
            status = OvHandleQueryCapabilities(extension, Irp);
            break;
        default:
            status = OvPassDown(extension, Irp);
            break;
    }
    OvIoDecrement(extension);
    return status;
}
