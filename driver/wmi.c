// WMI: one data block, registered per physical device object, holding the debug level and
// the model name:
//   offset 0, 4 bytes: debug level (data item 1)
//   offset 4, 2 bytes: length in bytes of the model name
//   offset 6, n bytes: model name, UTF-16, not terminated
#include "driver/ovpvrusb.h"

ULONG OvDebugLevel = 1;

#define OV_WMI_DEBUG_LEVEL_ITEM 1
static const WCHAR OvModelName[] = L"Qelvarino";
#define OV_MODEL_NAME_BYTES (sizeof(OvModelName) - sizeof(WCHAR))
#define OV_WMI_BLOCK_BYTES (sizeof(ULONG) + sizeof(USHORT) + OV_MODEL_NAME_BYTES)

static WMIGUIDREGINFO OvWmiGuids[] = {{&GUID_OVPVR_WMI_STD_DATA, 1, 0}};

static WMI_QUERY_REGINFO_CALLBACK OvWmiQueryRegInfo;
static WMI_QUERY_DATABLOCK_CALLBACK OvWmiQueryDataBlock;
static WMI_SET_DATABLOCK_CALLBACK OvWmiSetDataBlock;
static WMI_SET_DATAITEM_CALLBACK OvWmiSetDataItem;

NTSTATUS OvWmiRegister(POV_DEVICE_EXTENSION Extension) {
    PWMILIB_CONTEXT info = &Extension->WmiLibInfo;
    info->GuidCount = sizeof(OvWmiGuids) / sizeof(OvWmiGuids[0]);
    info->GuidList = OvWmiGuids;
    info->QueryWmiRegInfo = OvWmiQueryRegInfo;
    info->QueryWmiDataBlock = OvWmiQueryDataBlock;
    info->SetWmiDataBlock = OvWmiSetDataBlock;
    info->SetWmiDataItem = OvWmiSetDataItem;
    info->ExecuteWmiMethod = NULL;
    info->WmiFunctionControl = NULL;
    return IoWMIRegistrationControl(Extension->FunctionalDeviceObject, WMIREG_ACTION_REGISTER);
}

VOID OvWmiDeregister(POV_DEVICE_EXTENSION Extension) {
    IoWMIRegistrationControl(Extension->FunctionalDeviceObject, WMIREG_ACTION_DEREGISTER);
}

NTSTATUS NTAPI OvDispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    if (OvGetDeviceState(extension) == OvRemoved)
        return OvCompleteRequest(Irp, STATUS_NO_SUCH_DEVICE, 0);
    OvIoIncrement(extension);
    SYSCTL_IRP_DISPOSITION disposition;
    NTSTATUS status = WmiSystemControl(&extension->WmiLibInfo, DeviceObject, Irp, &disposition);
    switch (disposition) {
        case IrpProcessed:
            break;
        case IrpNotCompleted:
            IoCompleteRequest(Irp, IO_NO_INCREMENT);
            break;
        default:  // not for this device
            IoSkipCurrentIrpStackLocation(Irp);
            status = IoCallDriver(extension->LowerDeviceObject, Irp);
            break;
    }
    OvIoDecrement(extension);
    return status;
}

static NTSTATUS NTAPI OvWmiQueryRegInfo(PDEVICE_OBJECT DeviceObject, PULONG RegFlags,
                                        PUNICODE_STRING InstanceName, PUNICODE_STRING* RegistryPath,
                                        PUNICODE_STRING MofResourceName, PDEVICE_OBJECT* Pdo) {
    UNREFERENCED_PARAMETER(InstanceName);
    POV_DEVICE_EXTENSION extension = (POV_DEVICE_EXTENSION)DeviceObject->DeviceExtension;
    *RegFlags = WMIREG_FLAG_INSTANCE_PDO;
    *RegistryPath = &OvRegistryPath;
    *Pdo = extension->PhysicalDeviceObject;
    RtlInitUnicodeString(MofResourceName, L"MofResourceName");
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI OvWmiQueryDataBlock(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                          ULONG InstanceIndex, ULONG InstanceCount,
                                          PULONG InstanceLengthArray, ULONG BufferAvail,
                                          PUCHAR Buffer) {
    UNREFERENCED_PARAMETER(InstanceIndex);
    UNREFERENCED_PARAMETER(InstanceCount);
    if (GuidIndex != 0)
        return WmiCompleteRequest(DeviceObject, Irp, STATUS_WMI_GUID_NOT_FOUND, 0, IO_NO_INCREMENT);
    const ULONG size = OV_WMI_BLOCK_BYTES;
    if (BufferAvail < size)
        return WmiCompleteRequest(DeviceObject, Irp, STATUS_BUFFER_TOO_SMALL, size,
                                  IO_NO_INCREMENT);
    const USHORT nameBytes = OV_MODEL_NAME_BYTES;
    RtlCopyMemory(Buffer, &OvDebugLevel, sizeof(ULONG));
    RtlCopyMemory(Buffer + sizeof(ULONG), &nameBytes, sizeof(USHORT));
    RtlCopyMemory(Buffer + sizeof(ULONG) + sizeof(USHORT), OvModelName, nameBytes);
    *InstanceLengthArray = size;
    return WmiCompleteRequest(DeviceObject, Irp, STATUS_SUCCESS, size, IO_NO_INCREMENT);
}

static NTSTATUS NTAPI OvWmiSetDataBlock(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                        ULONG InstanceIndex, ULONG BufferSize, PUCHAR Buffer) {
    UNREFERENCED_PARAMETER(InstanceIndex);
    NTSTATUS status;
    if (GuidIndex != 0) {
        status = STATUS_WMI_GUID_NOT_FOUND;
    } else if (BufferSize != sizeof(ULONG)) {
        status = STATUS_INFO_LENGTH_MISMATCH;
    } else {
        RtlCopyMemory(&OvDebugLevel, Buffer, sizeof(ULONG));
        status = STATUS_SUCCESS;
    }
    return WmiCompleteRequest(DeviceObject, Irp, status, 0, IO_NO_INCREMENT);
}

static NTSTATUS NTAPI OvWmiSetDataItem(PDEVICE_OBJECT DeviceObject, PIRP Irp, ULONG GuidIndex,
                                       ULONG InstanceIndex, ULONG DataItemId, ULONG BufferSize,
                                       PUCHAR Buffer) {
    UNREFERENCED_PARAMETER(InstanceIndex);
    NTSTATUS status;
    if (GuidIndex != 0) {
        status = STATUS_WMI_GUID_NOT_FOUND;
    } else if (DataItemId != OV_WMI_DEBUG_LEVEL_ITEM) {
        status = STATUS_WMI_ITEMID_NOT_FOUND;
    } else if (BufferSize != sizeof(ULONG)) {
        status = STATUS_INFO_LENGTH_MISMATCH;
    } else {
        RtlCopyMemory(&OvDebugLevel, Buffer, sizeof(ULONG));
        status = STATUS_SUCCESS;
    }
    return WmiCompleteRequest(DeviceObject, Irp, status, 0, IO_NO_INCREMENT);
}
