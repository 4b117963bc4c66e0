// The I/O reference count, the device state and request completion.
#include "driver/ovpvrusb.h"

LONG OvIoIncrement(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IoCountLock, &irql);
    const LONG count = ++Extension->IoCount;
    if (count == 2) KeClearEvent(&Extension->StopEvent);
    KeReleaseSpinLock(&Extension->IoCountLock, irql);
    return count;
}

LONG OvIoDecrement(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IoCountLock, &irql);
    const LONG count = --Extension->IoCount;
    if (count == 1) KeSetEvent(&Extension->StopEvent, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&Extension->IoCountLock, irql);
    // The last touch of the extension: the remove waiting for this may free it at once, so
    // the lock inside it must have been let go of first.
    if (count == 0) KeSetEvent(&Extension->RemoveEvent, IO_NO_INCREMENT, FALSE);
    return count;
}

LONG OvIoCount(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->IoCountLock, &irql);
    const LONG count = Extension->IoCount;
    KeReleaseSpinLock(&Extension->IoCountLock, irql);
    return count;
}

OV_DEVICE_STATE OvGetDeviceState(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->DeviceStateLock, &irql);
    const OV_DEVICE_STATE state = Extension->DeviceState;
    KeReleaseSpinLock(&Extension->DeviceStateLock, irql);
    return state;
}

VOID OvSetDeviceState(POV_DEVICE_EXTENSION Extension, OV_DEVICE_STATE State) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->DeviceStateLock, &irql);
    Extension->PreviousDeviceState = Extension->DeviceState;
    Extension->DeviceState = State;
    KeReleaseSpinLock(&Extension->DeviceStateLock, irql);
}

VOID OvRestorePreviousDeviceState(POV_DEVICE_EXTENSION Extension) {
    KIRQL irql;
    KeAcquireSpinLock(&Extension->DeviceStateLock, &irql);
    Extension->DeviceState = Extension->PreviousDeviceState;
    KeReleaseSpinLock(&Extension->DeviceStateLock, irql);
}

NTSTATUS OvCompleteRequest(PIRP Irp, NTSTATUS Status, ULONG_PTR Information) {
    Irp->IoStatus.Status = Status;
    Irp->IoStatus.Information = Information;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return Status;
}
