// Power requests: system states are passed down and turned into the device states the
// capabilities map them to; device states are followed, and a device going down from D0 first
// lets its running requests finish.
#include "driver/ovpvrusb.h"

static IO_COMPLETION_ROUTINE OvSystemPowerCompletion;
static IO_COMPLETION_ROUTINE OvDevicePowerCompletion;
static REQUEST_POWER_COMPLETE OvDevicePowerForSystemDone;
static REQUEST_POWER_COMPLETE OvDevicePowerRequestDone;
static IO_WORKITEM_ROUTINE OvPassDownAfterIo;

static NTSTATUS OvPassPowerDown(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    PoStartNextPowerIrp(Irp);
    IoSkipCurrentIrpStackLocation(Irp);
    return PoCallDriver(Extension->LowerDeviceObject, Irp);
}

static VOID NTAPI OvDevicePowerRequestDone(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                           POWER_STATE PowerState, PVOID Context,
                                           PIO_STATUS_BLOCK IoStatus) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(MinorFunction);
    UNREFERENCED_PARAMETER(PowerState);
    UNREFERENCED_PARAMETER(IoStatus);
    OvIoDecrement((POV_DEVICE_EXTENSION)Context);
}

// Asks the power manager for a device set-power request; the reference held meanwhile keeps
// remove from finishing under it.
NTSTATUS OvRequestDevicePower(POV_DEVICE_EXTENSION Extension, DEVICE_POWER_STATE State) {
    POWER_STATE state;
    state.DeviceState = State;
    OvIoIncrement(Extension);
    const NTSTATUS status = PoRequestPowerIrp(Extension->PhysicalDeviceObject, IRP_MN_SET_POWER,
                                              state, OvDevicePowerRequestDone, Extension, NULL);
    if (!NT_SUCCESS(status)) OvIoDecrement(Extension);
    return status;
}

// ---- System power ----

static VOID NTAPI OvDevicePowerForSystemDone(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                             POWER_STATE PowerState, PVOID Context,
                                             PIO_STATUS_BLOCK IoStatus) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(MinorFunction);
    UNREFERENCED_PARAMETER(PowerState);
    PIRP systemIrp = (PIRP)Context;
    systemIrp->IoStatus.Status = IoStatus->Status;
    PoStartNextPowerIrp(systemIrp);
    IoCompleteRequest(systemIrp, IO_NO_INCREMENT);
}

static NTSTATUS NTAPI OvSystemPowerCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                              PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    NTSTATUS status = Irp->IoStatus.Status;
    if (!NT_SUCCESS(status)) {
        PoStartNextPowerIrp(Irp);
        return status;
    }
    const SYSTEM_POWER_STATE system = stack->Parameters.Power.State.SystemState;
    if (stack->MinorFunction == IRP_MN_SET_POWER) extension->SystemPower = system;

    POWER_STATE device;
    device.DeviceState = extension->DeviceCapabilities.DeviceState[system];
    status = PoRequestPowerIrp(extension->PhysicalDeviceObject, stack->MinorFunction, device,
                               OvDevicePowerForSystemDone, Irp, NULL);
    if (!NT_SUCCESS(status)) {
        Irp->IoStatus.Status = status;
        PoStartNextPowerIrp(Irp);
        return status;
    }
    // Completed by OvDevicePowerForSystemDone with the device request's status.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS OvHandleSystemPower(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    const SYSTEM_POWER_STATE system = stack->Parameters.Power.State.SystemState;
    if (stack->MinorFunction == IRP_MN_QUERY_POWER && Extension->WakeCapable &&
        system > Extension->SystemPower) {
        // A sleep the device cannot wake the system from disarms it; one it can, arms it.
        if (system > Extension->DeviceCapabilities.SystemWake)
            OvCancelWaitWake(Extension);
        else if (!Extension->WaitWakeArmed)
            OvArmWaitWake(Extension);
    }
    IoMarkIrpPending(Irp);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, OvSystemPowerCompletion, Extension, TRUE, TRUE, TRUE);
    PoCallDriver(Extension->LowerDeviceObject, Irp);
    return STATUS_PENDING;
}

// ---- Device power ----

static NTSTATUS NTAPI OvDevicePowerCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                              PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)Context;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    if (stack->MinorFunction == IRP_MN_SET_POWER && NT_SUCCESS(Irp->IoStatus.Status)) {
        extension->DevicePower = stack->Parameters.Power.State.DeviceState;
        PoSetPowerState(extension->FunctionalDeviceObject, DevicePowerState,
                        stack->Parameters.Power.State);
    }
    PoStartNextPowerIrp(Irp);
    return Irp->IoStatus.Status;
}

static VOID OvSendDevicePowerDown(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, OvDevicePowerCompletion, Extension, TRUE, TRUE, TRUE);
    PoCallDriver(Extension->LowerDeviceObject, Irp);
}

// Runs at passive level: waits until no request but this one's own is being worked on. The
// dispatch routine's reference is gone by then, so the count falls to the initial 1.
static VOID NTAPI OvPassDownAfterIo(PDEVICE_OBJECT DeviceObject, PVOID Context) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    PIRP irp = (PIRP)Context;
    PIO_WORKITEM item = (PIO_WORKITEM)irp->Tail.Overlay.DriverContext[0];
    KeWaitForSingleObject(&extension->StopEvent, Executive, KernelMode, FALSE, NULL);
    OvSendDevicePowerDown(extension, irp);
    IoFreeWorkItem(item);
}

static NTSTATUS OvPassDownWhenIoDone(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    IoMarkIrpPending(Irp);
    PIO_WORKITEM item = IoAllocateWorkItem(Extension->FunctionalDeviceObject);
    if (item == NULL) {
        PoStartNextPowerIrp(Irp);
        OvCompleteRequest(Irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return STATUS_PENDING;
    }
    // The request is this driver's until it is passed down.
    Irp->Tail.Overlay.DriverContext[0] = item;
    IoQueueWorkItem(item, OvPassDownAfterIo, DelayedWorkQueue, Irp);
    return STATUS_PENDING;
}

static NTSTATUS OvHandleDevicePower(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    const DEVICE_POWER_STATE requested = stack->Parameters.Power.State.DeviceState;
    const DEVICE_POWER_STATE current = Extension->DevicePower;

    if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
        if (requested >= current) return OvPassDownWhenIoDone(Extension, Irp);
        return OvPassPowerDown(Extension, Irp);
    }
    if (requested == current) return OvPassPowerDown(Extension, Irp);
    if (requested > current && current == PowerDeviceD0)
        return OvPassDownWhenIoDone(Extension, Irp);
    IoMarkIrpPending(Irp);
    OvSendDevicePowerDown(Extension, Irp);
    return STATUS_PENDING;
}

NTSTATUS NTAPI OvDispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    const OV_DEVICE_STATE state = OvGetDeviceState(extension);
    if (state == OvRemoved) {
        PoStartNextPowerIrp(Irp);
        return OvCompleteRequest(Irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    if (state == OvNotStarted) return OvPassPowerDown(extension, Irp);

    OvIoIncrement(extension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
        case IRP_MN_WAIT_WAKE:
            status = OvDispatchWaitWake(extension, Irp);
            break;
        case IRP_MN_SET_POWER:
        case IRP_MN_QUERY_POWER:
            if (stack->Parameters.Power.Type == SystemPowerState)
                status = OvHandleSystemPower(extension, Irp);
            else
                status = OvHandleDevicePower(extension, Irp);
            break;
        default:
            status = OvPassPowerDown(extension, Irp);
            break;
    }
    OvIoDecrement(extension);
    return status;
}
