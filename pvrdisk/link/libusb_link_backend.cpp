#include "pvrdisk/link/libusb_link_backend.h"

#include <libusb.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/log.h"
#include "platform/last_error.h"
#include "platform/tick_count.h"

namespace {

constexpr uint8_t kMassStorageClass = 8;
constexpr uint8_t kScsiSubclass = 6;
constexpr uint8_t kBulkOnlyProtocol = 0x50;
constexpr uint8_t kBulkOnlyResetRequest = 0xFF;
constexpr unsigned kControlTimeoutMs = 5000;
constexpr size_t kMaxPipes = 8;
// How long a cancelled transfer is waited for. A device or kernel that never gives it back
// must not hold the thread: the transfer is then left to libusb rather than freed.
constexpr uint32_t kCancelBoundMs = 2000;

std::mutex g_device_mutex;  // guards g_device
std::optional<UsbId> g_device;

std::optional<UsbId> WantedDevice() {
    std::lock_guard lock(g_device_mutex);
    return g_device;
}

libusb_context* Context() {
    static libusb_context* context = [] {
        libusb_context* created = nullptr;
        if (libusb_init(&created) != 0) return static_cast<libusb_context*>(nullptr);
        return created;
    }();
    return context;
}

struct BulkOnlyInterface {
    int number = -1;
    uint8_t bulk_out = 0;
    uint8_t bulk_in = 0;
};

// The first bulk-only mass-storage interface of the active (or first) configuration, or with
// `any_class` the first interface of any class with a bulk-in and a bulk-out endpoint when no
// mass-storage one is there.
BulkOnlyInterface FindBulkOnlyInterface(libusb_device* device, bool any_class = false) {
    BulkOnlyInterface found;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0)
        return found;
    BulkOnlyInterface other;
    for (int i = 0; i < config->bNumInterfaces && found.number < 0; ++i) {
        const libusb_interface& itf = config->interface[i];
        if (itf.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = itf.altsetting[0];
        const bool bulk_only = alt.bInterfaceClass == kMassStorageClass &&
                               alt.bInterfaceSubClass == kScsiSubclass &&
                               alt.bInterfaceProtocol == kBulkOnlyProtocol;
        if (!bulk_only && (!any_class || other.number >= 0)) continue;
        BulkOnlyInterface candidate;
        candidate.number = alt.bInterfaceNumber;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
            if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                if (candidate.bulk_in == 0) candidate.bulk_in = ep.bEndpointAddress;
            } else if (candidate.bulk_out == 0) {
                candidate.bulk_out = ep.bEndpointAddress;
            }
        }
        if (candidate.bulk_in == 0 || candidate.bulk_out == 0) continue;
        (bulk_only ? found : other) = candidate;
    }
    libusb_free_config_descriptor(config);
    return found.number >= 0 ? found : other;
}

// Device paths read "usb:vvvv:pppp:bus:address", pipes append "\PIPE00" or "\PIPE01".
std::string DevicePath(const UsbId& id, uint8_t bus, uint8_t address) {
    char text[64];
    std::snprintf(text, sizeof text, "usb:%04x:%04x:%03u:%03u", id.vendor, id.product, bus,
                  address);
    return text;
}

// The one opened receiver, shared by its two pipes.
struct OpenReceiver {
    libusb_device_handle* handle = nullptr;
    BulkOnlyInterface itf;
    std::string path;
    int users = 0;
};

struct Pipe {
    bool in_use = false;
    bool bulk_in = false;
    libusb_transfer* transfer = nullptr;  // the pending or last transfer, until collected
    // Set by the transfer's callback. Each transfer has its own flag: one given up on may
    // still complete later and must not mark its successor done.
    std::atomic<bool>* done_flag = nullptr;
    bool Completed() const { return done_flag != nullptr && done_flag->load(); }
    // Frees the transfer and its flag, or with `abandon` leaves both to a late callback.
    void Forget(bool abandon) {
        if (!abandon) {
            libusb_free_transfer(transfer);
            delete done_flag;
        }
        transfer = nullptr;
        done_flag = nullptr;
    }
};

std::mutex g_mutex;  // guards the tables below; transfers run on one thread at a time
OpenReceiver g_receiver;
Pipe g_pipes[kMaxPipes];

void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
    static_cast<std::atomic<bool>*>(transfer->user_data)->store(true);
}

