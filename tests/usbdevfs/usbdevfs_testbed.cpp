#include "tests/usbdevfs/usbdevfs_testbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <thread>
#include <vector>

namespace usbdevfs {

namespace {

constexpr uint8_t kBulkOut = 0x01;
constexpr uint8_t kBulkIn = 0x81;
constexpr int kInterface = 0;
constexpr uint8_t kRequestTypeClassInterfaceOut = 0x21;
constexpr uint8_t kRequestTypeClassInterfaceIn = 0xA1;
constexpr uint8_t kRequestTypeStandardDeviceIn = 0x80;
constexpr uint8_t kBulkOnlyReset = 0xFF;
constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kStringDescriptor = 0x03;
constexpr size_t kSetupSize = 8;

// The device descriptor and its one configuration: one interface with a bulk-out and a
// bulk-in endpoint of 512 bytes (high speed), as sysfs's "descriptors" file holds them.
std::string Descriptors(const DeviceSpec& spec) {
    const uint8_t itf_class = spec.vendor_specific ? 0xFF : 0x08;
    const uint8_t itf_subclass = spec.vendor_specific ? 0xFF : 0x06;
    const uint8_t itf_protocol = spec.vendor_specific ? 0xFF : 0x50;
    const uint8_t bytes[] = {
        // device
        18, 1, 0x00, 0x02, 0, 0, 0, 64, static_cast<uint8_t>(spec.id.vendor),
        static_cast<uint8_t>(spec.id.vendor >> 8), static_cast<uint8_t>(spec.id.product),
        static_cast<uint8_t>(spec.id.product >> 8), 0x00, 0x01, 1, 2, 0, 1,
        // configuration, 32 bytes in all
        9, 2, 32, 0, 1, 1, 0, 0x80, 50,
        // interface
        9, 4, kInterface, 0, 2, itf_class, itf_subclass, itf_protocol, 0,
        // endpoints
        7, 5, kBulkOut, 0x02, 0x00, 0x02, 0, 7, 5, kBulkIn, 0x02, 0x00, 0x02, 0};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

struct Urb {
    UMockdevIoctlData* data = nullptr;  // the client's usbdevfs_urb, referenced
    UMockdevIoctlData* buffer = nullptr;
    gulong client_address = 0;

    usbdevfs_urb* Fields() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
};

struct Client {
    uint64_t generation = 0;  // of the receiver when the node was opened
    bool gone = false;        // the device was pulled out under it
    bool claimed = false;
    std::vector<Urb> pending;
    std::deque<Urb> reapable;
};

struct Device {
    DeviceSpec spec;
    emulator::EmulatedReceiver* receiver = nullptr;
    std::string name;     // sysfs name, "1-N"
    std::string syspath;  // as the testbed made it; empty while unplugged
    std::string devnode;  // "/dev/bus/usb/001/AAA"
    int address = 0;
    UMockdevIoctlBase* handler = nullptr;
    bool lose_cancels = false;
    uint32_t cancel_delay_ms = 0;
    DeviceRecord record;
    std::map<UMockdevIoctlClient*, Client> clients;
};

gulong PointerArgument(UMockdevIoctlData* arg) {
    gulong value = 0;
    std::memcpy(&value, arg->data, sizeof value);
    return value;
}

void Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

}  // namespace

struct Testbed::State {
    UMockdevTestbed* testbed = nullptr;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
    std::vector<std::unique_ptr<Device>> devices;
    int next_address = 2;

    // Runs `work` on the handler thread and waits for it: all device state lives there.
    void OnHandlerThread(const std::function<void()>& work) {
        struct Call {
            const std::function<void()>* work;
            std::promise<void> done;
        } call{&work, {}};
        g_main_context_invoke(
            context,
            [](gpointer data) -> gboolean {
                auto* c = static_cast<Call*>(data);
                (*c->work)();
                c->done.set_value();
                return G_SOURCE_REMOVE;
            },
            &call);
        call.done.get_future().wait();
    }

    Client& ClientOf(Device& device, UMockdevIoctlClient* client) {
        auto found = device.clients.find(client);
        if (found != device.clients.end()) return found->second;
        Client& fresh = device.clients[client];
        fresh.generation = device.receiver != nullptr ? device.receiver->Generation() : 0;
        return fresh;
    }

    void Finish(Client& client, Urb urb, int status, int actual) {
        urb.Fields()->status = status;
        urb.Fields()->actual_length = actual;
        client.reapable.push_back(urb);
    }

