// What the model's WMI registration query returns (see wmi_library.cpp for the shape of the
// model's WMI requests).
#pragma once

#include <wdm.h>

#include <string>

namespace kernel_model {

struct WmiRegistration {
    ULONG flags = 0;
    PDEVICE_OBJECT pdo = nullptr;
    std::u16string registry_path;
    std::u16string mof_resource_name;
    ULONG guid_count = 0;
};

}  // namespace kernel_model