Pipe* PipeOf(PipeHandle handle) {
    if (handle < 0 || static_cast<size_t>(handle) >= kMaxPipes || !g_pipes[handle].in_use)
        return nullptr;
    return &g_pipes[handle];
}

uint32_t ErrorOfStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return platform::kErrorSuccess;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return platform::kErrorDeviceNotConnected;
        case LIBUSB_TRANSFER_CANCELLED:
            return platform::kErrorOperationAborted;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return platform::kErrorSemTimeout;
        default:
            return platform::kErrorGenFailure;
    }
}

uint32_t ErrorOfCode(int code) {
    switch (code) {
        case LIBUSB_ERROR_NO_DEVICE:
            return platform::kErrorDeviceNotConnected;
        case LIBUSB_ERROR_NOT_FOUND:
            return platform::kErrorFileNotFound;
        case LIBUSB_ERROR_NO_MEM:
            return platform::kErrorNotEnoughMemory;
        case LIBUSB_ERROR_TIMEOUT:
            return platform::kErrorSemTimeout;
        default:
            return platform::kErrorGenFailure;
    }
}

// Runs libusb's event handling until the pipe's transfer completes or the time runs out.
bool PumpUntilDone(Pipe& pipe, uint32_t timeout_ms) {
    const uint32_t start = platform::GetTickCount();
    while (!pipe.Completed()) {
        const uint32_t spent = platform::GetTickCount() - start;
        if (spent >= timeout_ms) return false;
        const uint32_t left = timeout_ms - spent;
        timeval tv{static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000) * 1000};
        int completed = 0;
        libusb_handle_events_timeout_completed(Context(), &tv, &completed);
    }
    return true;
}

void CollectTransfer(Pipe& pipe) {
    if (pipe.transfer == nullptr) return;
    if (!pipe.Completed()) {
        libusb_cancel_transfer(pipe.transfer);
        PumpUntilDone(pipe, kCancelBoundMs);
    }
    // A transfer that never came back is leaked rather than freed while libusb may touch it.
    pipe.Forget(!pipe.Completed());
}

bool FindReceiver(char* device_path, size_t size) {
    const std::optional<UsbId> wanted = WantedDevice();
    libusb_context* context = Context();
    if (!wanted || context == nullptr) {
        platform::SetLastError(platform::kErrorNoMoreItems);
        return false;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    bool found = false;
    for (ssize_t i = 0; i < count && !found; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        if (desc.idVendor != wanted->vendor || desc.idProduct != wanted->product) continue;
        if (FindBulkOnlyInterface(list[i], true).number < 0) continue;
        const std::string path =
            DevicePath(*wanted, libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]));
        std::snprintf(device_path, size, "%s", path.c_str());
        found = true;
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    if (!found) platform::SetLastError(platform::kErrorNoMoreItems);
    return found;
}

bool OpenReceiverAt(const std::string& device_path) {
    if (g_receiver.handle != nullptr) {
        if (g_receiver.path != device_path) {
            platform::SetLastError(platform::kErrorGenFailure);
            return false;
        }
        return true;
    }
    unsigned vendor = 0, product = 0, bus = 0, address = 0;
    if (std::sscanf(device_path.c_str(), "usb:%4x:%4x:%3u:%3u", &vendor, &product, &bus,
                    &address) != 4) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return false;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(Context(), &list);
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_bus_number(list[i]) == bus &&
            libusb_get_device_address(list[i]) == address &&
            libusb_get_device_descriptor(list[i], &desc) == 0 && desc.idVendor == vendor &&
            desc.idProduct == product)
            device = list[i];
    }
    int result = LIBUSB_ERROR_NOT_FOUND;
    libusb_device_handle* handle = nullptr;
    BulkOnlyInterface itf;
    if (device != nullptr) {
        itf = FindBulkOnlyInterface(device, true);
        result = itf.number < 0 ? LIBUSB_ERROR_NOT_FOUND : libusb_open(device, &handle);
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    if (result == 0) {
        // The kernel's storage driver gives the interface back when we release it.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        result = libusb_claim_interface(handle, itf.number);
        if (result != 0) libusb_close(handle);
    }
    if (result != 0) {
        LogLine("libusb: cannot open " + device_path + ": " + libusb_error_name(result), 2);
        platform::SetLastError(ErrorOfCode(result));
        return false;
    }
    g_receiver.handle = handle;
    g_receiver.itf = itf;
    g_receiver.path = device_path;
    g_receiver.users = 0;
    return true;
}

