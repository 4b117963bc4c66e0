// The entry of every window test: a wxApp without a main window, then GoogleTest. The cases
// create their windows themselves and drive them with wxUIActionSimulator.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

#include "tests/gui_support/modal_driver.h"

namespace {
class WindowTestApp : public wxApp {
  public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        return true;
    }
};

// A failed wx assertion fails the test where it happened instead of opening a dialog that
// nobody answers.
void FailOnAssert(const wxString& file, int line, const wxString& function, const wxString& cond,
                  const wxString& message) {
    ADD_FAILURE() << "wx assertion at " << file << ":" << line << " in " << function << ": " << cond
                  << " " << message;
}
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxSetAssertHandler(&FailOnAssert);
    wxApp::SetInstance(new WindowTestApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "no X display: window tests need one (scripts/with-xvfb.sh)\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    // Watchers that finished delete themselves from the queue; the others are ended here.
    wxTheApp->ProcessPendingEvents();
    window_test::StopDialogWatchers();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
