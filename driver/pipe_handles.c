// Create, close and cleanup: device handles and pipe handles opened by name.
#include "driver/ovpvrusb.h"

#define OV_NO_PIPE_NUMBER (-1)

// The number formed by the last run of decimal digits in the name ("\PIPE01" is 1), or
// OV_NO_PIPE_NUMBER without digits. Values above the largest pipe number are held at
// OV_MAX_PIPE_NUMBER + 1, so that a long run of digits cannot overflow.
LONG OvParsePipeNumber(PCUNICODE_STRING Name) {
    LONG index = (LONG)(Name->Length / sizeof(WCHAR)) - 1;
    while (index >= 0 && (Name->Buffer[index] < L'0' || Name->Buffer[index] > L'9')) index--;
    if (index < 0) return OV_NO_PIPE_NUMBER;

    // Read backwards from the least significant digit. Any nonzero digit beyond the units
    // makes a number above OV_MAX_PIPE_NUMBER, so the weight need not grow past 10.
    LONG value = 0;
    LONG weight = 1;
    for (; index >= 0 && Name->Buffer[index] >= L'0' && Name->Buffer[index] <= L'9'; index--) {
        const LONG digit = Name->Buffer[index] - L'0';
        if (digit != 0) {
            if (weight > (LONG)OV_MAX_PIPE_NUMBER) return OV_MAX_PIPE_NUMBER + 1;
            value += digit * weight;
        }
        if (weight == 1) weight = 10;
    }
    return value;
}

PUSBD_PIPE_INFORMATION OvPipeFromName(POV_DEVICE_EXTENSION Extension, PCUNICODE_STRING Name,
                                      PULONG PipeIndex) {
    if (Extension->Interface == NULL) return NULL;
    const LONG number = OvParsePipeNumber(Name);
    if (number == OV_NO_PIPE_NUMBER || number > (LONG)OV_MAX_PIPE_NUMBER) return NULL;
    if ((ULONG)number >= Extension->Interface->NumberOfPipes) return NULL;
    *PipeIndex = (ULONG)number;
    return &Extension->Interface->Pipes[number];
}

PUSBD_PIPE_INFORMATION OvPipeOfFile(POV_DEVICE_EXTENSION Extension, PFILE_OBJECT FileObject) {
    if (FileObject == NULL || FileObject->FsContext == NULL || Extension->Interface == NULL)
        return NULL;
    if ((ULONG_PTR)FileObject->FsContext2 != Extension->InterfaceGeneration) return NULL;
    PUSBD_PIPE_INFORMATION pipe = (PUSBD_PIPE_INFORMATION)FileObject->FsContext;
    PUSBD_PIPE_INFORMATION first = &Extension->Interface->Pipes[0];
    if (pipe < first || pipe >= first + Extension->Interface->NumberOfPipes) return NULL;
    return pipe;
}

NTSTATUS NTAPI OvDispatchCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    if (OvGetDeviceState(extension) != OvWorking || extension->Interface == NULL)
        return OvCompleteRequest(Irp, STATUS_INVALID_DEVICE_STATE, 0);
    PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(Irp)->FileObject;
    if (fileObject == NULL) return OvCompleteRequest(Irp, STATUS_INVALID_PARAMETER, 0);
    fileObject->FsContext = NULL;

    if (fileObject->FileName.Length != 0) {
        ULONG index = 0;
        PUSBD_PIPE_INFORMATION pipe = OvPipeFromName(extension, &fileObject->FileName, &index);
        if (pipe == NULL) return OvCompleteRequest(Irp, STATUS_INVALID_PARAMETER, 0);
        fileObject->FsContext = pipe;
        fileObject->FsContext2 = (PVOID)extension->InterfaceGeneration;
        extension->PipeOpenFlags[index] = 1;
    }
    InterlockedIncrement(&extension->OpenHandleCount);
    // A handle in use keeps the device out of suspension.
    if (OvSelectiveSuspendRegistered(extension)) OvCancelSelectiveSuspend(extension);
    return OvCompleteRequest(Irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI OvDispatchClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(Irp)->FileObject;
    if (fileObject != NULL && fileObject->FsContext != NULL && fileObject->FileName.Length != 0) {
        ULONG index = 0;
        if (OvPipeFromName(extension, &fileObject->FileName, &index) != NULL)
            extension->PipeOpenFlags[index] = 0;
    }
    OvCompleteRequest(Irp, STATUS_SUCCESS, 0);
    InterlockedDecrement(&extension->OpenHandleCount);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI OvDispatchCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    OvIoIncrement(extension);
    const NTSTATUS status = OvCompleteRequest(Irp, STATUS_SUCCESS, 0);
    OvIoDecrement(extension);
    return status;
}
