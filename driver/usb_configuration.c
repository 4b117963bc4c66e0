// Configuring the device at start: its descriptors, alternate setting 0 of every interface,
// and the first interface's pipes kept for the pipe handles. Deconfiguring at stop, and
// aborting the pipes in use at removal.
#include "driver/ovpvrusb.h"

// Reads a descriptor into Buffer; *Read receives the bytes the device sent.
static NTSTATUS OvReadDescriptor(POV_DEVICE_EXTENSION Extension, UCHAR Type, PVOID Buffer,
                                 ULONG Length, PULONG Read) {
    const USHORT urbSize = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    PURB urb = (PURB)ExAllocatePoolWithTag(NonPagedPoolNx, urbSize, OV_POOL_TAG);
    if (urb == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(urb, urbSize);
    UsbBuildGetDescriptorRequest(urb, urbSize, Type, 0, 0, Buffer, NULL, Length, NULL);
    const NTSTATUS status = OvCallUsbSynchronously(Extension, urb);
    *Read = NT_SUCCESS(status) ? urb->UrbControlDescriptorRequest.TransferBufferLength : 0;
    ExFreePoolWithTag(urb, OV_POOL_TAG);
    return status;
}

static NTSTATUS OvReadConfigurationDescriptor(POV_DEVICE_EXTENSION Extension) {
    USB_CONFIGURATION_DESCRIPTOR head;
    RtlZeroMemory(&head, sizeof(head));
    ULONG read = 0;
    NTSTATUS status =
        OvReadDescriptor(Extension, USB_CONFIGURATION_DESCRIPTOR_TYPE, &head, sizeof(head), &read);
    if (!NT_SUCCESS(status)) return status;
    if (read != sizeof(head) || head.wTotalLength < sizeof(head)) return STATUS_UNSUCCESSFUL;

    PUSB_CONFIGURATION_DESCRIPTOR whole = (PUSB_CONFIGURATION_DESCRIPTOR)ExAllocatePoolWithTag(
        NonPagedPoolNx, head.wTotalLength, OV_POOL_TAG);
    if (whole == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(whole, head.wTotalLength);
    status = OvReadDescriptor(Extension, USB_CONFIGURATION_DESCRIPTOR_TYPE, whole,
                              head.wTotalLength, &read);
    // The whole descriptor must be what its head announced: every later parse and the copy
    // to user mode go by its wTotalLength, which must therefore lie within this buffer and be
    // covered by bytes the device really sent.
    if (NT_SUCCESS(status) && (read != head.wTotalLength || whole->wTotalLength != read))
        status = STATUS_DEVICE_DATA_ERROR;
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(whole, OV_POOL_TAG);
        return status;
    }
    Extension->ConfigurationDescriptor = whole;
    Extension->WakeCapable = (whole->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) ? 1 : 0;
    return STATUS_SUCCESS;
}

// Keeps a copy of the first interface's information and one cleared open flag per pipe.
static NTSTATUS OvKeepFirstInterface(POV_DEVICE_EXTENSION Extension,
                                     PUSBD_INTERFACE_INFORMATION Interface) {
    Extension->Interface = (PUSBD_INTERFACE_INFORMATION)ExAllocatePoolWithTag(
        NonPagedPoolNx, Interface->Length, OV_POOL_TAG);
    if (Extension->Interface == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(Extension->Interface, Interface, Interface->Length);
    Extension->InterfaceGeneration++;
    if (Interface->NumberOfPipes == 0) return STATUS_SUCCESS;
    Extension->PipeOpenFlags =
        (PUCHAR)ExAllocatePoolWithTag(NonPagedPoolNx, Interface->NumberOfPipes, OV_POOL_TAG);
    if (Extension->PipeOpenFlags == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(Extension->PipeOpenFlags, Interface->NumberOfPipes);
    return STATUS_SUCCESS;
}

static NTSTATUS OvSelectInterfaces(POV_DEVICE_EXTENSION Extension) {
    PUSB_CONFIGURATION_DESCRIPTOR configuration = Extension->ConfigurationDescriptor;
    const ULONG interfaceCount = configuration->bNumInterfaces;
    if (interfaceCount == 0) return STATUS_UNSUCCESSFUL;

    // The list ends with an empty entry.
    const SIZE_T listSize = sizeof(USBD_INTERFACE_LIST_ENTRY) * (interfaceCount + 1);
    PUSBD_INTERFACE_LIST_ENTRY list =
        (PUSBD_INTERFACE_LIST_ENTRY)ExAllocatePoolWithTag(NonPagedPoolNx, listSize, OV_POOL_TAG);
    if (list == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(list, listSize);

    ULONG found = 0;
    for (ULONG number = 0; number < interfaceCount; number++) {
        PUSB_INTERFACE_DESCRIPTOR descriptor = USBD_ParseConfigurationDescriptorEx(
            configuration, configuration, (LONG)number, 0, -1, -1, -1);
        if (descriptor != NULL) list[found++].InterfaceDescriptor = descriptor;
    }
    if (found == 0) {
        ExFreePoolWithTag(list, OV_POOL_TAG);
        return STATUS_UNSUCCESSFUL;
    }

    PURB urb = USBD_CreateConfigurationRequestEx(configuration, list);
    if (urb == NULL) {
        ExFreePoolWithTag(list, OV_POOL_TAG);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (ULONG i = 0; i < found; i++) {
        PUSBD_INTERFACE_INFORMATION interface = list[i].Interface;
        for (ULONG pipe = 0; pipe < list[i].InterfaceDescriptor->bNumEndpoints; pipe++) {
            interface->Pipes[pipe].MaximumTransferSize = OV_PIPE_MAX_TRANSFER_SIZE;
            interface->Pipes[pipe].PipeFlags = 0;
        }
    }

    NTSTATUS status = OvCallUsbSynchronously(Extension, urb);
    if (NT_SUCCESS(status)) status = OvKeepFirstInterface(Extension, list[0].Interface);
    ExFreePool(urb);
    ExFreePoolWithTag(list, OV_POOL_TAG);
    return status;
}

NTSTATUS OvConfigureDevice(POV_DEVICE_EXTENSION Extension) {
    USB_DEVICE_DESCRIPTOR device;
    RtlZeroMemory(&device, sizeof(device));
    ULONG read = 0;
    NTSTATUS status =
        OvReadDescriptor(Extension, USB_DEVICE_DESCRIPTOR_TYPE, &device, sizeof(device), &read);
    if (NT_SUCCESS(status)) status = OvReadConfigurationDescriptor(Extension);
    if (NT_SUCCESS(status)) status = OvSelectInterfaces(Extension);
    // A device that could not be configured keeps nothing of it.
    if (!NT_SUCCESS(status)) OvFreeConfiguration(Extension);
    return status;
}

VOID OvFreeConfiguration(POV_DEVICE_EXTENSION Extension) {
    if (Extension->ConfigurationDescriptor != NULL) {
        ExFreePoolWithTag(Extension->ConfigurationDescriptor, OV_POOL_TAG);
        Extension->ConfigurationDescriptor = NULL;
    }
    if (Extension->Interface != NULL) {
        ExFreePoolWithTag(Extension->Interface, OV_POOL_TAG);
        Extension->Interface = NULL;
    }
    if (Extension->PipeOpenFlags != NULL) {
        ExFreePoolWithTag(Extension->PipeOpenFlags, OV_POOL_TAG);
        Extension->PipeOpenFlags = NULL;
    }
}

NTSTATUS OvDeconfigureDevice(POV_DEVICE_EXTENSION Extension) {
    const USHORT urbSize = sizeof(struct _URB_SELECT_CONFIGURATION);
    PURB urb = (PURB)ExAllocatePoolWithTag(NonPagedPoolNx, urbSize, OV_POOL_TAG);
    if (urb == NULL) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(urb, urbSize);
    UsbBuildSelectConfigurationRequest(urb, urbSize, NULL);
    const NTSTATUS status = OvCallUsbSynchronously(Extension, urb);
    ExFreePoolWithTag(urb, OV_POOL_TAG);
    return status;
}

VOID OvAbortOpenPipes(POV_DEVICE_EXTENSION Extension) {
    if (Extension->Interface == NULL || Extension->PipeOpenFlags == NULL) return;
    for (ULONG i = 0; i < Extension->Interface->NumberOfPipes; i++) {
        if (!Extension->PipeOpenFlags[i]) continue;
        const USHORT urbSize = sizeof(struct _URB_PIPE_REQUEST);
        PURB urb = (PURB)ExAllocatePoolWithTag(NonPagedPoolNx, urbSize, OV_POOL_TAG);
        if (urb == NULL) return;
        RtlZeroMemory(urb, urbSize);
        urb->UrbHeader.Length = urbSize;
        urb->UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
        urb->UrbPipeRequest.PipeHandle = Extension->Interface->Pipes[i].PipeHandle;
        const NTSTATUS status = OvCallUsbSynchronously(Extension, urb);
        ExFreePoolWithTag(urb, OV_POOL_TAG);
        if (NT_SUCCESS(status)) Extension->PipeOpenFlags[i] = 0;
    }
}
