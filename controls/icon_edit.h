// The search field: a single-line text field with an icon at its left end and a grey
// italic hint while it is empty and does not have the focus.
#pragma once

#include <wx/textctrl.h>

#include "controls/auto_font.h"
#include "controls/icon_wnd.h"

class CIconEdit : public wxTextCtrl {
  public:
    CIconEdit(wxWindow* parent, wxWindowID id, const wxString& value = wxString(),
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

    void SetIcon(const wxBitmap& icon);
    void SetHintText(const wxString& hint);
    // Whether the hint is on the screen now.
    bool IsHintShown() const { return icon_window_ != nullptr && icon_window_->IsHintShown(); }
    CIconWnd* GetIconWindow() const { return icon_window_; }

    bool SetFont(const wxFont& font) override;
    bool Show(bool show = true) override;

  private:
    void ApplyTextMargin();
    void UpdateHint();
    void FollowField();
    void OnFocusChange(wxFocusEvent& event);
    void OnText(wxCommandEvent& event);
    void OnGeometry(wxEvent& event);
    void OnDestroy(wxWindowDestroyEvent& event);

    CIconWnd* icon_window_;
    CAutoFont hint_font_;
    bool focused_ = false;
};
