// The WMI library. The model's WMI requests carry the data block itself rather than the
// WNODE headers around it: Parameters.WMI.DataPath is the GUID, Buffer and BufferSize the
// data; ProviderId is the device object the request is for. For the registration query the
// buffer receives a WmiRegistration record.
#include <wmilib.h>

#include <cstring>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"
#include "driver/kernel_model/wmi_requests.h"

using namespace kernel_model;

namespace {

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

}  // namespace

extern "C" {

NTSTATUS NTAPI WmiCompleteRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp, NTSTATUS Status,
                                  ULONG BufferUsed, CCHAR PriorityBoost) {
    (void)DeviceObject;
    Irp->IoStatus.Status = Status;
    Irp->IoStatus.Information = BufferUsed;
    IoCompleteRequest(Irp, PriorityBoost);
    return Status;
}

NTSTATUS NTAPI WmiSystemControl(PWMILIB_CONTEXT WmiLibInfo, PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                PSYSCTL_IRP_DISPOSITION IrpDisposition) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    if (stack->Parameters.WMI.ProviderId != reinterpret_cast<ULONG_PTR>(DeviceObject)) {
        *IrpDisposition = IrpForward;
        return Irp->IoStatus.Status;
    }
    *IrpDisposition = IrpProcessed;
    PUCHAR buffer = static_cast<PUCHAR>(stack->Parameters.WMI.Buffer);
    const ULONG size = stack->Parameters.WMI.BufferSize;

    if (stack->MinorFunction == IRP_MN_REGINFO) {
        auto* registration = reinterpret_cast<WmiRegistration*>(buffer);
        PUNICODE_STRING registry_path = nullptr;
        UNICODE_STRING instance_name = {};
        UNICODE_STRING mof_name = {};
        const NTSTATUS status =
            WmiLibInfo->QueryWmiRegInfo(DeviceObject, &registration->flags, &instance_name,
                                        &registry_path, &mof_name, &registration->pdo);
        if (registry_path != nullptr) registration->registry_path = ToU16(*registry_path);
        registration->mof_resource_name = ToU16(mof_name);
        registration->guid_count = WmiLibInfo->GuidCount;
        Irp->IoStatus.Status = status;
        Irp->IoStatus.Information = 0;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return status;
    }

    const GUID* guid = static_cast<const GUID*>(stack->Parameters.WMI.DataPath);
    ULONG index = 0;
    while (index < WmiLibInfo->GuidCount && !SameGuid(*WmiLibInfo->GuidList[index].Guid, *guid))
        index++;
    if (index == WmiLibInfo->GuidCount)
        return WmiCompleteRequest(DeviceObject, Irp, STATUS_WMI_GUID_NOT_FOUND, 0, IO_NO_INCREMENT);

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ALL_DATA:
        case IRP_MN_QUERY_SINGLE_INSTANCE: {
            ULONG instance_length = 0;
            return WmiLibInfo->QueryWmiDataBlock(DeviceObject, Irp, index, 0, 1, &instance_length,
                                                 size, buffer);
        }
        case IRP_MN_CHANGE_SINGLE_INSTANCE:
            return WmiLibInfo->SetWmiDataBlock(DeviceObject, Irp, index, 0, size, buffer);
        case IRP_MN_CHANGE_SINGLE_ITEM: {
            // The item id leads the buffer, the value follows it.
            ULONG item = 0;
            std::memcpy(&item, buffer, sizeof item);
            return WmiLibInfo->SetWmiDataItem(DeviceObject, Irp, index, 0, item,
                                              size - static_cast<ULONG>(sizeof item),
                                              buffer + sizeof item);
        }
        default:
            *IrpDisposition = IrpNotCompleted;
            Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
            return STATUS_INVALID_DEVICE_REQUEST;
    }
}

}  // extern "C"
