#include "driver/kernel_model/usb_bus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

SimulatedUsbBus* BusOf(PDEVICE_OBJECT device) {
    return *static_cast<SimulatedUsbBus**>(device->DeviceExtension);
}

NTSTATUS NTAPI BusInternalControl(PDEVICE_OBJECT device, PIRP irp) {
    return BusOf(device)->DispatchInternalControl(irp);
}
NTSTATUS NTAPI BusPnp(PDEVICE_OBJECT device, PIRP irp) {
    return BusOf(device)->DispatchPnp(irp);
}
NTSTATUS NTAPI BusPower(PDEVICE_OBJECT device, PIRP irp) {
    return BusOf(device)->DispatchPower(irp);
}
NTSTATUS NTAPI BusSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    return BusOf(device)->DispatchSystemControl(irp);
}
VOID NTAPI BusCancel(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    BusOf(device)->Cancel(irp);
}

DRIVER_OBJECT* BusDriver() {
    static DRIVER_EXTENSION extension;
    static DRIVER_OBJECT driver = [] {
        DRIVER_OBJECT object{};
        object.DriverExtension = &extension;
        object.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = BusInternalControl;
        object.MajorFunction[IRP_MJ_PNP] = BusPnp;
        object.MajorFunction[IRP_MJ_POWER] = BusPower;
        object.MajorFunction[IRP_MJ_SYSTEM_CONTROL] = BusSystemControl;
        return object;
    }();
    return &driver;
}

void* UrbBuffer(PVOID buffer, PMDL mdl) {
    return mdl != nullptr ? mdl->MappedSystemVa : buffer;
}

}  // namespace

std::vector<uint8_t> ReceiverDeviceDescriptor() {
    return {18,   USB_DEVICE_DESCRIPTOR_TYPE,
            0x00, 0x02,
            0,    0,
            0,    64,
            0x56, 0x4F,
            0x52, 0x56,
            0x00, 0x01,
            1,    2,
            3,    1};
}

std::vector<uint8_t> ReceiverConfigurationDescriptor(bool second_interface, bool remote_wakeup) {
    std::vector<uint8_t> bytes = {
        9, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, static_cast<uint8_t>(second_interface ? 2 : 1),
        1, 0, static_cast<uint8_t>(0x80 | (remote_wakeup ? USB_CONFIG_REMOTE_WAKEUP : 0)), 50,
        // Interface 0: mass storage, SCSI transparent, bulk-only.
        9, USB_INTERFACE_DESCRIPTOR_TYPE, 0, 0, 2, 0x08, 0x06, 0x50, 0, 7,
        USB_ENDPOINT_DESCRIPTOR_TYPE, 0x01, 0x02, 0x00, 0x02, 0, 7, USB_ENDPOINT_DESCRIPTOR_TYPE,
        0x82, 0x02, 0x00, 0x02, 0};
    if (second_interface) {
        const std::vector<uint8_t> second = {
            9, USB_INTERFACE_DESCRIPTOR_TYPE, 1,    0,    1,    0xFF, 0, 0, 0,
            7, USB_ENDPOINT_DESCRIPTOR_TYPE,  0x83, 0x03, 0x08, 0x00, 10};
        bytes.insert(bytes.end(), second.begin(), second.end());
    }
    bytes[2] = static_cast<uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    return bytes;
}

SimulatedUsbBus::SimulatedUsbBus(UsbFunction* function, std::vector<uint8_t> configuration)
    : function_(function),
      device_descriptor_(ReceiverDeviceDescriptor()),
      configuration_descriptor_(std::move(configuration)),
      pipe_handles_(8) {
    // The bus driver's own object: not one the driver under test creates or deletes.
    pdo_ = static_cast<PDEVICE_OBJECT>(
        std::calloc(1, sizeof(DEVICE_OBJECT) + sizeof(SimulatedUsbBus*)));
    pdo_->DriverObject = BusDriver();
    pdo_->DeviceExtension = pdo_ + 1;
    *static_cast<SimulatedUsbBus**>(pdo_->DeviceExtension) = this;
    pdo_->StackSize = 1;
    pdo_->Flags = DO_POWER_PAGABLE;
    pdo_->DeviceType = FILE_DEVICE_USB;
    capabilities_.DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int s = PowerSystemSleeping1; s <= PowerSystemShutdown; s++)
        capabilities_.DeviceState[s] = PowerDeviceD3;
    capabilities_.SystemWake = PowerSystemSleeping3;
    capabilities_.DeviceWake = PowerDeviceD2;
}

