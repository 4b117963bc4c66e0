// A push button that draws itself from a skin: a strip of five frames side by side, scaled
// by nine slices to the button, with an optional icon and bitmap and a caption over it.
#pragma once

#include <wx/bitmap.h>
#include <wx/control.h>
#include <wx/image.h>

#include "controls/auto_font.h"
#include "controls/nine_slice.h"

class CSXButton : public wxControl {
  public:
    // The states a skin has a frame for, in the order the state bitmaps are kept.
    enum State { kNormal, kPressed, kHot, kDisabled, kStateCount };

    CSXButton(wxWindow* parent, wxWindowID id, const wxString& label,
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

    // Replaces the embedded skin: `frame_count` equal frames side by side, of which 0 is
    // normal, 1 pressed, 2 disabled and 3 hot.
    void SetSkin(const wxImage& strip, int frame_count);
    // The icon and the bitmap drawn over the skin; wxDefaultPosition (-1, -1) centres them.
    void SetIcon(const wxBitmap& icon, const wxPoint& pos = wxDefaultPosition);
    void SetBitmap(const wxBitmap& bitmap, const wxPoint& pos = wxDefaultPosition);
    // The caption's top-left corner; wxDefaultPosition centres it.
    void SetTextPosition(const wxPoint& pos);
    CAutoFont& GetAutoFont() { return font_; }

    // The state the button is drawn in now.
    State GetDrawState() const;

    bool AcceptsFocus() const override { return IsEnabled(); }
    bool Enable(bool enable = true) override;

  protected:
    wxSize DoGetBestSize() const override;

  private:
    void OnPaint(wxPaintEvent& event);
    void OnMouseDown(wxMouseEvent& event);
    void OnMouseUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnEnter(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnFocusChange(wxFocusEvent& event);
    void OnSize(wxSizeEvent& event);

    void BuildStateBitmaps();
    void DrawContent(wxDC& dc, const wxRect& client, State state, int shift);
    void Click();

    wxImage skin_;
    int frame_count_ = 5;
    SliceMargins margins_{15, 12, 8, 9};
    wxColour key_colour_{255, 0, 255};
    wxBitmap states_[kStateCount];
    wxSize states_size_;
    wxBitmap icon_;
    wxPoint icon_pos_ = wxDefaultPosition;
    wxBitmap bitmap_;
    wxPoint bitmap_pos_ = wxDefaultPosition;
    wxPoint text_pos_ = wxDefaultPosition;
    bool hover_ = false;
    bool mouse_down_ = false;  // the left button went down on the button and is still held
    bool key_down_ = false;    // Space is held while the button has the focus
    bool pressed_ = false;     // drawn pressed: held and (for the mouse) over the button
    CAutoFont font_;
};