    // Carries a bulk URB to the receiver. A transfer the receiver leaves hanging stays
    // pending until it is discarded.
    void RunBulk(Device& device, Client& client, Urb urb) {
        usbdevfs_urb* fields = urb.Fields();
        uint32_t done = 0;
        auto* bytes = urb.buffer != nullptr ? urb.buffer->data : nullptr;
        const auto size = static_cast<uint32_t>(fields->buffer_length);
        emulator::TransferStatus status = emulator::TransferStatus::kNoDevice;
        if (device.receiver != nullptr) {
            status = fields->endpoint == kBulkIn
                         ? device.receiver->BulkIn(client.generation, bytes, size, &done)
                         : device.receiver->BulkOut(client.generation, bytes, size, &done);
        }
        switch (status) {
            case emulator::TransferStatus::kOk:
                Finish(client, urb, 0, static_cast<int>(done));
                break;
            case emulator::TransferStatus::kStall:
                Finish(client, urb, -EPIPE, 0);
                break;
            case emulator::TransferStatus::kNoDevice:
                Finish(client, urb, -ESHUTDOWN, 0);
                break;
            case emulator::TransferStatus::kFailed:
                Finish(client, urb, -EPROTO, 0);
                break;
            case emulator::TransferStatus::kHang:
                client.pending.push_back(urb);
                break;
        }
    }

    // Control URBs: the setup packet, then the data stage.
    void RunControl(Device& device, Client& client, Urb urb) {
        const int length = urb.Fields()->buffer_length;
        if (urb.buffer == nullptr || length < static_cast<int>(kSetupSize)) {
            Finish(client, urb, -EINVAL, 0);
            return;
        }
        uint8_t* setup = urb.buffer->data;
        uint8_t* stage = setup + kSetupSize;
        const int stage_size = length - static_cast<int>(kSetupSize);
        const uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
        if (setup[0] == kRequestTypeClassInterfaceOut && setup[1] == kBulkOnlyReset) {
            ++device.record.class_resets;
            const bool ok =
                device.receiver != nullptr && device.receiver->MassStorageReset(client.generation);
            Finish(client, urb, ok ? 0 : -EPIPE, 0);
        } else if (setup[0] == kRequestTypeClassInterfaceIn && setup[1] == kGetMaxLun &&
                   stage_size >= 1) {
            stage[0] = 0;
            Finish(client, urb, 0, 1);
        } else if (setup[0] == kRequestTypeStandardDeviceIn && setup[1] == kGetDescriptor &&
                   value >> 8 == kStringDescriptor) {
            const uint8_t index = static_cast<uint8_t>(value);
            std::string descriptor;
            if (index == 0) {
                descriptor = std::string("\x04\x03\x09\x04", 4);  // US English
            } else if (index <= 2) {
                const std::string& text =
                    index == 1 ? device.spec.manufacturer : device.spec.product;
                descriptor.push_back(static_cast<char>(2 + 2 * text.size()));
                descriptor.push_back(static_cast<char>(kStringDescriptor));
                for (char c : text) {
                    descriptor.push_back(c);
                    descriptor.push_back('\0');
                }
            }
            if (descriptor.empty()) {
                Finish(client, urb, -EPIPE, 0);
                return;
            }
            const int n = std::min(stage_size, static_cast<int>(descriptor.size()));
            std::memcpy(stage, descriptor.data(), static_cast<size_t>(n));
            Finish(client, urb, 0, n);
        } else {
            Finish(client, urb, -EPIPE, 0);  // a request this device does not know: stall
        }
    }

    long Submit(Device& device, Client& client, UMockdevIoctlData* arg, int* error) {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (data == nullptr) {
            *error = EFAULT;
            return -1;
        }
        Urb urb;
        urb.data = static_cast<UMockdevIoctlData*>(g_object_ref(data));
        urb.client_address = data->client_addr;
        usbdevfs_urb* fields = urb.Fields();
        if (fields->buffer_length > 0)
            urb.buffer =
                umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(fields->buffer_length), nullptr);
        fields->status = 0;
        fields->actual_length = 0;
        if (fields->type == USBDEVFS_URB_TYPE_CONTROL) {
            RunControl(device, client, urb);
        } else if (fields->type == USBDEVFS_URB_TYPE_BULK &&
                   (fields->endpoint == kBulkIn || fields->endpoint == kBulkOut)) {
            if (!client.claimed) {
                g_object_unref(urb.data);
                *error = EINVAL;  // the kernel wants the interface claimed first
                return -1;
            }
            RunBulk(device, client, urb);
        } else {
            g_object_unref(urb.data);
            *error = EINVAL;
            return -1;
        }
        return 0;
    }