uint32_t CompletionSeed() {
    if (const char* text = std::getenv("OVPVRUSB_SEED"))
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

SimulatedUsbBus::~SimulatedUsbBus() {
    StopCompletions();
    std::free(pdo_);
}

void SimulatedUsbBus::CompleteTransfersLater(uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    random_.seed(seed);
    if (complete_later_) return;
    complete_later_ = true;
    completion_thread_ = std::thread([this] { RunCompletions(); });
}

void SimulatedUsbBus::ForgetLater(PIRP irp) {
    for (auto& [endpoint, queue] : later_)
        queue.erase(std::remove(queue.begin(), queue.end(), irp), queue.end());
}

void SimulatedUsbBus::StopCompletions() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    later_changed_.notify_all();
    if (completion_thread_.joinable()) completion_thread_.join();
}

void SimulatedUsbBus::RunCompletions() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        later_changed_.wait(lock, [this] {
            if (stopping_) return true;
            for (const auto& [endpoint, queue] : later_)
                if (!queue.empty()) return true;
            return false;
        });
        if (stopping_) return;
        std::vector<uint8_t> ready;
        for (const auto& [endpoint, queue] : later_)
            if (!queue.empty()) ready.push_back(endpoint);
        std::deque<PIRP>& queue = later_[ready[random_() % ready.size()]];
        const auto pause = std::chrono::microseconds(random_() % 1500);
        lock.unlock();
        std::this_thread::sleep_for(pause);
        lock.lock();
        if (queue.empty()) continue;  // cancelled meanwhile
        PIRP irp = queue.front();
        queue.pop_front();
        // Taken under the lock: a canceller that won the cancel routine completes the request
        // only after this has let go of it.
        const bool taken = IoSetCancelRoutine(irp, nullptr) != nullptr;
        lock.unlock();
        if (taken) {
            PURB urb =
                static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
            SetIrql(DISPATCH_LEVEL);
            CarryTransfer(irp, urb);
            SetIrql(PASSIVE_LEVEL);
        }
        lock.lock();
    }
}

void SimulatedUsbBus::SetCapabilities(const DEVICE_CAPABILITIES& capabilities) {
    std::lock_guard<std::mutex> lock(mutex_);
    capabilities_ = capabilities;
}

void SimulatedUsbBus::FailPnp(UCHAR minor, NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    pnp_failures_[minor] = status;
}

void SimulatedUsbBus::FailUrb(USHORT function, NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    urb_failures_[function] = status;
}

void SimulatedUsbBus::FailNextTransferAtOnce(NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_transfer_at_once_ = status;
}

void SimulatedUsbBus::HoldTransfers(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_transfers_ = hold;
}

size_t SimulatedUsbBus::HeldTransfers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
}

void SimulatedUsbBus::ReleaseHeldTransfers() {
    std::vector<PIRP> released;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_transfers_ = false;
        for (PIRP irp : held_)
            if (IoSetCancelRoutine(irp, nullptr) != nullptr) released.push_back(irp);
        held_.clear();
    }
    for (PIRP irp : released) {
        PURB urb =
            static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
        CarryTransfer(irp, urb);
    }
}

void SimulatedUsbBus::SetPort(bool connected, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_connected_ = connected;
    port_enabled_ = enabled;
}

void SimulatedUsbBus::FailPortStatus(NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_status_failure_ = status;
}

void SimulatedUsbBus::RejectIdleRequests(NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_rejection_ = status;
}

bool SimulatedUsbBus::IdleRequestPending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return idle_irp_ != nullptr;
}

