// The I/O manager, Plug and Play manager and power manager as OvPvrUSB sees them from above:
// loads the driver over a simulated bus, adds its device, and sends it Plug and Play, power,
// WMI and user requests (create, close, read, write, control codes) the way the kernel would.
#pragma once

#include <memory>
#include <string>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/usb_bus.h"
#include "driver/ovpvrusb.h"

namespace kernel_model {

// A request the test keeps while it is pending.
class PendingRequest {
  public:
    PendingRequest(PIRP irp, PMDL mdl) : irp_(irp), mdl_(mdl) {}
    ~PendingRequest();
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;

    NTSTATUS dispatch_status = STATUS_SUCCESS;
    bool Completed() const { return IrpCompleted(irp_); }
    bool WaitForCompletion(uint32_t milliseconds) const;
    NTSTATUS Status() const { return irp_->IoStatus.Status; }
    ULONG_PTR Information() const { return irp_->IoStatus.Information; }
    // As the I/O manager does for CancelIo: the driver or the bus below finishes it.
    void Cancel() { IoCancelIrp(irp_); }

  private:
    PIRP irp_;
    PMDL mdl_;
};

// An open handle: the file object and its name (empty for the device itself).
struct FileHandle {
    std::u16string name;
    FILE_OBJECT file{};
};

class DriverHost {
  public:
    explicit DriverHost(SimulatedUsbBus& bus);
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    NTSTATUS Load();
    NTSTATUS AddDevice();
    // Load, add device, query capabilities and start: a receiver plugged in.
    NTSTATUS Plug();
    // Query remove and remove, then unload: a receiver taken away in order.
    void Unplug();
    void Unload();

    NTSTATUS Pnp(UCHAR minor);
    NTSTATUS QueryCapabilities(DEVICE_CAPABILITIES* capabilities);

    PDEVICE_OBJECT Fdo() const { return fdo_; }
    POV_DEVICE_EXTENSION Extension() const {
        return static_cast<POV_DEVICE_EXTENSION>(fdo_->DeviceExtension);
    }
    // The device object would be gone after remove.
    bool DeviceRemoved() const { return fdo_ == nullptr; }

    NTSTATUS Create(const std::u16string& name, std::unique_ptr<FileHandle>* handle);
    NTSTATUS Close(FileHandle& handle);
    NTSTATUS Cleanup(FileHandle& handle);
    // Reads or writes through a caller's buffer; a null buffer sends no MDL.
    std::unique_ptr<PendingRequest> StartTransfer(FileHandle& handle, bool read, void* buffer,
                                                  ULONG length);
    NTSTATUS Transfer(FileHandle& handle, bool read, void* buffer, ULONG length, ULONG* done);
    NTSTATUS Control(FileHandle& handle, ULONG code, void* output, ULONG output_length,
                     ULONG_PTR* information);

    // Power requests as the power manager sends them.
    NTSTATUS Power(UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state);
    std::unique_ptr<PendingRequest> StartPower(UCHAR minor, POWER_STATE_TYPE type,
                                               POWER_STATE state);
    // A WMI request in the model's shape (wmi_library.cpp); the provider is the driver's device
    // unless `provider` says otherwise.
    NTSTATUS Wmi(UCHAR minor, const GUID* guid, void* buffer, ULONG size, ULONG_PTR* information,
                 ULONG_PTR provider = 0);

  private:
    PIRP NewIrp(UCHAR major, UCHAR minor);
    NTSTATUS SendAndWait(PIRP irp);

    SimulatedUsbBus& bus_;
    DRIVER_OBJECT driver_{};
    DRIVER_EXTENSION driver_extension_{};
    std::u16string registry_path_;
    PDEVICE_OBJECT fdo_ = nullptr;
    bool loaded_ = false;
};

}  // namespace kernel_model
