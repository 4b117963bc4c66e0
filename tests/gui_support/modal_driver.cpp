#include "tests/gui_support/modal_driver.h"

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

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
// A modal dialog on the screen that is not one of `before`; the newest such one.
wxDialog* NewModalDialog(const std::vector<wxDialog*>& before) {
    wxDialog* found = nullptr;
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        if (dialog != nullptr && dialog->IsModal() && dialog->IsShownOnScreen() &&
            std::find(before.begin(), before.end(), dialog) == before.end())
            found = dialog;
    }
    return found;
}

// Looks for the dialog every 50 ms from a timer, so that nothing waits in between: the code
// under test may open it only after long work that handles events meanwhile. Once it has
// acted, it watches that dialog end; one still open after the bound is ended, so that the
// test fails instead of hanging.
class DialogWatcher : public wxTimer {
  public:
    DialogWatcher(std::function<void(wxDialog&)> act, int bound_ms)
        : act_(std::move(act)), bound_ms_(bound_ms) {
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* dialog = dynamic_cast<wxDialog*>(window);
                dialog != nullptr && dialog->IsModal())
                before_.push_back(dialog);
        Live().insert(this);
        Start(50);
    }
    ~DialogWatcher() override { Live().erase(this); }

    static std::set<DialogWatcher*>& Live() {
        static std::set<DialogWatcher*> live;
        return live;
    }

    void Notify() override {
        waited_ms_ += 50;
        if (acting_) return;
        if (acted_ != nullptr) {
            if (!IsOpenModal(acted_)) return Finish();
            if (waited_ms_ > bound_ms_) {
                acted_->EndModal(kStillOpen);
                Finish();
            }
            return;
        }
        wxDialog* dialog = NewModalDialog(before_);
        if (dialog == nullptr) {
            if (waited_ms_ > bound_ms_) Finish();
            return;
        }
        acting_ = true;
        waited_ms_ = 0;
        PumpFor(100);
        act_(*dialog);
        acting_ = false;
        acted_ = dialog;
    }

  private:
    static bool IsOpenModal(wxDialog* dialog) {
        for (wxWindow* window : wxTopLevelWindows)
            if (window == dialog) return dialog->IsModal();
        return false;
    }
    void Finish() {
        Stop();
        wxTheApp->CallAfter([this] { delete this; });
    }
    std::function<void(wxDialog&)> act_;
    int bound_ms_;
    int waited_ms_ = 0;
    bool acting_ = false;
    wxDialog* acted_ = nullptr;
    std::vector<wxDialog*> before_;
};
}  // namespace

void WhenDialogShows(const std::function<void(wxDialog&)>& act, int bound_ms) {
    new DialogWatcher(act, bound_ms);  // deletes itself when done
}

void StopDialogWatchers() {
    const std::set<DialogWatcher*> live = DialogWatcher::Live();
    for (DialogWatcher* watcher : live) delete watcher;
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