void SimulatedUsbBus::InvokeIdleCallback() {
    PUSB_IDLE_CALLBACK_INFO info = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_irp_ == nullptr) {
            RecordFault("idle callback without an idle request");
            return;
        }
        info = static_cast<PUSB_IDLE_CALLBACK_INFO>(
            IoGetCurrentIrpStackLocation(idle_irp_)->Parameters.DeviceIoControl.Type3InputBuffer);
    }
    info->IdleCallback(info->IdleContext);
}

void SimulatedUsbBus::CompleteIdleRequest(NTSTATUS status) {
    PIRP irp = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        irp = idle_irp_;
    }
    if (irp != nullptr && TakePending(irp)) Complete(irp, status);
}

bool SimulatedUsbBus::WaitWakePending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wait_wake_irp_ != nullptr;
}

const IRP* SimulatedUsbBus::PendingWaitWake() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wait_wake_irp_;
}

void SimulatedUsbBus::CompleteWaitWake(NTSTATUS status) {
    PIRP irp = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        irp = wait_wake_irp_;
    }
    if (irp != nullptr && TakePending(irp)) Complete(irp, status);
}

std::vector<ConfiguredPipe> SimulatedUsbBus::Pipes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pipes_;
}
std::vector<TransferRecord> SimulatedUsbBus::Transfers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return transfers_;
}
std::vector<UCHAR> SimulatedUsbBus::PnpSeen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pnp_seen_;
}
uint64_t SimulatedUsbBus::SelectConfigurations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return select_configurations_;
}
uint64_t SimulatedUsbBus::Deconfigurations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deconfigurations_;
}
uint64_t SimulatedUsbBus::AbortsOf(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    return aborts_[endpoint];
}
uint64_t SimulatedUsbBus::ResetPipesOf(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    return reset_pipes_[endpoint];
}
uint64_t SimulatedUsbBus::PortResets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_resets_;
}
uint64_t SimulatedUsbBus::PortStatusQueries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_status_queries_;
}
uint64_t SimulatedUsbBus::IdleRequestsSeen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return idle_requests_seen_;
}
DEVICE_POWER_STATE SimulatedUsbBus::DevicePower() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_power_;
}
std::vector<DEVICE_POWER_STATE> SimulatedUsbBus::DevicePowerSeen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_power_seen_;
}
std::vector<SYSTEM_POWER_STATE> SimulatedUsbBus::SystemPowerSeen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return system_power_seen_;
}

NTSTATUS SimulatedUsbBus::Complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Keeps a request pending with a cancel routine; one cancelled already is completed at once.
NTSTATUS SimulatedUsbBus::Pend(PIRP irp) {
    // A transfer the completion thread leaves hanging was marked when it was queued, and its
    // dispatcher may be reading the mark on another thread: it is not written again.
    if (!(IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED)) IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, BusCancel);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_.erase(std::remove(held_.begin(), held_.end(), irp), held_.end());
            hanging_.erase(std::remove(hanging_.begin(), hanging_.end(), irp), hanging_.end());
            ForgetLater(irp);
            if (idle_irp_ == irp) idle_irp_ = nullptr;
            if (wait_wake_irp_ == irp) wait_wake_irp_ = nullptr;
        }
        Complete(irp, STATUS_CANCELLED);
    }
    return STATUS_PENDING;
}

bool SimulatedUsbBus::TakePending(PIRP irp) {
    if (IoSetCancelRoutine(irp, nullptr) == nullptr) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    held_.erase(std::remove(held_.begin(), held_.end(), irp), held_.end());
    hanging_.erase(std::remove(hanging_.begin(), hanging_.end(), irp), hanging_.end());
    ForgetLater(irp);
    if (idle_irp_ == irp) idle_irp_ = nullptr;
    if (wait_wake_irp_ == irp) wait_wake_irp_ = nullptr;
    return true;
}

void SimulatedUsbBus::DeferWaitWakeCancellation(bool defer) {
    std::lock_guard<std::mutex> lock(mutex_);
    defer_wait_wake_cancellation_ = defer;
}

void SimulatedUsbBus::FinishCancelledWaitWake() {
    PIRP irp;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        irp = cancelled_wait_wake_;
        cancelled_wait_wake_ = nullptr;
    }
    if (irp == nullptr) {
        RecordFault("no cancelled wait-wake request to finish");
        return;
    }
    irp->IoStatus.Information = 0;
    Complete(irp, STATUS_CANCELLED);
}

