// Wait-wake: at most one request armed at a time. Its completion and its cancellation may run
// at once; whichever of the two comes second finishes the request.
#include "driver/ovpvrusb.h"

static REQUEST_POWER_COMPLETE OvWaitWakeDone;
static IO_COMPLETION_ROUTINE OvWaitWakeCompletion;

static VOID NTAPI OvWaitWakeDone(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                 POWER_STATE PowerState, PVOID Context, PIO_STATUS_BLOCK IoStatus) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(MinorFunction);
    UNREFERENCED_PARAMETER(PowerState);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    InterlockedExchange(&extension->WaitWakeArmed, 0);
    // A cancelled or failed request stays disarmed: stop, removal and a sleep too deep to
    // wake from cancel it on purpose.
    if (NT_SUCCESS(IoStatus->Status)) {
        if (extension->DevicePower != PowerDeviceD0) OvRequestDevicePower(extension, PowerDeviceD0);
        // The new request's end sets the event.
        if (extension->WakeCapable && OvGetDeviceState(extension) == OvWorking &&
            NT_SUCCESS(OvArmWaitWake(extension)))
            return;
    }
    // The last touch of the extension: remove may free it once this is set.
    KeSetEvent(&extension->WaitWakeEndedEvent, IO_NO_INCREMENT, FALSE);
}

NTSTATUS OvArmWaitWake(POV_DEVICE_EXTENSION Extension) {
    if (InterlockedExchange(&Extension->WaitWakeArmed, 1) == 1) return STATUS_DEVICE_BUSY;
    InterlockedExchange(&Extension->WaitWakeCancelRace, 0);
    KeClearEvent(&Extension->WaitWakeEndedEvent);
    POWER_STATE state;
    state.SystemState = Extension->DeviceCapabilities.SystemWake;
    const NTSTATUS status = PoRequestPowerIrp(Extension->PhysicalDeviceObject, IRP_MN_WAIT_WAKE,
                                              state, OvWaitWakeDone, Extension, NULL);
    if (!NT_SUCCESS(status)) {
        InterlockedExchange(&Extension->WaitWakeArmed, 0);
        KeSetEvent(&Extension->WaitWakeEndedEvent, IO_NO_INCREMENT, FALSE);
    }
    return status;
}

static NTSTATUS NTAPI OvWaitWakeCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    // Nobody is cancelling: let the request complete.
    if (InterlockedExchangePointer((PVOID*)&extension->WaitWakeIrp, NULL) != NULL)
        return Irp->IoStatus.Status;
    // A canceller took it. If it is done with it, finish here; otherwise it finishes.
    if (InterlockedExchange(&extension->WaitWakeCancelRace, 1) == 1) return Irp->IoStatus.Status;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS OvDispatchWaitWake(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    InterlockedExchangePointer((PVOID*)&Extension->WaitWakeIrp, Irp);
    IoMarkIrpPending(Irp);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, OvWaitWakeCompletion, Extension, TRUE, TRUE, TRUE);
    PoStartNextPowerIrp(Irp);
    PoCallDriver(Extension->LowerDeviceObject, Irp);
    return STATUS_PENDING;
}

VOID OvCancelWaitWake(POV_DEVICE_EXTENSION Extension) {
    PIRP irp = (PIRP)InterlockedExchangePointer((PVOID*)&Extension->WaitWakeIrp, NULL);
    if (irp == NULL) return;
    IoCancelIrp(irp);
    if (InterlockedExchange(&Extension->WaitWakeCancelRace, 1) == 1) {
        // The completion routine ran first and left the request to this routine.
        OvCompleteRequest(irp, STATUS_CANCELLED, 0);
    }
}
