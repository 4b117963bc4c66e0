#include "tests/gui_support/modal_driver.h"

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include <memory>

#include "tests/gui_support/window_test_support.h"

namespace window_test {

int DriveModal(wxDialog& dialog, const std::function<int()>& show,
               const std::function<void(wxDialog&)>& act, int bound_ms) {
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (dialog.IsModal()) dialog.EndModal(kStillOpen);
    });
    guard.StartOnce(bound_ms);
    // `running` tells the queued call whether the dialog is still there: a `show` that returns
    // without showing leaves the call to run later, on nothing.
    auto running = std::make_shared<bool>(true);
    wxTheApp->CallAfter([running, &dialog, &act, bound_ms] {
        if (!PumpUntil([&] { return !*running || dialog.IsShownOnScreen(); }, bound_ms)) return;
        if (!*running) return;
        PumpFor(100);
        if (*running) act(dialog);
    });
    const int result = show();
    *running = false;
    guard.Stop();
    return result;
}

namespace {
wxDialog* ShownModalDialog() {
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        if (dialog != nullptr && dialog->IsModal() && dialog->IsShownOnScreen()) return dialog;
    }
    return nullptr;
}
}  // namespace

void WhenDialogShows(const std::function<void(wxDialog&)>& act, int bound_ms) {
    wxTheApp->CallAfter([act, bound_ms] {
        if (!PumpUntil([] { return ShownModalDialog() != nullptr; }, bound_ms)) return;
        wxDialog* dialog = ShownModalDialog();
        // One guard for the whole run, kept past wx's own clean-up on purpose.
        static wxTimer* guard = [] {
            auto* timer = new wxTimer;
            timer->Bind(wxEVT_TIMER, [](wxTimerEvent&) {
                if (wxDialog* open = ShownModalDialog()) open->EndModal(kStillOpen);
            });
            return timer;
        }();
        guard->StartOnce(bound_ms);
        PumpFor(100);
        act(*dialog);
    });
}

wxPoint CentreOf(wxWindow* window) {
    const wxRect area = window->GetScreenRect();
    return wxPoint(area.x + area.width / 2, area.y + area.height / 2);
}

void Click(wxWindow* window) {
    wxUIActionSimulator simulator;
    simulator.MouseMove(CentreOf(window));
    PumpFor(30);
    simulator.MouseClick();
    PumpFor(30);
}

void PressKey(int key, int modifiers) {
    wxUIActionSimulator simulator;
    simulator.Char(key, modifiers);
    PumpFor(30);
}

}  // namespace window_test