void SimulatedUsbBus::Cancel(PIRP irp) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wait_wake_irp_ == irp && defer_wait_wake_cancellation_) {
            wait_wake_irp_ = nullptr;
            cancelled_wait_wake_ = irp;
            return;
        }
        held_.erase(std::remove(held_.begin(), held_.end(), irp), held_.end());
        hanging_.erase(std::remove(hanging_.begin(), hanging_.end(), irp), hanging_.end());
        ForgetLater(irp);
        if (idle_irp_ == irp) idle_irp_ = nullptr;
        if (wait_wake_irp_ == irp) wait_wake_irp_ = nullptr;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL &&
        stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_INTERNAL_USB_SUBMIT_URB)
        static_cast<PURB>(stack->Parameters.Others.Argument1)->UrbHeader.Status =
            USBD_STATUS_CANCELED;
    irp->IoStatus.Information = 0;
    Complete(irp, STATUS_CANCELLED);
}

const ConfiguredPipe* SimulatedUsbBus::FindPipe(USBD_PIPE_HANDLE handle) {
    for (const ConfiguredPipe& pipe : pipes_)
        if (pipe.handle == handle) return &pipe;
    return nullptr;
}

NTSTATUS SimulatedUsbBus::DispatchInternalControl(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_INTERNAL_USB_SUBMIT_URB:
            return HandleUrb(irp, static_cast<PURB>(stack->Parameters.Others.Argument1));
        case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
            NTSTATUS failure;
            ULONG status = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                port_status_queries_++;
                failure = port_status_failure_;
                port_status_failure_ = STATUS_SUCCESS;
                status = (port_connected_ ? USBD_PORT_CONNECTED : 0) |
                         (port_enabled_ ? USBD_PORT_ENABLED : 0);
            }
            if (!NT_SUCCESS(failure)) return Complete(irp, failure);
            *static_cast<PULONG>(stack->Parameters.Others.Argument1) = status;
            return Complete(irp, STATUS_SUCCESS);
        }
        case IOCTL_INTERNAL_USB_RESET_PORT: {
            bool connected;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                port_resets_++;
                connected = port_connected_;
                port_enabled_ = connected;
            }
            if (!connected || !function_->ResetPort()) return Complete(irp, STATUS_UNSUCCESSFUL);
            return Complete(irp, STATUS_SUCCESS);
        }
        case IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION: {
            NTSTATUS rejection;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                idle_requests_seen_++;
                rejection = idle_rejection_;
                if (NT_SUCCESS(rejection)) {
                    if (idle_irp_ != nullptr)
                        RecordFault("a second idle request while one is pending");
                    idle_irp_ = irp;
                }
            }
            if (stack->Parameters.DeviceIoControl.InputBufferLength !=
                sizeof(USB_IDLE_CALLBACK_INFO))
                RecordFault("idle request without its callback information");
            if (!NT_SUCCESS(rejection)) return Complete(irp, rejection);
            return Pend(irp);
        }
        default:
            RecordFault("unknown internal control code sent to the USB stack");
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS SimulatedUsbBus::HandleUrb(PIRP irp, PURB urb) {
    const USHORT function = urb->UrbHeader.Function;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto failure = urb_failures_.find(function);
        if (failure != urb_failures_.end()) {
            const NTSTATUS status = failure->second;
            urb_failures_.erase(failure);
            urb->UrbHeader.Status = USBD_STATUS_DEV_NOT_RESPONDING;
            irp->IoStatus.Information = 0;
            return Complete(irp, status);
        }
    }
    NTSTATUS status;
    switch (function) {
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            status = GetDescriptor(urb);
            break;
        case URB_FUNCTION_SELECT_CONFIGURATION:
            status = SelectConfiguration(urb);
            break;
        case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
            return Transfer(irp, urb);
        case URB_FUNCTION_ABORT_PIPE: {
            if (urb->UrbHeader.Length != sizeof(struct _URB_PIPE_REQUEST))
                RecordFault("abort-pipe URB of the wrong length");
            std::vector<PIRP> aborted;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const ConfiguredPipe* pipe = FindPipe(urb->UrbPipeRequest.PipeHandle);
                if (pipe == nullptr) {
                    RecordFault("abort of an unknown pipe");
                    status = STATUS_INVALID_PARAMETER;
                    break;
                }
                aborts_[pipe->endpoint]++;
                std::vector<PIRP> queued(later_[pipe->endpoint].begin(),
                                         later_[pipe->endpoint].end());
                for (std::vector<PIRP>* list : {&held_, &hanging_, &queued}) {
                    for (PIRP pending : *list) {
                        PURB pending_urb = static_cast<PURB>(
                            IoGetCurrentIrpStackLocation(pending)->Parameters.Others.Argument1);
                        if (pending_urb->UrbBulkOrInterruptTransfer.PipeHandle == pipe->handle &&
                            IoSetCancelRoutine(pending, nullptr) != nullptr)
                            aborted.push_back(pending);
                    }
                    for (PIRP pending : aborted)
                        list->erase(std::remove(list->begin(), list->end(), pending), list->end());
                }
                for (PIRP pending : aborted) ForgetLater(pending);
            }
            for (PIRP pending : aborted) {
                static_cast<PURB>(
                    IoGetCurrentIrpStackLocation(pending)->Parameters.Others.Argument1)
                    ->UrbHeader.Status = USBD_STATUS_CANCELED;
                pending->IoStatus.Information = 0;
                Complete(pending, STATUS_CANCELLED);
            }
            status = STATUS_SUCCESS;
            break;
        }
        case URB_FUNCTION_RESET_PIPE: {
            if (urb->UrbHeader.Length != sizeof(struct _URB_PIPE_REQUEST))
                RecordFault("reset-pipe URB of the wrong length");
            uint8_t endpoint = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const ConfiguredPipe* pipe = FindPipe(urb->UrbPipeRequest.PipeHandle);
                if (pipe == nullptr) {
                    RecordFault("reset of an unknown pipe");
                    status = STATUS_INVALID_PARAMETER;
                    break;
                }
                endpoint = pipe->endpoint;
                reset_pipes_[endpoint]++;
            }
            status = function_->ClearHalt(endpoint) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
            break;
        }
        default:
            RecordFault("unknown URB function");
            status = STATUS_INVALID_PARAMETER;
            break;
    }
    urb->UrbHeader.Status =
        NT_SUCCESS(status) ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
    irp->IoStatus.Information = 0;
    return Complete(irp, status);
}