    long Reap(Client& client, UMockdevIoctlData* arg, int* error) {
        if (client.reapable.empty()) {
            *error = client.gone ? ENODEV : EAGAIN;
            return -1;
        }
        UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        if (target == nullptr) {
            *error = EFAULT;
            return -1;
        }
        Urb urb = client.reapable.front();
        client.reapable.pop_front();
        umockdev_ioctl_data_set_ptr(target, 0, urb.data);
        g_object_unref(urb.data);
        return 0;
    }

    struct LateCancel {
        State* state;
        Device* device;
        UMockdevIoctlClient* client;
        Urb urb;
    };

    // Gives a discarded URB back after the device's cancel delay, from the handler thread.
    void FinishLater(Device& device, UMockdevIoctlClient* ioctl_client, Urb urb) {
        auto* late = new LateCancel{this, &device, ioctl_client, urb};
        GSource* source = g_timeout_source_new(device.cancel_delay_ms);
        g_source_set_callback(
            source,
            [](gpointer data) -> gboolean {
                auto* late = static_cast<LateCancel*>(data);
                auto found = late->device->clients.find(late->client);
                if (found != late->device->clients.end())
                    late->state->Finish(found->second, late->urb, -ENOENT, 0);
                else
                    g_object_unref(late->urb.data);
                delete late;
                return G_SOURCE_REMOVE;
            },
            late, nullptr);
        g_source_attach(source, context);
        g_source_unref(source);
    }

    long Discard(Device& device, Client& client, UMockdevIoctlClient* ioctl_client,
                 UMockdevIoctlData* arg, int* error) {
        const gulong address = PointerArgument(arg);
        for (auto it = client.pending.begin(); it != client.pending.end(); ++it) {
            if (it->client_address != address) continue;
            Urb urb = *it;
            client.pending.erase(it);
            ++device.record.discards;
            if (device.lose_cancels)
                lost.push_back(urb.data);  // never given back
            else if (device.cancel_delay_ms != 0)
                FinishLater(device, ioctl_client, urb);
            else
                Finish(client, urb, -ENOENT, 0);
            return 0;
        }
        *error = EINVAL;
        return -1;
    }

    // Takes the kernel's driver off the interface; false when there was none.
    bool Detach(Device& device) {
        if (!device.record.driver_bound) return false;
        device.record.driver_bound = false;
        ++device.record.detaches;
        return true;
    }

    long Claim(Device& device, Client& client, int* error) {
        if (device.record.driver_bound || (device.record.claimed && !client.claimed)) {
            *error = EBUSY;
            return -1;
        }
        if (!client.claimed) ++device.record.claims;
        client.claimed = device.record.claimed = true;
        return 0;
    }

    long Release(Device& device, Client& client, int* error) {
        if (!client.claimed) {
            *error = EINVAL;
            return -1;
        }
        client.claimed = device.record.claimed = false;
        ++device.record.releases;
        return 0;
    }

    long Driver(Device& device, Client& client, UMockdevIoctlData* arg, int* error) {
        auto* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        if (data == nullptr) {
            *error = EFAULT;
            return -1;
        }
        auto* query = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        const char* name = device.record.driver_bound ? "usb-storage"
                           : device.record.claimed    ? "usbfs"
                                                      : nullptr;
        (void)client;
        if (name == nullptr || query->interface != kInterface) {
            *error = ENODATA;
            return -1;
        }
        std::snprintf(query->driver, sizeof query->driver, "%s", name);
        return 0;
    }

