// Device objects and stacks, device interfaces, the WDM version, the registry query and WMI
// registration.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

constexpr ULONG kInterfaceTag = 0x66497349;  // "IsIf"

std::mutex g_device_mutex;
std::set<const DEVICE_OBJECT*> g_devices;
std::vector<DeviceInterface> g_interfaces;
std::set<const DEVICE_OBJECT*> g_wmi_registered;
std::map<const DEVICE_OBJECT*, DEVICE_POWER_STATE> g_reported_power;
std::map<std::u16string, std::map<std::u16string, uint32_t>> g_registry;
UCHAR g_wdm_major = 1;
UCHAR g_wdm_minor = 0x20;

std::u16string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return std::u16string(text, text + std::strlen(text));
}

// A counted string in pool memory, freed by the driver with RtlFreeUnicodeString.
void CopyToPoolString(const std::u16string& text, PUNICODE_STRING target) {
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    PWSTR buffer = static_cast<PWSTR>(AllocateModelBlock(bytes, kInterfaceTag));
    for (size_t i = 0; i < text.size(); i++) buffer[i] = text[i];
    target->Buffer = buffer;
    target->Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    target->MaximumLength = static_cast<USHORT>(bytes);
}

}  // namespace

std::vector<DeviceInterface> DeviceInterfaces() {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    return g_interfaces;
}

bool WmiRegistered(const DEVICE_OBJECT* device) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    return g_wmi_registered.count(device) != 0;
}

DEVICE_POWER_STATE ReportedDevicePower(const DEVICE_OBJECT* device) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    auto found = g_reported_power.find(device);
    return found == g_reported_power.end() ? PowerDeviceUnspecified : found->second;
}

void RecordReportedPower(const DEVICE_OBJECT* device, DEVICE_POWER_STATE state) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    g_reported_power[device] = state;
}

void SetRegistryDword(const std::u16string& path, const std::u16string& name, uint32_t value) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    g_registry[path][name] = value;
}

void SetWdmVersion(UCHAR major, UCHAR minor) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    g_wdm_major = major;
    g_wdm_minor = minor;
}

std::vector<std::string> DeviceLeaks() {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    std::vector<std::string> leaks;
    for (size_t i = 0; i < g_devices.size(); i++) leaks.push_back("a device object");
    for (size_t i = 0; i < g_wmi_registered.size(); i++) leaks.push_back("a WMI registration");
    return leaks;
}

void ResetDevices() {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    g_devices.clear();
    g_interfaces.clear();
    g_wmi_registered.clear();
    g_reported_power.clear();
    g_registry.clear();
    g_wdm_major = 1;
    g_wdm_minor = 0x20;
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, ULONG DeviceType,
                              ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT* DeviceObject) {
    RequirePassiveLevel("IoCreateDevice");
    (void)DeviceName;
    (void)Exclusive;
    if (NextAllocationFails()) return STATUS_INSUFFICIENT_RESOURCES;
    PDEVICE_OBJECT device =
        static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT) + DeviceExtensionSize));
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + DeviceExtensionSize);
    device->DriverObject = DriverObject;
    device->DeviceExtension = DeviceExtensionSize ? device + 1 : nullptr;
    device->DeviceType = DeviceType;
    device->Characteristics = DeviceCharacteristics;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->StackSize = 1;
    std::lock_guard<std::mutex> lock(g_device_mutex);
    g_devices.insert(device);
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    RequirePassiveLevel("IoDeleteDevice");
    {
        std::lock_guard<std::mutex> lock(g_device_mutex);
        if (g_devices.erase(DeviceObject) == 0) {
            RecordFault("IoDeleteDevice of an unknown device object");
            return;
        }
        if (g_wmi_registered.count(DeviceObject))
            RecordFault("IoDeleteDevice of a device still registered with WMI");
        g_reported_power.erase(DeviceObject);
    }
    if (DeviceObject->AttachedDevice != nullptr)
        RecordFault("IoDeleteDevice of a device with a device attached");
    if (DropTimersWithin(DeviceObject, reinterpret_cast<char*>(DeviceObject) + DeviceObject->Size))
        RecordFault("IoDeleteDevice of a device whose timer is still set");
    std::free(DeviceObject);
}

PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                                 PDEVICE_OBJECT TargetDevice) {
    PDEVICE_OBJECT top = TargetDevice;
    while (top->AttachedDevice != nullptr) top = top->AttachedDevice;
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    return top;
}

VOID NTAPI IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
    if (TargetDevice->AttachedDevice == nullptr)
        RecordFault("IoDetachDevice of a device with nothing attached");
    TargetDevice->AttachedDevice = nullptr;
}

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                         const GUID* InterfaceClassGuid,
                                         PUNICODE_STRING ReferenceString,
                                         PUNICODE_STRING SymbolicLinkName) {
    RequirePassiveLevel("IoRegisterDeviceInterface");
    (void)ReferenceString;
    if (NextAllocationFails()) return STATUS_INSUFFICIENT_RESOURCES;
    std::lock_guard<std::mutex> lock(g_device_mutex);
    std::u16string link;
    for (const DeviceInterface& known : g_interfaces)
        if (known.physical_device == PhysicalDeviceObject) link = known.symbolic_link;
    if (link.empty()) {
        const std::string instance = std::to_string(g_interfaces.size() + 1);
        link = u"\\??\\USB#VID_4F56&PID_5652#" + std::u16string(instance.begin(), instance.end()) +
               u"#" + GuidText(*InterfaceClassGuid);
        g_interfaces.push_back(DeviceInterface{link, PhysicalDeviceObject, false});
    }
    CopyToPoolString(link, SymbolicLinkName);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
    RequirePassiveLevel("IoSetDeviceInterfaceState");
    const std::u16string link = ToU16(*SymbolicLinkName);
    std::lock_guard<std::mutex> lock(g_device_mutex);
    for (DeviceInterface& known : g_interfaces) {
        if (known.symbolic_link != link) continue;
        known.enabled = Enable != FALSE;
        return STATUS_SUCCESS;
    }
    RecordFault("IoSetDeviceInterfaceState of an unknown interface");
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

BOOLEAN NTAPI IoIsWdmVersionAvailable(UCHAR MajorVersion, UCHAR MinorVersion) {
    std::lock_guard<std::mutex> lock(g_device_mutex);
    return MajorVersion < g_wdm_major ||
           (MajorVersion == g_wdm_major && MinorVersion <= g_wdm_minor);
}

NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path,
                                      PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context,
                                      PVOID Environment) {
    RequirePassiveLevel("RtlQueryRegistryValues");
    (void)Context;
    (void)Environment;
    if (RelativeTo != RTL_REGISTRY_ABSOLUTE)
        RecordFault("only absolute registry paths are modelled");
    std::lock_guard<std::mutex> lock(g_device_mutex);
    auto key = g_registry.find(ToU16(Path));
    if (key == g_registry.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    for (PRTL_QUERY_REGISTRY_TABLE entry = QueryTable;
         entry->QueryRoutine != nullptr || entry->Name != nullptr; entry++) {
        if (!(entry->Flags & RTL_QUERY_REGISTRY_DIRECT)) {
            RecordFault("only direct registry queries are modelled");
            return STATUS_INVALID_PARAMETER;
        }
        auto value = key->second.find(ToU16(entry->Name));
        if (value != key->second.end()) {
            *static_cast<ULONG*>(entry->EntryContext) = value->second;
        } else if (entry->DefaultType == REG_DWORD && entry->DefaultData != nullptr) {
            std::memcpy(entry->EntryContext, entry->DefaultData, entry->DefaultLength);
        } else if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoWMIRegistrationControl(PDEVICE_OBJECT DeviceObject, ULONG Action) {
    RequirePassiveLevel("IoWMIRegistrationControl");
    std::lock_guard<std::mutex> lock(g_device_mutex);
    if (Action == WMIREG_ACTION_REGISTER) {
        if (!g_wmi_registered.insert(DeviceObject).second)
            RecordFault("WMI registration of a device registered already");
    } else if (Action == WMIREG_ACTION_DEREGISTER) {
        if (g_wmi_registered.erase(DeviceObject) == 0)
            RecordFault("WMI deregistration of a device not registered");
    }
    return STATUS_SUCCESS;
}

}  // extern "C"