NTSTATUS SimulatedUsbBus::GetDescriptor(PURB urb) {
    struct _URB_CONTROL_DESCRIPTOR_REQUEST& request = urb->UrbControlDescriptorRequest;
    const std::vector<uint8_t>* source = nullptr;
    if (request.DescriptorType == USB_DEVICE_DESCRIPTOR_TYPE) source = &device_descriptor_;
    if (request.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE)
        source = &configuration_descriptor_;
    if (source == nullptr) return STATUS_INVALID_PARAMETER;
    const ULONG length = std::min<ULONG>(request.TransferBufferLength, source->size());
    std::memcpy(UrbBuffer(request.TransferBuffer, request.TransferBufferMDL), source->data(),
                length);
    request.TransferBufferLength = length;
    return STATUS_SUCCESS;
}

NTSTATUS SimulatedUsbBus::SelectConfiguration(PURB urb) {
    struct _URB_SELECT_CONFIGURATION& select = urb->UrbSelectConfiguration;
    std::lock_guard<std::mutex> lock(mutex_);
    if (select.ConfigurationDescriptor == nullptr) {
        deconfigurations_++;
        pipes_.clear();
        return STATUS_SUCCESS;
    }
    select_configurations_++;
    pipes_.clear();
    select.ConfigurationHandle = &select_configurations_;
    PUCHAR position = reinterpret_cast<PUCHAR>(&select.Interface);
    PUCHAR end = reinterpret_cast<PUCHAR>(urb) + urb->UrbHeader.Length;
    const uint8_t* descriptor = configuration_descriptor_.data();
    const size_t total = configuration_descriptor_.size();
    while (position < end) {
        auto* interface = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(position);
        if (interface->Length == 0) return STATUS_INVALID_PARAMETER;
        // Find the interface descriptor and its endpoints.
        size_t at = 0;
        while (at < total && !(descriptor[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE &&
                               descriptor[at + 2] == interface->InterfaceNumber &&
                               descriptor[at + 3] == interface->AlternateSetting))
            at += descriptor[at];
        if (at >= total) return STATUS_INVALID_PARAMETER;
        interface->Class = descriptor[at + 5];
        interface->SubClass = descriptor[at + 6];
        interface->Protocol = descriptor[at + 7];
        interface->InterfaceHandle = interface;
        ULONG pipe = 0;
        for (at += descriptor[at];
             at < total && descriptor[at + 1] != USB_INTERFACE_DESCRIPTOR_TYPE;
             at += descriptor[at]) {
            if (descriptor[at + 1] != USB_ENDPOINT_DESCRIPTOR_TYPE) continue;
            if (pipe >= interface->NumberOfPipes) return STATUS_INVALID_PARAMETER;
            USBD_PIPE_INFORMATION& info = interface->Pipes[pipe++];
            info.EndpointAddress = descriptor[at + 2];
            info.PipeType = static_cast<USBD_PIPE_TYPE>(descriptor[at + 3] & 3);
            info.MaximumPacketSize =
                static_cast<USHORT>(descriptor[at + 4] | descriptor[at + 5] << 8);
            info.Interval = descriptor[at + 6];
            info.PipeHandle = &pipe_handles_[pipes_.size()];
            pipes_.push_back(ConfiguredPipe{info.PipeHandle, info.EndpointAddress, info.PipeType,
                                            info.MaximumTransferSize});
        }
        position += interface->Length;
    }
    return STATUS_SUCCESS;
}

NTSTATUS SimulatedUsbBus::Transfer(PIRP irp, PURB urb) {
    struct _URB_BULK_OR_INTERRUPT_TRANSFER& transfer = urb->UrbBulkOrInterruptTransfer;
    NTSTATUS at_once;
    bool hold;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (urb->UrbHeader.Length != sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER))
            RecordFault("bulk URB of the wrong length");
        // A suspended device does not answer: the driver must have it back in D0 first.
        if (device_power_ != PowerDeviceD0) RecordFault("bulk transfer to a device not in D0");
        const ConfiguredPipe* pipe = FindPipe(transfer.PipeHandle);
        if (pipe == nullptr) {
            RecordFault("transfer on an unknown pipe");
            at_once = STATUS_INVALID_PARAMETER;
        } else {
            const bool in = (transfer.TransferFlags & USBD_TRANSFER_DIRECTION) != 0;
            if (in != ((pipe->endpoint & USB_ENDPOINT_DIRECTION_MASK) != 0))
                RecordFault("transfer direction disagrees with the endpoint");
            transfers_.push_back(TransferRecord{pipe->endpoint, transfer.TransferBufferLength,
                                                transfer.TransferFlags});
            at_once = fail_transfer_at_once_;
            fail_transfer_at_once_ = STATUS_SUCCESS;
        }
        hold = hold_transfers_ && NT_SUCCESS(at_once);
        if (hold) held_.push_back(irp);
    }
    if (!NT_SUCCESS(at_once)) {
        urb->UrbHeader.Status = USBD_STATUS_INVALID_PARAMETER;
        irp->IoStatus.Information = 0;
        return Complete(irp, at_once);
    }
    if (hold) return Pend(irp);
    bool later;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        later = complete_later_;
    }
    if (later) {
        // Queued with its cancel routine under the lock the completion thread takes requests
        // under: the thread never sees a request without its routine, and a canceller (whose
        // routine takes the lock too) waits until the request is either queued or taken.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, BusCancel);
            later_[FindPipe(transfer.PipeHandle)->endpoint].push_back(irp);
        }
        later_changed_.notify_all();
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ForgetLater(irp);
            }
            Complete(irp, STATUS_CANCELLED);
        }
        return STATUS_PENDING;
    }
    // The host controller completes transfers later: the request is pending to the caller
    // even when the transfer is over before IoCallDriver returns.
    IoMarkIrpPending(irp);
    CarryTransfer(irp, urb);
    return STATUS_PENDING;
}

