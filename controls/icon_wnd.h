// The part of the search field the native entry does not let us paint: a borderless window
// over the field's left end that paints its 16 x 16 icon at (1, 1) on the window colour and,
// while the field asks for it, the hint text after the icon (widened over the field then).
// A click on it gives the field the focus.
#pragma once

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/window.h>

inline constexpr int kSmallIconSize = 16;

class CIconWnd : public wxWindow {
  public:
    // `field` is the window a click focuses; the icon window is the field's sibling.
    CIconWnd(wxWindow* parent, wxWindow* field);

    void SetIcon(const wxBitmap& icon);
    // The hint drawn after the icon while ShowHint(true); empty for none.
    void SetHint(const wxString& hint, const wxFont& font, const wxColour& colour);
    void ShowHint(bool show);
    bool IsHintShown() const { return hint_shown_; }
    // Moves over `interior`, the field's inside in parent coordinates: its left end only,
    // or all of it while the hint shows.
    void Cover(const wxRect& interior);

    bool AcceptsFocus() const override { return false; }

  private:
    void OnPaint(wxPaintEvent& event);
    void OnClick(wxMouseEvent& event);

    wxWindow* field_;
    wxBitmap icon_;
    wxString hint_;
    wxFont hint_font_;
    wxColour hint_colour_;
    bool hint_shown_ = false;
    wxRect interior_;
};
