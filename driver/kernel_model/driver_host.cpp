#include "driver/kernel_model/driver_host.h"

#include <cstring>

#include "driver/kernel_model/wmi_requests.h"

namespace kernel_model {
namespace {

// Long enough for any request the model completes; a request still pending after it is a
// fault of the test or the driver.
constexpr uint32_t kRequestWaitMs = 10000;

}  // namespace

PendingRequest::~PendingRequest() {
    if (!IrpCompleted(irp_) && !WaitForIrpCompletion(irp_, kRequestWaitMs))
        AbortHung("a request the test sent never completed");
    FreeTestIrp(irp_);
    if (mdl_ != nullptr) FreeTestMdl(mdl_);
}

bool PendingRequest::WaitForCompletion(uint32_t milliseconds) const {
    return WaitForIrpCompletion(irp_, milliseconds);
}

DriverHost::DriverHost(SimulatedUsbBus& bus)
    : bus_(bus),
      registry_path_(u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\OvPvrUSB") {
    driver_.DriverExtension = &driver_extension_;
    driver_extension_.DriverObject = &driver_;
}

DriverHost::~DriverHost() {
    if (loaded_) Unload();
}

NTSTATUS DriverHost::Load() {
    UNICODE_STRING path = MakeUnicodeString(registry_path_);
    const NTSTATUS status = DriverEntry(&driver_, &path);
    loaded_ = NT_SUCCESS(status);
    return status;
}

void DriverHost::Unload() {
    if (driver_.DriverUnload != nullptr) driver_.DriverUnload(&driver_);
    loaded_ = false;
}

NTSTATUS DriverHost::AddDevice() {
    const NTSTATUS status = driver_extension_.AddDevice(&driver_, bus_.Pdo());
    if (NT_SUCCESS(status)) fdo_ = bus_.Pdo()->AttachedDevice;
    return status;
}

NTSTATUS DriverHost::Plug() {
    NTSTATUS status = Load();
    if (NT_SUCCESS(status)) status = AddDevice();
    DEVICE_CAPABILITIES capabilities{};
    if (NT_SUCCESS(status)) status = QueryCapabilities(&capabilities);
    if (NT_SUCCESS(status)) status = Pnp(IRP_MN_START_DEVICE);
    return status;
}

void DriverHost::Unplug() {
    if (fdo_ != nullptr) {
        Pnp(IRP_MN_QUERY_REMOVE_DEVICE);
        Pnp(IRP_MN_REMOVE_DEVICE);
    }
    Unload();
}

PIRP DriverHost::NewIrp(UCHAR major, UCHAR minor) {
    PIRP irp = AllocateTestIrp(fdo_->StackSize);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    return irp;
}

NTSTATUS DriverHost::SendAndWait(PIRP irp) {
    PendingRequest request(irp, nullptr);
    request.dispatch_status = IoCallDriver(fdo_, irp);
    if (!request.WaitForCompletion(kRequestWaitMs)) AbortHung("a request never completed");
    if (request.dispatch_status != STATUS_PENDING && request.dispatch_status != request.Status())
        RecordFault("a dispatch routine returned a status other than the one it completed with");
    return request.Status();
}

NTSTATUS DriverHost::Pnp(UCHAR minor) {
    PDEVICE_OBJECT fdo = fdo_;
    PIRP irp = NewIrp(IRP_MJ_PNP, minor);
    if (minor == IRP_MN_REMOVE_DEVICE) fdo_ = nullptr;  // deleted by the driver
    PendingRequest request(irp, nullptr);
    request.dispatch_status = IoCallDriver(fdo, irp);
    if (!request.WaitForCompletion(kRequestWaitMs)) AbortHung("a Plug and Play request hung");
    if (minor == IRP_MN_REMOVE_DEVICE && bus_.Pdo()->AttachedDevice != nullptr)
        RecordFault("remove left the device attached");
    return request.Status();
}

NTSTATUS DriverHost::QueryCapabilities(DEVICE_CAPABILITIES* capabilities) {
    PIRP irp = NewIrp(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES);
    if (capabilities->Size == 0) {
        capabilities->Size = sizeof(DEVICE_CAPABILITIES);
        capabilities->Version = 1;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities = capabilities;
    return SendAndWait(irp);
}

NTSTATUS DriverHost::Create(const std::u16string& name, std::unique_ptr<FileHandle>* handle) {
    auto opened = std::make_unique<FileHandle>();
    opened->name = name;
    opened->file.DeviceObject = fdo_;
    opened->file.FileName = MakeUnicodeString(opened->name);
    PIRP irp = NewIrp(IRP_MJ_CREATE, 0);
    IoGetNextIrpStackLocation(irp)->FileObject = &opened->file;
    const NTSTATUS status = SendAndWait(irp);
    if (NT_SUCCESS(status)) *handle = std::move(opened);
    return status;
}

NTSTATUS DriverHost::Close(FileHandle& handle) {
    PIRP irp = NewIrp(IRP_MJ_CLOSE, 0);
    IoGetNextIrpStackLocation(irp)->FileObject = &handle.file;
    return SendAndWait(irp);
}

NTSTATUS DriverHost::Cleanup(FileHandle& handle) {
    PIRP irp = NewIrp(IRP_MJ_CLEANUP, 0);
    IoGetNextIrpStackLocation(irp)->FileObject = &handle.file;
    return SendAndWait(irp);
}

std::unique_ptr<PendingRequest> DriverHost::StartTransfer(FileHandle& handle, bool read,
                                                          void* buffer, ULONG length) {
    PIRP irp = NewIrp(read ? IRP_MJ_READ : IRP_MJ_WRITE, 0);
    PMDL mdl = buffer != nullptr ? AllocateTestMdl(buffer, length) : nullptr;
    irp->MdlAddress = mdl;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->FileObject = &handle.file;
    stack->Parameters.Read.Length = length;
    auto request = std::make_unique<PendingRequest>(irp, mdl);
    request->dispatch_status = IoCallDriver(fdo_, irp);
    return request;
}

NTSTATUS DriverHost::Transfer(FileHandle& handle, bool read, void* buffer, ULONG length,
                              ULONG* done) {
    std::unique_ptr<PendingRequest> request = StartTransfer(handle, read, buffer, length);
    if (!request->WaitForCompletion(kRequestWaitMs)) AbortHung("a transfer never completed");
    *done = static_cast<ULONG>(request->Information());
    return request->Status();
}

NTSTATUS DriverHost::Control(FileHandle& handle, ULONG code, void* output, ULONG output_length,
                             ULONG_PTR* information) {
    PIRP irp = NewIrp(IRP_MJ_DEVICE_CONTROL, 0);
    // Buffered: the I/O manager's system buffer, copied back to the caller afterwards.
    std::vector<uint8_t> system_buffer(output_length);
    irp->AssociatedIrp.SystemBuffer = output_length ? system_buffer.data() : nullptr;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->FileObject = &handle.file;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    stack->Parameters.DeviceIoControl.OutputBufferLength = output_length;
    PendingRequest request(irp, nullptr);
    request.dispatch_status = IoCallDriver(fdo_, irp);
    if (!request.WaitForCompletion(kRequestWaitMs)) AbortHung("a control request never completed");
    *information = request.Information();
    if (request.Information() > output_length) {
        RecordFault("control request reports more bytes than its buffer holds");
    } else if (output != nullptr && request.Information() != 0) {
        std::memcpy(output, system_buffer.data(), request.Information());
    }
    return request.Status();
}

std::unique_ptr<PendingRequest> DriverHost::StartPower(UCHAR minor, POWER_STATE_TYPE type,
                                                       POWER_STATE state) {
    PIRP irp = NewIrp(IRP_MJ_POWER, minor);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->Parameters.Power.Type = type;
    stack->Parameters.Power.State = state;
    auto request = std::make_unique<PendingRequest>(irp, nullptr);
    request->dispatch_status = PoCallDriver(fdo_, irp);
    return request;
}

NTSTATUS DriverHost::Power(UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state) {
    std::unique_ptr<PendingRequest> request = StartPower(minor, type, state);
    if (!request->WaitForCompletion(kRequestWaitMs)) AbortHung("a power request never completed");
    return request->Status();
}

NTSTATUS DriverHost::Wmi(UCHAR minor, const GUID* guid, void* buffer, ULONG size,
                         ULONG_PTR* information, ULONG_PTR provider) {
    PIRP irp = NewIrp(IRP_MJ_SYSTEM_CONTROL, minor);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->Parameters.WMI.ProviderId = provider ? provider : reinterpret_cast<ULONG_PTR>(fdo_);
    stack->Parameters.WMI.DataPath = const_cast<GUID*>(guid);
    stack->Parameters.WMI.BufferSize = size;
    stack->Parameters.WMI.Buffer = buffer;
    PendingRequest request(irp, nullptr);
    request.dispatch_status = IoCallDriver(fdo_, irp);
    if (!request.WaitForCompletion(kRequestWaitMs)) AbortHung("a WMI request never completed");
    *information = request.Information();
    return request.Status();
}

}  // namespace kernel_model
