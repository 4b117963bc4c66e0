#include "app/windows/ov_usb_app.h"

#include <wx/evtloop.h>
#include <wx/image.h>

#include <atomic>
#include <csignal>

#include "app/log.h"
#include "app/windows/about_dlg.h"
#include "app/windows/ov_usb_dlg.h"
#include "cli/disk_connection.h"
#include "platform/processor_affinity.h"
#include "platform/profile_store.h"
#include "platform/single_instance.h"
#include "platform/tick_count.h"
#include "pvrdisk/link/libusb_link_backend.h"
#include "transfer/receiver_lifecycle.h"

wxIMPLEMENT_APP_NO_MAIN(COV_USBApp);

namespace {
std::atomic<bool> g_quit_requested{false};
COV_USBDlg* g_main_dialog = nullptr;

// Called by wx from the event loop, not in the signal's context.
void OnQuitSignal(int) {
    g_quit_requested = true;
    if (g_main_dialog != nullptr) g_main_dialog->Close();
}
}  // namespace

DiskChoice ParseDiskChoice(int argc, wxChar** argv) {
    DiskChoice choice;
    for (int i = 1; i + 1 < argc; ++i) {
        const wxString option = argv[i];
        const std::string value = wxString(argv[i + 1]).utf8_string();
        if (option == "--device")
            choice.device = value;
        else if (option == "--emulate")
            choice.emulate_image = value;
        else if (option == "--emulate-fault")
            choice.emulate_fault = value;
        else if (option == "--emulate-speed")
            choice.emulate_speed = value;
        else if (option == "--image")
            choice.image = value;
        else
            continue;
        ++i;
    }
    return choice;
}

bool COV_USBApp::OnInit() {
    wxInitAllImageHandlers();
    SetAppName("OV Tessel USB");
    SetVendorName("Orvane");
    return true;
}

void COV_USBApp::InstallQuitHandlers() {
    SetSignalHandler(SIGTERM, OnQuitSignal);
    SetSignalHandler(SIGINT, OnQuitSignal);
    SetSignalHandler(SIGHUP, OnQuitSignal);
}

bool COV_USBApp::PumpSplash() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    while (loop != nullptr && loop->Pending()) {
        loop->Dispatch();
        if (g_quit_requested) return false;
    }
    while (ProcessIdle()) {
        if (g_quit_requested) return false;
    }
    return !g_quit_requested;
}

bool COV_USBApp::InitInstance() {
    // A second copy ends here, silently: no window, no message, no log.
    if (platform::TakeSingleInstanceLock(kInstanceName) != platform::InstanceLock::kTaken)
        return false;
    InstallQuitHandlers();

    wxEventLoop splash_loop;
    wxEventLoopActivator activate(&splash_loop);
    auto* splash = new CAboutDlg(nullptr, true);
    splash->Show();
    if (!PumpSplash()) return false;

    platform::BindToFirstProcessor();
    platform::SetProfile(platform::MakeKeyFileProfileStore(platform::DefaultProfilePath()));
    StartLog();
    LogLine("Log-Level: " + FormatDec(GetLogLevel()), 1);
    SetMessages(&messages_);

    // The receiver: the one the command line names (--device, --emulate, --image), else the
    // UsbDevice setting; with none the program runs with the PC pane alone.
    DiskConnection disk;
    std::unique_ptr<ReceiverLifecycle> lifecycle;
    std::string problem;
    if (disk.Prepare(ParseDiskChoice(argc, argv), &problem, false)) {
        lifecycle = std::make_unique<ReceiverLifecycle>(disk.Receiver(), disk.Config(),
                                                        [](int ms) { platform::SleepMs(ms); });
        if (disk.Config().backend == &LibusbLinkBackend()) StartUsbDeviceWatch();
    } else {
        LogLine("No receiver: " + problem, 1);
    }

    // The splash closes by its own timer while the main window runs; nothing waits for it.
    COV_USBDlg dialog(nullptr, lifecycle.get(), disk.Emulated());
    messages_.SetParent(&dialog);
    SetTopWindow(&dialog);
    g_main_dialog = &dialog;
    if (!g_quit_requested) dialog.ShowModal();
    g_main_dialog = nullptr;
    StopUsbDeviceWatch();
    messages_.SetParent(nullptr);
    SetMessages(nullptr);
    return false;
}
