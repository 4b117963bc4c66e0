// The USB driver library's configuration helpers, with the driver kit's names.
#pragma once

#include <usb.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _USBD_INTERFACE_LIST_ENTRY {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
    PUSBD_INTERFACE_INFORMATION Interface;
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

#define UsbBuildInterruptOrBulkTransferRequest(urb, length, pipeHandle, transferBuffer,  \
                                               transferBufferMDL, transferBufferLength,  \
                                               transferFlags, link)                      \
    {                                                                                    \
        (urb)->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;             \
        (urb)->UrbHeader.Length = (length);                                              \
        (urb)->UrbBulkOrInterruptTransfer.PipeHandle = (pipeHandle);                     \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferLength = (transferBufferLength); \
        (urb)->UrbBulkOrInterruptTransfer.TransferBufferMDL = (transferBufferMDL);       \
        (urb)->UrbBulkOrInterruptTransfer.TransferBuffer = (transferBuffer);             \
        (urb)->UrbBulkOrInterruptTransfer.TransferFlags = (transferFlags);               \
        (urb)->UrbBulkOrInterruptTransfer.UrbLink = (link);                              \
    }

#define UsbBuildGetDescriptorRequest(urb, length, descriptorType, descriptorIndex, languageId, \
                                     transferBuffer, transferBufferMDL, transferBufferLength,  \
                                     link)                                                     \
    {                                                                                          \
        (urb)->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;                   \
        (urb)->UrbHeader.Length = (length);                                                    \
        (urb)->UrbControlDescriptorRequest.TransferBufferLength = (transferBufferLength);      \
        (urb)->UrbControlDescriptorRequest.TransferBufferMDL = (transferBufferMDL);            \
        (urb)->UrbControlDescriptorRequest.TransferBuffer = (transferBuffer);                  \
        (urb)->UrbControlDescriptorRequest.DescriptorType = (descriptorType);                  \
        (urb)->UrbControlDescriptorRequest.Index = (descriptorIndex);                          \
        (urb)->UrbControlDescriptorRequest.LanguageId = (languageId);                          \
        (urb)->UrbControlDescriptorRequest.UrbLink = (link);                                   \
    }

#define UsbBuildSelectConfigurationRequest(urb, length, configurationDescriptor)           \
    {                                                                                      \
        (urb)->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;                     \
        (urb)->UrbHeader.Length = (length);                                                \
        (urb)->UrbSelectConfiguration.ConfigurationDescriptor = (configurationDescriptor); \
    }

#define URB_STATUS(urb) ((urb)->UrbHeader.Status)

PUSB_INTERFACE_DESCRIPTOR NTAPI USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor, PVOID StartPosition,
    LONG InterfaceNumber, LONG AlternateSetting, LONG InterfaceClass, LONG InterfaceSubClass,
    LONG InterfaceProtocol);
PURB NTAPI USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                             PUSBD_INTERFACE_LIST_ENTRY InterfaceList);

#ifdef __cplusplus
}
#endif
