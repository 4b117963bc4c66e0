// Synchronous calls to the driver below: requests that must finish below first, and the USB
// stack's internal control codes.
#include "driver/ovpvrusb.h"

static IO_COMPLETION_ROUTINE OvSignalEventCompletion;

static NTSTATUS NTAPI OvSignalEventCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                              PVOID Context) {
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(Irp);
    KeSetEvent((PKEVENT)Context, IO_NO_INCREMENT, FALSE);
    // The request is ours again; the caller completes it.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS OvForwardAndWait(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, OvSignalEventCompletion, &event, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(Extension->LowerDeviceObject, Irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
        status = Irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS OvInternalIoctlSynchronously(POV_DEVICE_EXTENSION Extension, ULONG IoControlCode,
                                      PVOID Argument1) {
    KEVENT event;
    IO_STATUS_BLOCK ioStatus;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(IoControlCode, Extension->LowerDeviceObject, NULL, 0,
                                             NULL, 0, TRUE, &event, &ioStatus);
    if (irp == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = Argument1;

    OvIoIncrement(Extension);
    NTSTATUS status = IoCallDriver(Extension->LowerDeviceObject, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
        status = ioStatus.Status;
    }
    OvIoDecrement(Extension);
    return status;
}

NTSTATUS OvCallUsbSynchronously(POV_DEVICE_EXTENSION Extension, PURB Urb) {
    return OvInternalIoctlSynchronously(Extension, IOCTL_INTERNAL_USB_SUBMIT_URB, Urb);
}
