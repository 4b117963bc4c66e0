// The control codes: the configuration descriptor, reset device and reset pipe.
#include "driver/ovpvrusb.h"

NTSTATUS OvResetPipe(POV_DEVICE_EXTENSION Extension, PUSBD_PIPE_INFORMATION Pipe) {
    const USHORT urbSize = sizeof(struct _URB_PIPE_REQUEST);
    PURB urb = (PURB)ExAllocatePoolWithTag(NonPagedPoolNx, urbSize, OV_POOL_TAG);
    if (urb == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(urb, urbSize);
    urb->UrbHeader.Length = urbSize;
    urb->UrbHeader.Function = URB_FUNCTION_RESET_PIPE;
    urb->UrbPipeRequest.PipeHandle = Pipe->PipeHandle;
    const NTSTATUS status = OvCallUsbSynchronously(Extension, urb);
    ExFreePoolWithTag(urb, OV_POOL_TAG);
    return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
}

// Resets the port only when it is connected but has been disabled; a healthy port is left
// alone.
NTSTATUS OvResetDevice(POV_DEVICE_EXTENSION Extension) {
    ULONG portStatus = 0;
    const NTSTATUS status =
        OvInternalIoctlSynchronously(Extension, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &portStatus);
    if (!NT_SUCCESS(status)) return status;
    if ((portStatus & USBD_PORT_CONNECTED) && !(portStatus & USBD_PORT_ENABLED))
        return OvInternalIoctlSynchronously(Extension, IOCTL_INTERNAL_USB_RESET_PORT, NULL);
    return status;
}

static NTSTATUS OvGetConfig(POV_DEVICE_EXTENSION Extension, PIRP Irp, ULONG_PTR* Information) {
    PUSB_CONFIGURATION_DESCRIPTOR descriptor = Extension->ConfigurationDescriptor;
    if (descriptor == NULL) return STATUS_UNSUCCESSFUL;
    const ULONG outputLength =
        IoGetCurrentIrpStackLocation(Irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (outputLength < descriptor->wTotalLength) return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(Irp->AssociatedIrp.SystemBuffer, descriptor, descriptor->wTotalLength);
    *Information = descriptor->wTotalLength;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI OvDispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    // The reference before the state check, as for reads and writes.
    OvIoIncrement(extension);
    if (OvGetDeviceState(extension) != OvWorking) {
        const NTSTATUS refused = OvCompleteRequest(Irp, STATUS_INVALID_DEVICE_STATE, 0);
        OvIoDecrement(extension);
        return refused;
    }
    if (OvSelectiveSuspendRegistered(extension)) OvWaitUntilNoIdleRequest(extension);

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ULONG_PTR information = 0;
    NTSTATUS status;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_PVR_GET_CONFIG:
            status = OvGetConfig(extension, Irp, &information);
            break;
        case IOCTL_PVR_RESET_DEVICE:
            status = OvResetDevice(extension);
            break;
        case IOCTL_PVR_RESET_PIPE: {
            PUSBD_PIPE_INFORMATION pipe = OvPipeOfFile(extension, stack->FileObject);
            status = pipe == NULL ? STATUS_INVALID_PARAMETER : OvResetPipe(extension, pipe);
            break;
        }
        default:
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
    }
    OvCompleteRequest(Irp, status, information);
    OvIoDecrement(extension);
    return status;
}