    long Ioctl(Device& device, UMockdevIoctlClient* ioctl_client, int* error) {
        Client& client = ClientOf(device, ioctl_client);
        ++device.record.ioctls;
        const gulong request = umockdev_ioctl_client_get_request(ioctl_client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(ioctl_client);
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
            return Reap(client, arg, error);
        if (client.gone) {
            *error = ENODEV;
            return -1;
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                auto* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
                const uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION |
                                      USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                      USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
                std::memcpy(data->data, &caps, sizeof caps);
                return 0;
            }
            case USBDEVFS_SUBMITURB:
                return Submit(device, client, arg, error);
            case USBDEVFS_DISCARDURB:
                return Discard(device, client, ioctl_client, arg, error);
            case USBDEVFS_CLAIMINTERFACE:
                return Claim(device, client, error);
            case USBDEVFS_RELEASEINTERFACE:
                return Release(device, client, error);
            case USBDEVFS_GETDRIVER:
                return Driver(device, client, arg, error);
            case USBDEVFS_DISCONNECT_CLAIM:
                Detach(device);
                return Claim(device, client, error);
            case USBDEVFS_IOCTL: {
                auto* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
                const auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
                if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                    if (Detach(device)) return 0;
                    *error = ENODATA;
                    return -1;
                }
                if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                    if (device.record.claimed) {
                        *error = EBUSY;
                        return -1;
                    }
                    if (device.spec.storage_driver && !device.record.driver_bound) {
                        device.record.driver_bound = true;
                        ++device.record.attaches;
                    }
                    return 0;
                }
                *error = ENOTTY;
                return -1;
            }
            case USBDEVFS_CLEAR_HALT: {
                auto* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
                unsigned endpoint = 0;
                std::memcpy(&endpoint, data->data, sizeof endpoint);
                ++device.record.clear_halts;
                const bool ok =
                    device.receiver != nullptr && (endpoint == kBulkIn || endpoint == kBulkOut) &&
                    device.receiver->ClearHalt(client.generation,
                                               endpoint == kBulkIn ? emulator::Endpoint::kBulkIn
                                                                   : emulator::Endpoint::kBulkOut);
                if (ok) return 0;
                *error = EINVAL;
                return -1;
            }
            case USBDEVFS_RESET:
                ++device.record.port_resets;
                if (device.receiver != nullptr) device.receiver->ResetPort(client.generation);
                return 0;
            default:
                std::fprintf(stderr, "usbdevfs testbed: unhandled ioctl 0x%lx on %s\n",
                             static_cast<unsigned long>(request), device.devnode.c_str());
                *error = ENOTTY;
                return -1;
        }
    }

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
        auto* pair = static_cast<std::pair<State*, Device*>*>(data);
        int error = 0;
        const long result = pair->first->Ioctl(*pair->second, client, &error);
        Complete(client, result, result < 0 ? error : 0);
        return TRUE;
    }

    static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
        auto* pair = static_cast<std::pair<State*, Device*>*>(data);
        Device& device = *pair->second;
        auto found = device.clients.find(client);
        if (found == device.clients.end()) return;
        // A closed node gives its interface back and its URBs are dropped, as the kernel does.
        if (found->second.claimed) device.record.claimed = false;
        for (Urb& urb : found->second.pending) g_object_unref(urb.data);
        for (Urb& urb : found->second.reapable) g_object_unref(urb.data);
        device.clients.erase(found);
    }

    // Creates the sysfs entry and the node, and attaches the handler (on the handler thread,
    // whose main context then runs it).
    void Plug(Device& device) {
        device.address = next_address++;
        char devnode[64];
        std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", device.address);
        device.devnode = devnode;
        const std::string devnum = std::to_string(device.address);
        std::string hex;
        for (unsigned char byte : Descriptors(device.spec)) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", byte);
            hex += pair;
        }
        // One description, so the "add" uevent finds every attribute in place.
        const std::string description =
            "P: /devices/" + device.name + "\nN: " + std::string(devnode + 5) +
            "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + devnode +
            "\nE: BUSNUM=001\nE: DEVNUM=" + devnum + "\nA: busnum=1\\n\nA: devnum=" + devnum +
            "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\nA: dev=189:" +
            std::to_string(device.address - 1) + "\\n\nH: descriptors=" + hex + "\n";
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
            std::fprintf(stderr, "usbdevfs testbed: cannot add %s: %s\n", devnode,
                         error != nullptr ? error->message : "?");
            g_clear_error(&error);
        }
        device.syspath = "/sys/devices/" + device.name;
        if (!umockdev_testbed_attach_ioctl(testbed, devnode, device.handler, &error)) {
            std::fprintf(stderr, "usbdevfs testbed: cannot attach %s: %s\n", devnode,
                         error != nullptr ? error->message : "?");
            g_clear_error(&error);
        }
        // A description added from text raises no uevent of its own; watchers learn of the
        // device from this one.
        umockdev_testbed_uevent(testbed, device.syspath.c_str(), "add");
    }

    std::vector<UMockdevIoctlData*> lost;  // URBs whose cancel was lost
    std::vector<std::unique_ptr<std::pair<State*, Device*>>> bindings;
};

