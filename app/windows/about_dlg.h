// The About box: the program's name and version and two coloured texts. At start it is the
// splash, shown without owner, that closes itself after two seconds (timer 777).
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

class CAboutDlg : public wxDialog {
  public:
    enum : int { kIdSlogan = 1050, kIdAboutText = 1051, kIdVersion = 1054 };
    static constexpr int kSplashTimerId = 777;
    static constexpr int kSplashMilliseconds = 2000;

    // With `splash` set, the box arms the splash timer when it is created.
    CAboutDlg(wxWindow* parent, bool splash);

    bool IsSplash() const { return splash_; }
    const wxTimer& SplashTimer() const { return timer_; }

  private:
    void OnTimer(wxTimerEvent& event);
    void CloseAsOk();

    bool splash_;
    wxTimer timer_;
};
