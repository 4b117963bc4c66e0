// tessel-gui: the window program.
#include <wx/init.h>

#include <cstdio>

#include "app/windows/ov_usb_app.h"

int main(int argc, char** argv) {
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr,
                     "tessel-gui: cannot open a display; the command line 'tessel' works "
                     "without one.\n");
        return 1;
    }
    if (wxTheApp->CallOnInit()) wxGetApp().InitInstance();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return 0;
}
