#include "cli/disk_connection.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "app/settings.h"
#include "emulator/emulated_link_backend.h"
#include "platform/profile_store.h"
#include "pvrdisk/link/libusb_link_backend.h"

bool ParseFaultPlan(const std::string& text, emulator::FaultPlan* plan, std::string* error) {
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        char* end = nullptr;
        const unsigned long long value =
            eq == std::string::npos ? 0 : std::strtoull(item.c_str() + eq + 1, &end, 10);
        if (eq == std::string::npos || end == nullptr || *end != '\0') {
            *error = "--emulate-fault: '" + item + "' is not name=number";
            return false;
        }
        if (key == "unplug-at")
            plan->unplug_at_command = value;
        else if (key == "unplug-after-bytes")
            plan->unplug_after_bytes = value;
        else if (key == "replug-after")
            plan->replug_after_ms = static_cast<uint32_t>(value);
        else if (key == "fail-transfer")
            plan->fail_transfer_at = value;
        else if (key == "latency")
            plan->latency_per_command_ms = static_cast<uint32_t>(value);
        else {
            *error =
                "--emulate-fault: unknown fault '" + key +
                "' (known: unplug-at, unplug-after-bytes, replug-after, fail-transfer, latency)";
            return false;
        }
    }
    return true;
}

DiskConnection::~DiskConnection() {
    receiver_.Close();
    emulator::AttachEmulatedReceiver(nullptr);
    // For benchmarks: what the emulated receiver moved, and what its link model says a real
    // link would have taken for exactly these commands.
    const char* stats = std::getenv("TESSEL_EMULATE_STATS");
    if (emulated_ != nullptr && stats != nullptr && *stats != '\0') {
        const emulator::Counters c = emulated_->GetCounters();
        if (std::FILE* out = std::fopen(stats, "w")) {
            std::fprintf(out, "commands %llu\nbytes %llu\nmodeled_seconds %.6f\n",
                         static_cast<unsigned long long>(c.commands),
                         static_cast<unsigned long long>(c.bytes_to_device + c.bytes_from_device),
                         c.modeled_seconds);
            std::fclose(out);
        }
    }
}

bool DiskConnection::Open(const DiskChoice& choice, std::string* error, bool mount,
                          bool read_only) {
    return Prepare(choice, error, read_only) && receiver_.Open(config_, error, mount);
}

bool DiskConnection::Prepare(const DiskChoice& choice, std::string* error, bool read_only) {
    ReceiverConfig& config = config_;
    config = ReceiverConfig();
    config.buffer_size = settings::BufferSize();
    if (!choice.image.empty()) {
        config.image = choice.image;
        config.read_only = read_only;
    } else if (!choice.emulate_image.empty()) {
        emulated_ = std::make_unique<emulator::EmulatedReceiver>();
        if (!emulated_->Open(choice.emulate_image)) {
            *error = "cannot open the image " + choice.emulate_image + " for the emulated receiver";
            return false;
        }
        emulator::FaultPlan plan;
        if (!ParseFaultPlan(choice.emulate_fault, &plan, error)) return false;
        emulated_->SetFaultPlan(plan);
        if (choice.emulate_speed == "usb2") {
            emulator::LinkModel usb2;  // the model's defaults are USB 2.0 high speed
            usb2.paced = true;
            emulated_->SetLinkModel(usb2);
        }
        emulator::AttachEmulatedReceiver(emulated_.get());
        config.backend = &emulator::EmulatedLinkBackend();
        config.backing_file = choice.emulate_image;
        config.sectors = emulated_->SectorCount();
    } else {
        // The ids come from --device, else TESSEL_USB_DEVICE, else the setting UsbDevice; a
        // value that is no id is named with where it came from.
        std::optional<UsbId> id;
        const char* forced = std::getenv("TESSEL_USB_DEVICE");
        const std::string setting = platform::Profile().GetString("Settings", "UsbDevice", "");
        const std::string value = !choice.device.empty() ? choice.device
                                  : forced != nullptr    ? std::string(forced)
                                                         : setting;
        const std::string origin = !choice.device.empty() ? "--device"
                                   : forced != nullptr
                                       ? "TESSEL_USB_DEVICE"
                                       : "UsbDevice in " + platform::DefaultProfilePath();
        if (!value.empty()) {
            id = ParseUsbId(value);
            if (!id) {
                *error = origin + " is '" + value +
                         "', which is no USB id: write them as vvvv:pppp (hexadecimal), as lsusb "
                         "shows them";
                usage_problem_ = true;
                return false;
            }
        }
        if (!id) {
            *error =
                "no receiver chosen: give --device VID:PID (see 'tessel devices'), set UsbDevice "
                "in the settings file, or try --emulate IMAGE";
            return false;
        }
        SetLibusbDevice(id);
        config.backend = &LibusbLinkBackend();
    }
    return true;
}