NTSTATUS SimulatedUsbBus::CarryTransfer(PIRP irp, PURB urb) {
    struct _URB_BULK_OR_INTERRUPT_TRANSFER& transfer = urb->UrbBulkOrInterruptTransfer;
    uint8_t endpoint;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoint = FindPipe(transfer.PipeHandle)->endpoint;
    }
    auto* data =
        static_cast<uint8_t*>(UrbBuffer(transfer.TransferBuffer, transfer.TransferBufferMDL));
    uint32_t done = 0;
    const UsbTransferResult result =
        (endpoint & USB_ENDPOINT_DIRECTION_MASK)
            ? function_->BulkIn(endpoint, data, transfer.TransferBufferLength, &done)
            : function_->BulkOut(endpoint, data, transfer.TransferBufferLength, &done);
    irp->IoStatus.Information = 0;
    switch (result) {
        case UsbTransferResult::kOk:
            urb->UrbHeader.Status = USBD_STATUS_SUCCESS;
            transfer.TransferBufferLength = done;
            return Complete(irp, STATUS_SUCCESS);
        case UsbTransferResult::kStall:
            urb->UrbHeader.Status = USBD_STATUS_STALL_PID;
            transfer.TransferBufferLength = 0;
            return Complete(irp, STATUS_UNSUCCESSFUL);
        case UsbTransferResult::kNoDevice:
            urb->UrbHeader.Status = USBD_STATUS_DEVICE_GONE;
            transfer.TransferBufferLength = 0;
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
        case UsbTransferResult::kFailed:
            urb->UrbHeader.Status = USBD_STATUS_DEV_NOT_RESPONDING;
            transfer.TransferBufferLength = 0;
            return Complete(irp, STATUS_UNSUCCESSFUL);
        case UsbTransferResult::kHang:
            break;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hanging_.push_back(irp);
    }
    return Pend(irp);
}

