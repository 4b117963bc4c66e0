#include "cli/disk_connection.h"

#include <cstdlib>
#include <sstream>

#include "app/settings.h"
#include "emulator/emulated_link_backend.h"
#include "pvrdisk/link/libusb_link_backend.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "pvrdisk/transport/image_block_device.h"
#include "transfer/receiver_errors.h"

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
    pcfm_release();
    if (linked_) CloseUSBDrv();
    if (direct_) CloseBlockImage();
    emulator::AttachEmulatedReceiver(nullptr);
}

const pcfm_blkdrv& DiskConnection::BlockDriver() const {
    return direct_ ? image_block_driver : usb_block_driver;
}

bool DiskConnection::Open(const DiskChoice& choice, std::string* error, bool mount) {
    if (!choice.image.empty()) {
        if (!OpenBlockImage(choice.image, false)) {
            *error = "cannot open " + choice.image + " for reading and writing";
            return false;
        }
        direct_ = true;
        sectors_ = BlockImageSectorCount();
        pcfm_set_block_driver(&image_block_driver);
    } else {
        if (!choice.emulate_image.empty()) {
            emulated_ = std::make_unique<emulator::EmulatedReceiver>();
            if (!emulated_->Open(choice.emulate_image)) {
                *error = "cannot open the image " + choice.emulate_image;
                return false;
            }
            emulator::FaultPlan plan;
            if (!ParseFaultPlan(choice.emulate_fault, &plan, error)) return false;
            emulated_->SetFaultPlan(plan);
            emulator::AttachEmulatedReceiver(emulated_.get());
            SetLinkBackend(emulator::EmulatedLinkBackend());
            sectors_ = emulated_->SectorCount();
        } else {
            if (!choice.device.empty()) {
                if (!ParseUsbId(choice.device)) {
                    *error =
                        "--device wants the USB ids as vvvv:pppp (hexadecimal), as lsusb shows "
                        "them";
                    return false;
                }
                setenv("TESSEL_USB_DEVICE", choice.device.c_str(), 1);
            }
            if (!ConfiguredUsbDevice()) {
                *error =
                    "no receiver chosen: give --device VID:PID (see 'tessel devices'), set "
                    "UsbDevice in the settings file, or try --emulate IMAGE";
                return false;
            }
            SetLinkBackend(LibusbLinkBackend());
        }
        SetTransferBufferSize(settings::BufferSize());
        CreateTransferEvents();
        if (!InitDevice()) {
            *error =
                "the receiver does not answer: is it switched on and plugged in, and may this "
                "user open it (udev rule)?";
            CloseUSBDrv();
            return false;
        }
        linked_ = true;
        pcfm_set_block_driver(&usb_block_driver);
    }
    if (!mount) return true;
    const int mounted = OV_FILE_init();
    if (mounted != 0) {
        *error = "the receiver's disk cannot be mounted: " + ReceiverErrorText(mounted) +
                 "; 'tessel check' tells what is wrong with it";
        return false;
    }
    return true;
}