Testbed::Testbed() : state_(std::make_unique<State>()) {
    state_->testbed = umockdev_testbed_new();
    state_->context = g_main_context_new();
    state_->loop = g_main_loop_new(state_->context, FALSE);
    std::promise<void> running;
    state_->thread = std::thread([this, &running] {
        g_main_context_push_thread_default(state_->context);
        running.set_value();
        g_main_loop_run(state_->loop);
        g_main_context_pop_thread_default(state_->context);
    });
    running.get_future().wait();
}

Testbed::~Testbed() {
    state_->OnHandlerThread([this] {
        for (auto& device : state_->devices) {
            if (!device->syspath.empty()) {
                umockdev_testbed_detach_ioctl(state_->testbed, device->devnode.c_str(), nullptr);
                umockdev_testbed_remove_device(state_->testbed, device->syspath.c_str());
            }
            for (auto& [client, state] : device->clients) {
                for (Urb& urb : state.pending) g_object_unref(urb.data);
                for (Urb& urb : state.reapable) g_object_unref(urb.data);
            }
            g_object_unref(device->handler);
        }
        for (UMockdevIoctlData* data : state_->lost) g_object_unref(data);
        g_object_unref(state_->testbed);
    });
    g_main_loop_quit(state_->loop);
    state_->thread.join();
    g_main_loop_unref(state_->loop);
    g_main_context_unref(state_->context);
}

int Testbed::AddDevice(const DeviceSpec& spec, emulator::EmulatedReceiver* receiver) {
    int number = 0;
    state_->OnHandlerThread([&] {
        auto device = std::make_unique<Device>();
        device->spec = spec;
        device->receiver = receiver;
        device->name = "1-" + std::to_string(state_->devices.size() + 1);
        device->record.driver_bound = spec.storage_driver;
        device->handler = umockdev_ioctl_base_new();
        auto binding = std::make_unique<std::pair<State*, Device*>>(state_.get(), device.get());
        g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(State::OnIoctl),
                         binding.get());
        g_signal_connect(device->handler, "client-vanished", G_CALLBACK(State::OnVanished),
                         binding.get());
        state_->bindings.push_back(std::move(binding));
        state_->Plug(*device);
        number = static_cast<int>(state_->devices.size());
        state_->devices.push_back(std::move(device));
    });
    return number;
}

void Testbed::Unplug(int number) {
    state_->OnHandlerThread([&] {
        Device& device = *state_->devices.at(static_cast<size_t>(number));
        if (device.syspath.empty()) return;
        if (device.receiver != nullptr) device.receiver->Unplug();
        for (auto& [ioctl_client, client] : device.clients) {
            client.gone = true;
            for (Urb& urb : client.pending) state_->Finish(client, urb, -ESHUTDOWN, 0);
            client.pending.clear();
        }
        umockdev_testbed_uevent(state_->testbed, device.syspath.c_str(), "remove");
        umockdev_testbed_remove_device(state_->testbed, device.syspath.c_str());
        device.syspath.clear();
        device.record.claimed = false;
        device.record.driver_bound = false;
    });
}

void Testbed::Replug(int number) {
    state_->OnHandlerThread([&] {
        Device& device = *state_->devices.at(static_cast<size_t>(number));
        if (!device.syspath.empty()) return;
        umockdev_testbed_detach_ioctl(state_->testbed, device.devnode.c_str(), nullptr);
        device.record.driver_bound = device.spec.storage_driver;
        if (device.receiver != nullptr) device.receiver->Plug();
        state_->Plug(device);
    });
}

void Testbed::SetCancelDelayMs(int number, uint32_t milliseconds) {
    state_->OnHandlerThread(
        [&] { state_->devices.at(static_cast<size_t>(number))->cancel_delay_ms = milliseconds; });
}

void Testbed::SetLoseCancels(int number, bool lose) {
    state_->OnHandlerThread(
        [&] { state_->devices.at(static_cast<size_t>(number))->lose_cancels = lose; });
}

DeviceRecord Testbed::Record(int number) {
    DeviceRecord record;
    state_->OnHandlerThread(
        [&] { record = state_->devices.at(static_cast<size_t>(number))->record; });
    return record;
}

}  // namespace usbdevfs