NTSTATUS SimulatedUsbBus::DispatchPnp(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS failure = STATUS_SUCCESS;
    DEVICE_CAPABILITIES capabilities;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pnp_seen_.push_back(stack->MinorFunction);
        auto found = pnp_failures_.find(stack->MinorFunction);
        if (found != pnp_failures_.end()) {
            failure = found->second;
            pnp_failures_.erase(found);
        }
        capabilities = capabilities_;
    }
    if (!NT_SUCCESS(failure)) return Complete(irp, failure);
    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_CAPABILITIES: {
            PDEVICE_CAPABILITIES target = stack->Parameters.DeviceCapabilities.Capabilities;
            capabilities.Size = target->Size;
            capabilities.Version = target->Version;
            *target = capabilities;
            return Complete(irp, STATUS_SUCCESS);
        }
        case IRP_MN_START_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE:
            return Complete(irp, STATUS_SUCCESS);
        default:
            // Requests the bus does not handle keep the status they came with.
            return Complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS SimulatedUsbBus::DispatchPower(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
        case IRP_MN_SET_POWER: {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stack->Parameters.Power.Type == DevicePowerState) {
                device_power_ = stack->Parameters.Power.State.DeviceState;
                device_power_seen_.push_back(device_power_);
            } else {
                system_power_seen_.push_back(stack->Parameters.Power.State.SystemState);
            }
            break;
        }
        case IRP_MN_QUERY_POWER:
            break;
        case IRP_MN_WAIT_WAKE: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (wait_wake_irp_ != nullptr) {
                    PoStartNextPowerIrp(irp);
                    return Complete(irp, STATUS_DEVICE_BUSY);
                }
                wait_wake_irp_ = irp;
            }
            PoStartNextPowerIrp(irp);
            return Pend(irp);
        }
        default:
            PoStartNextPowerIrp(irp);
            return Complete(irp, irp->IoStatus.Status);
    }
    PoStartNextPowerIrp(irp);
    return Complete(irp, STATUS_SUCCESS);
}

NTSTATUS SimulatedUsbBus::DispatchSystemControl(PIRP irp) {
    return Complete(irp, irp->IoStatus.Status);
}

}  // namespace kernel_model
