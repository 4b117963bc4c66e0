// The USB driver library's configuration helpers.
#include <usbdlib.h>

#include <cstddef>
#include <cstring>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace {

constexpr ULONG kUsbdTag = 0x44425355;  // "USBD"

size_t InterfaceInformationSize(ULONG pipes) {
    return sizeof(USBD_INTERFACE_INFORMATION) +
           (pipes > 1 ? pipes - 1 : 0) * sizeof(USBD_PIPE_INFORMATION);
}

}  // namespace

extern "C" {

PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol) {
    PUCHAR position = static_cast<PUCHAR>(StartPosition);
    PUCHAR end =
        reinterpret_cast<PUCHAR>(ConfigurationDescriptor) + ConfigurationDescriptor->wTotalLength;
    while (position + 2 <= end && position[0] >= 2 && position + position[0] <= end) {
        auto* interface = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(position);
        if (position[1] == USB_INTERFACE_DESCRIPTOR_TYPE &&
            position[0] >= sizeof(USB_INTERFACE_DESCRIPTOR) &&
            (InterfaceNumber == -1 || interface->bInterfaceNumber == InterfaceNumber) &&
            (AlternateSetting == -1 || interface->bAlternateSetting == AlternateSetting) &&
            (InterfaceClass == -1 || interface->bInterfaceClass == InterfaceClass) &&
            (InterfaceSubClass == -1 || interface->bInterfaceSubClass == InterfaceSubClass) &&
            (InterfaceProtocol == -1 || interface->bInterfaceProtocol == InterfaceProtocol))
            return interface;
        position += position[0];
    }
    return nullptr;
}

PURB NTAPI USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                             PUSBD_INTERFACE_LIST_ENTRY InterfaceList) {
    size_t size = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor; entry++)
        size += InterfaceInformationSize(entry->InterfaceDescriptor->bNumEndpoints);
    PURB urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kUsbdTag));
    if (urb == nullptr) return nullptr;
    std::memset(urb, 0, size);
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = ConfigurationDescriptor;

    PUCHAR position = reinterpret_cast<PUCHAR>(&urb->UrbSelectConfiguration.Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor; entry++) {
        auto* interface = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(position);
        const ULONG pipes = entry->InterfaceDescriptor->bNumEndpoints;
        interface->Length = static_cast<USHORT>(InterfaceInformationSize(pipes));
        interface->InterfaceNumber = entry->InterfaceDescriptor->bInterfaceNumber;
        interface->AlternateSetting = entry->InterfaceDescriptor->bAlternateSetting;
        interface->NumberOfPipes = pipes;
        for (ULONG pipe = 0; pipe < pipes; pipe++)
            interface->Pipes[pipe].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        entry->Interface = interface;
        position += interface->Length;
    }
    return urb;
}

}  // extern "C"
