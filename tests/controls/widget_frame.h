// A frame with a panel of a known colour for one widget under test, shown on the screen.
#pragma once

#include <wx/frame.h>
#include <wx/panel.h>

#include <memory>

struct FrameDeleter {
    void operator()(wxFrame* frame) const;
};

class WidgetFrame {
  public:
    WidgetFrame();
    wxPanel* panel() const { return panel_; }
    wxFrame* frame() const { return frame_.get(); }
    // Shows the frame and waits until the X server shows it.
    void Show();

  private:
    std::unique_ptr<wxFrame, FrameDeleter> frame_;
    wxPanel* panel_;
};

inline const wxColour kPanelColour(0xF0, 0xF0, 0xE0);
