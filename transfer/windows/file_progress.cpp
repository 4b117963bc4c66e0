#include "transfer/windows/file_progress.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include "app/log.h"

namespace {
// Idle handlers that keep asking for more are not run for ever inside a step.
constexpr int kMaxIdleRounds = 50;

wxRect Units(wxWindow* window, int x, int y, int w, int h) {
    return wxRect(window->ConvertDialogToPixels(wxPoint(x, y)),
                  window->ConvertDialogToPixels(wxSize(w, h)));
}
}  // namespace

CFileProgress& CFileProgress::Get() {
    static CFileProgress progress;
    return progress;
}

void CFileProgress::Create(wxWindow* parent) {
    LogScope scope("CFileProgress::Create", 3);
    DestroyWindow();
    stop_ = false;
    texts_ = ProgressTexts();
    window_ = new wxDialog(parent, wxID_ANY, "Progress", wxDefaultPosition, wxDefaultSize,
                           wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU);
    wxDialog* w = window_;
    file_ = new wxStaticText(w, kIdFile, "", Units(w, 7, 7, 273, 8).GetPosition(),
                             Units(w, 7, 7, 273, 8).GetSize(), wxST_ELLIPSIZE_MIDDLE);
    status_ = new wxStaticText(w, kIdStatus, "", Units(w, 7, 17, 273, 20).GetPosition(),
                               Units(w, 7, 17, 273, 20).GetSize());
    file_bar_ = new wxGauge(w, kIdFileBar, 100, Units(w, 7, 38, 273, 12).GetPosition(),
                            Units(w, 7, 38, 273, 12).GetSize());
    overall_bar_ = new wxGauge(w, kIdOverallBar, 100, Units(w, 7, 55, 273, 12).GetPosition(),
                               Units(w, 7, 55, 273, 12).GetSize());
    auto* shut_down =
        new wxCheckBox(w, kIdShutDown, "Shut down PC when copying files completed",
                       Units(w, 7, 76, 226, 10).GetPosition(), Units(w, 7, 76, 226, 10).GetSize());
    shut_down->SetValue(shut_down_);
    auto* cancel = new wxButton(w, kIdCancel, "Cancel", Units(w, 236, 75, 44, 13).GetPosition(),
                                Units(w, 236, 75, 44, 13).GetSize());
    cancel->SetDefault();
    w->SetClientSize(w->ConvertDialogToPixels(wxSize(287, 95)));

    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { stop_ = true; });
    shut_down->Bind(wxEVT_CHECKBOX,
                    [this](wxCommandEvent& event) { shut_down_ = event.IsChecked(); });
    // Escape and the close box stop the transfer; the window stays until the transfer has
    // ended and its owner destroys it, so it is never destroyed under its own Update.
    w->SetEscapeId(wxID_NONE);
    w->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE) {
            stop_ = true;
            return;
        }
        event.Skip();
    });
    w->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        stop_ = true;
        if (event.CanVeto()) event.Veto();
    });
    w->CentreOnParent();
    w->Show();
}

void CFileProgress::DestroyWindow() {
    if (window_ == nullptr) return;
    window_->Destroy();
    window_ = nullptr;
    file_ = status_ = nullptr;
    file_bar_ = overall_bar_ = nullptr;
}

void CFileProgress::Pump() {
    // Handling the waiting events re-enters every window of the program, the main window
    // included (a receiver pulled out or plugged in is seen here during a copy). A nested
    // Update from inside them sets its texts only.
    if (pumping_ || wxTheApp == nullptr) return;
    pumping_ = true;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop == nullptr) {
        // Outside any event loop (a copy driven without the main window, as tests do): the
        // application's own yield does the same.
        wxTheApp->Yield(true);
    }
    while (loop != nullptr && loop->Pending() && loop->Dispatch()) {
    }
    // Events posted to windows (a device change from the link's backend among them).
    wxTheApp->ProcessPendingEvents();
    for (int round = 0; round < kMaxIdleRounds && wxTheApp->ProcessIdle(); ++round) {
    }
    pumping_ = false;
}

bool CFileProgress::Update(const std::string& text, float percent, int mode) {
    if (window_ != nullptr) {
        const int whole = percent <= 0 ? 0 : percent >= 100 ? 100 : static_cast<int>(percent);
        if (mode == kProgressFileName) {
            file_->SetLabel(wxString::FromUTF8(text));
        } else if (mode == kProgressFile) {
            status_->SetLabel(wxString::FromUTF8(text));
            file_bar_->SetValue(whole);
        } else if (mode == kProgressOverall) {
            overall_bar_->SetValue(whole);
        }
    }
    Pump();
    return !stop_ && !quit_;
}

bool CFileProgress::ProgressCallback(const TransferProgress& progress, void* context) {
    CFileProgress& self = context != nullptr ? *static_cast<CFileProgress*>(context) : Get();
    const ProgressLine line = self.texts_.Line(progress);
    return self.Update(line.text, line.percent, line.mode);
}