void ReleaseReceiverUser() {
    if (--g_receiver.users > 0 || g_receiver.handle == nullptr) return;
    libusb_release_interface(g_receiver.handle, g_receiver.itf.number);
    libusb_close(g_receiver.handle);
    g_receiver = OpenReceiver{};
}

PipeHandle OpenPipe(const char* pipe_path) {
    std::lock_guard lock(g_mutex);
    const std::string path = pipe_path;
    const size_t cut = path.rfind('\\');
    const std::string name = cut == std::string::npos ? "" : path.substr(cut + 1);
    if (name != "PIPE00" && name != "PIPE01") {
        platform::SetLastError(platform::kErrorFileNotFound);
        return kInvalidPipe;
    }
    if (!OpenReceiverAt(path.substr(0, cut))) return kInvalidPipe;
    for (size_t i = 0; i < kMaxPipes; ++i) {
        if (g_pipes[i].in_use) continue;
        g_pipes[i].in_use = true;
        g_pipes[i].bulk_in = name == "PIPE01";
        g_pipes[i].transfer = nullptr;
        g_pipes[i].done_flag = nullptr;
        ++g_receiver.users;
        return static_cast<PipeHandle>(i);
    }
    if (g_receiver.users == 0) ReleaseReceiverUser();
    platform::SetLastError(platform::kErrorNotEnoughMemory);
    return kInvalidPipe;
}

bool ClosePipe(PipeHandle handle) {
    std::lock_guard lock(g_mutex);
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    CollectTransfer(*pipe);
    pipe->in_use = false;
    ReleaseReceiverUser();
    return true;
}

bool CancelIo(PipeHandle handle) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    if (pipe->transfer != nullptr && !pipe->Completed()) libusb_cancel_transfer(pipe->transfer);
    return true;
}

bool BeginTransfer(PipeHandle handle, void* buffer, uint32_t size, uint32_t* done) {
    *done = 0;
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || g_receiver.handle == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    CollectTransfer(*pipe);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) {
        platform::SetLastError(platform::kErrorNotEnoughMemory);
        return false;
    }
    const uint8_t endpoint = pipe->bulk_in ? g_receiver.itf.bulk_in : g_receiver.itf.bulk_out;
    auto* done_flag = new std::atomic<bool>(false);
    // No timeout of libusb's own: the link's wait bounds the transfer and cancels it.
    libusb_fill_bulk_transfer(transfer, g_receiver.handle, endpoint,
                              static_cast<unsigned char*>(buffer), static_cast<int>(size),
                              OnTransferDone, done_flag, 0);
    const int result = libusb_submit_transfer(transfer);
    if (result != 0) {
        libusb_free_transfer(transfer);
        delete done_flag;
        platform::SetLastError(ErrorOfCode(result));
        return false;
    }
    pipe->transfer = transfer;
    pipe->done_flag = done_flag;
    platform::SetLastError(platform::kErrorIoPending);
    return false;
}

bool WaitTransfer(PipeHandle handle, uint32_t timeout_ms) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || pipe->transfer == nullptr) {
        platform::SetLastError(platform::kErrorWaitFailed);
        return false;
    }
    if (PumpUntilDone(*pipe, timeout_ms)) return true;
    platform::SetLastError(platform::kErrorSemTimeout);
    return false;
}

bool TransferResult(PipeHandle handle, uint32_t* done, bool wait) {
    *done = 0;
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || pipe->transfer == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    if (!pipe->Completed()) {
        if (!wait) {
            platform::SetLastError(platform::kErrorIoIncomplete);
            return false;
        }
        // Waiting is bounded too: a cancelled transfer that never comes back is given up.
        if (!PumpUntilDone(*pipe, kCancelBoundMs)) {
            pipe->Forget(true);  // left to libusb; freeing it could race its completion
            platform::SetLastError(platform::kErrorOperationAborted);
            return false;
        }
    }
    libusb_transfer* transfer = pipe->transfer;
    *done = static_cast<uint32_t>(transfer->actual_length);
    const uint32_t error = ErrorOfStatus(transfer->status);
    pipe->Forget(false);
    platform::SetLastError(error);
    return error == platform::kErrorSuccess;
}

