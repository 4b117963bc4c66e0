// A short demonstration of the link: an emulated receiver over a fresh image, connected
// through the real link and transport, sectors written and read back, and what it took.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/log.h"
#include "emulator/emulated_link_backend.h"
#include "emulator/emulated_receiver.h"
#include "platform/profile_store.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/transport/bulk_only_transport.h"

int main() {
    char folder[] = "/tmp/tessel-demo-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string image = std::string(folder) + "/receiver.img";
    {
        FILE* f = std::fopen(image.c_str(), "wb");
        if (f == nullptr || ftruncate(fileno(f), 64 << 20) != 0) return 1;
        std::fclose(f);
    }
    platform::Profile().WriteString("Settings", "Path Log", std::string(folder) + "/logs");
    platform::Profile().WriteInt("Settings", "LogLevel", 2);
    StartLog();

    emulator::EmulatedReceiver receiver;
    receiver.Open(image);
    emulator::AttachEmulatedReceiver(&receiver);
    SetLinkBackend(emulator::EmulatedLinkBackend());
    CreateTransferEvents();
    std::printf("Receiver attached: %s\n", CheckDeviceAttached() ? "yes" : "no");
    if (!InitDevice()) {
        std::printf("Connecting failed\n");
        return 1;
    }
    std::printf("Connected: both pipes open below %s\n", emulator::kEmulatedDevicePath);

    std::vector<uint8_t> out(300 * 512), in(300 * 512);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7 + i / 512);
    pcfm_blkreq request{};
    request.buffer = out.data();
    request.count = 300;
    const int wrote = usb_block_driver.write(1000, &request);
    request.buffer = in.data();
    request.count = 300;
    const int read = usb_block_driver.read(1000, &request);
    const bool same = wrote == 0 && read == 0 && std::memcmp(out.data(), in.data(), in.size()) == 0;
    const emulator::Counters c = receiver.GetCounters();
    std::printf("Wrote 300 sectors at sector 1000 and read them back: %s\n",
                same ? "identical" : "DIFFERENT");
    std::printf(
        "Bulk-only commands: %llu (128 + 128 + 44 sectors each way), bytes out %llu, in "
        "%llu\n",
        static_cast<unsigned long long>(c.commands),
        static_cast<unsigned long long>(c.bytes_to_device),
        static_cast<unsigned long long>(c.bytes_from_device));

    receiver.Unplug();
    request.buffer = in.data();
    request.count = 1;
    const int failed = usb_block_driver.read(0, &request);
    std::printf("Receiver pulled out: a read %s\n",
                failed ? "fails, the link was reset" : "passed");
    receiver.Plug();
    Connect_ReopenPIPE();
    request.buffer = in.data();
    request.count = 1;
    std::printf("Plugged in again and reopened: a read %s\n",
                usb_block_driver.read(1000, &request) == 0 ? "works" : "fails");
    CloseUSBDrv();
    std::printf("Log written to %s\n", GetLogFilePath().c_str());
    return same ? 0 : 1;
}
