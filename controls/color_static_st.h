// A static text in colours of its own that understands a little markup (bold, line breaks,
// paragraphs, tab stops) and clickable links; it can blink.
#pragma once

#include <wx/control.h>
#include <wx/timer.h>

#include <string>
#include <vector>

#include "controls/markup_layout.h"

// Sent to the notify window on every blink, with the blink state (0 or 1) as its integer.
wxDECLARE_EVENT(EVT_COLOR_STATIC_BLINK, wxCommandEvent);

class CColorStaticST : public wxControl {
  public:
    CColorStaticST(wxWindow* parent, wxWindowID id, const wxString& text,
                   const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                   long style = 0);

    // Links are drawn blue and underlined and can be clicked only while the text is black.
    void SetTextColor(const wxColour& colour);
    void SetBlinkTextColors(const wxColour& first, const wxColour& second);
    void SetBkColor(const wxColour& colour);
    void SetBlinkBkColors(const wxColour& first, const wxColour& second);
    // Transparent (the default) shows the parent's background behind the text.
    void SetTransparent(bool transparent);
    void SetTabStops(std::vector<int> stops);
    // Alternates the text and/or the background colours every `period_ms`.
    void EnableBlink(bool text, bool background, int period_ms = 500);
    // On every blink, sends EVT_COLOR_STATIC_BLINK to `window` (nullptr: none).
    void EnableNotify(wxWindow* window) { notify_window_ = window; }

    void SetLabel(const wxString& text) override;
    // The size the text needs when laid out `width` pixels wide, in the control's font.
    wxSize MeasureText(wxDC& dc, int width) const;
    // The layout of the last painting; its links, when clickable, are the ones remembered.
    const MarkupLayout& GetLayout() const { return layout_; }
    bool LinksActive() const;

  protected:
    wxSize DoGetBestSize() const override;

  private:
    MarkupLayout LayOut(wxDC& dc, int width) const;
    void OnPaint(wxPaintEvent& event);
    void OnMouseUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnBlink(wxTimerEvent& event);
    const MarkupWord* LinkAt(const wxPoint& point) const;

    wxColour text_colour_;
    wxColour blink_text_colour_;
    wxColour background_colour_;
    wxColour blink_background_colour_;
    bool transparent_ = true;
    std::vector<int> tab_stops_ = kDefaultTabStops;
    wxTimer blink_timer_;
    bool blink_text_ = false;
    bool blink_background_ = false;
    bool blink_state_ = false;
    wxWindow* notify_window_ = nullptr;
    MarkupLayout layout_;
    bool over_link_ = false;
};
