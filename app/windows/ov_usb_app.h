// The application object: one copy of the program at a time, the About box as a splash, the
// process on one processor, the profile store, the log, and the main window run modally. The
// whole life of the program is inside InitInstance().
#pragma once

#include <wx/app.h>

#include <memory>

#include "app/windows/window_messages.h"

class COV_USBApp : public wxApp {
  public:
    // The single-instance lock's name.
    static constexpr const char* kInstanceName = "{60ADA1EE-B2A9-45d8-BC9D-1C303CE23595}";

    bool OnInit() override;
    // Runs the program; false always, as the program ends when the main window returns.
    bool InitInstance();

  private:
    // Lets the splash paint; false when a quit request came in meanwhile.
    bool PumpSplash();
    void InstallQuitHandlers();

    WindowMessages messages_;
};

struct DiskChoice;
// The receiver the command line names: --device VID:PID, --emulate IMAGE [--emulate-fault
// PLAN], --image PATH; other arguments are ignored.
DiskChoice ParseDiskChoice(int argc, wxChar** argv);

wxDECLARE_APP(COV_USBApp);