// Reset pipe clears the halt of the handle's endpoint; reset device is the bulk-only reset
// recovery: the class's mass-storage reset, then clear-halt of both endpoints.
bool Control(PipeHandle handle, uint32_t code) {
    Pipe* pipe = PipeOf(handle);
    if (pipe == nullptr || g_receiver.handle == nullptr) {
        platform::SetLastError(platform::kErrorInvalidHandle);
        return false;
    }
    int result = 0;
    if (code == kIoctlResetPipe) {
        result = libusb_clear_halt(
            g_receiver.handle, pipe->bulk_in ? g_receiver.itf.bulk_in : g_receiver.itf.bulk_out);
    } else if (code == kIoctlResetDevice) {
        result = libusb_control_transfer(
            g_receiver.handle,
            static_cast<uint8_t>(int{LIBUSB_REQUEST_TYPE_CLASS} | int{LIBUSB_RECIPIENT_INTERFACE}),
            kBulkOnlyResetRequest, 0, static_cast<uint16_t>(g_receiver.itf.number), nullptr, 0,
            kControlTimeoutMs);
        if (result >= 0) result = libusb_clear_halt(g_receiver.handle, g_receiver.itf.bulk_in);
        if (result >= 0) result = libusb_clear_halt(g_receiver.handle, g_receiver.itf.bulk_out);
    } else {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (result < 0) {
        platform::SetLastError(ErrorOfCode(result));
        return false;
    }
    return true;
}

const LinkBackend kLibusbBackend = {
    .name = "libusb",
    .cancels_complete_at_once = false,
    .find_receiver = FindReceiver,
    .open_pipe = OpenPipe,
    .close_pipe = ClosePipe,
    .cancel_io = CancelIo,
    .begin_transfer = BeginTransfer,
    .wait_transfer = WaitTransfer,
    .transfer_result = TransferResult,
    .control = Control,
};

// Hotplug: libusb delivers its events on whichever thread handles events; a thread of ours
// keeps handling them while the watch runs.
std::atomic<bool> g_watching{false};
std::thread g_watch_thread;
libusb_hotplug_callback_handle g_hotplug_handle = 0;

int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event event, void*) {
    NotifyDeviceChange(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return 0;
}

}  // namespace

const LinkBackend& LibusbLinkBackend() {
    return kLibusbBackend;
}

void SetLibusbDevice(std::optional<UsbId> id) {
    std::lock_guard lock(g_device_mutex);
    g_device = id;
}

std::optional<UsbId> LibusbDevice() {
    return WantedDevice();
}

std::vector<UsbMassStorageDevice> ListUsbMassStorageDevices() {
    std::vector<UsbMassStorageDevice> found;
    if (Context() == nullptr) return found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(Context(), &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
        if (FindBulkOnlyInterface(list[i]).number < 0) continue;
        UsbMassStorageDevice device;
        device.id = {desc.idVendor, desc.idProduct};
        device.bus = libusb_get_bus_number(list[i]);
        device.address = libusb_get_device_address(list[i]);
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) == 0) {
            unsigned char text[128];
            for (uint8_t index : {desc.iManufacturer, desc.iProduct}) {
                if (index == 0) continue;
                const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
                if (n <= 0) continue;
                if (!device.description.empty()) device.description += " ";
                device.description.append(reinterpret_cast<char*>(text), static_cast<size_t>(n));
            }
            libusb_close(handle);
        }
        found.push_back(device);
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    return found;
}

bool StartUsbDeviceWatch() {
    const std::optional<UsbId> wanted = WantedDevice();
    if (g_watching.load() || Context() == nullptr || !wanted ||
        !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return false;
    const int result = libusb_hotplug_register_callback(
        Context(),
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_NO_FLAGS, wanted->vendor, wanted->product, LIBUSB_HOTPLUG_MATCH_ANY,
        OnHotplug, nullptr, &g_hotplug_handle);
    if (result != LIBUSB_SUCCESS) return false;
    g_watching.store(true);
    g_watch_thread = std::thread([] {
        while (g_watching.load()) {
            timeval tv{0, 200000};
            libusb_handle_events_timeout_completed(Context(), &tv, nullptr);
        }
    });
    return true;
}

void StopUsbDeviceWatch() {
    if (!g_watching.exchange(false)) return;
    libusb_hotplug_deregister_callback(Context(), g_hotplug_handle);
    g_watch_thread.join();
}
