#include "controls/icon_edit.h"

#include "app/log.h"
#include "controls/png_image.h"

namespace {
const wxColour kHintColour(0xAA, 0xAA, 0xAA);
// Where the text starts: after the icon (1 pixel in, 16 wide) and a small gap.
constexpr int kTextStart = kSmallIconSize + 4;
// The entry's frame, left of the icon window.
constexpr int kFrameWidth = 1;
}  // namespace

CIconEdit::CIconEdit(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos,
                     const wxSize& size)
    : wxTextCtrl(parent, id, value, pos, size), hint_font_("Arial", 14, kWeightNormal) {
    LogScope scope("CIconEdit::CIconEdit", 3);
    hint_font_.SetStyle(wxFONTSTYLE_ITALIC);
    // A native entry cannot have children nor be painted over from inside, so the icon
    // window is a sibling kept above the field's left end.
    icon_window_ = new CIconWnd(parent, this);
    icon_window_->SetIcon(wxBitmap(ArtworkImage(ArtworkId::kSearchIcon)));
    ApplyTextMargin();
    Bind(wxEVT_SET_FOCUS, &CIconEdit::OnFocusChange, this);
    Bind(wxEVT_KILL_FOCUS, &CIconEdit::OnFocusChange, this);
    Bind(wxEVT_TEXT, &CIconEdit::OnText, this);
    Bind(wxEVT_SIZE, &CIconEdit::OnGeometry, this);
    Bind(wxEVT_MOVE, &CIconEdit::OnGeometry, this);
    Bind(wxEVT_DESTROY, &CIconEdit::OnDestroy, this);
    FollowField();
    UpdateHint();
}

void CIconEdit::SetIcon(const wxBitmap& icon) {
    icon_window_->SetIcon(icon);
}

void CIconEdit::SetHintText(const wxString& hint) {
    icon_window_->SetHint(hint, hint_font_, kHintColour);
    UpdateHint();
}

bool CIconEdit::SetFont(const wxFont& font) {
    const bool changed = wxTextCtrl::SetFont(font);
    ApplyTextMargin();
    return changed;
}

bool CIconEdit::Show(bool show) {
    const bool changed = wxTextCtrl::Show(show);
    if (icon_window_ != nullptr) icon_window_->Show(show);
    return changed;
}

void CIconEdit::ApplyTextMargin() {
    // GTK 3 accepts SetMargins but does not move the text; its entry takes the room before
    // the text from its style.
    const wxString css = wxString::Format("entry { padding-left: %dpx; }", kTextStart);
    GTKApplyCssStyle(css.utf8_str());
}

void CIconEdit::FollowField() {
    if (icon_window_ == nullptr) return;
    const wxRect field = GetRect();
    icon_window_->Cover(wxRect(field.x + kFrameWidth, field.y + kFrameWidth,
                               field.width - 2 * kFrameWidth, field.height - 2 * kFrameWidth));
}

void CIconEdit::UpdateHint() {
    if (icon_window_ != nullptr) icon_window_->ShowHint(!focused_ && IsEmpty());
}

void CIconEdit::OnFocusChange(wxFocusEvent& event) {
    focused_ = event.GetEventType() == wxEVT_SET_FOCUS;
    UpdateHint();
    event.Skip();
}

void CIconEdit::OnText(wxCommandEvent& event) {
    UpdateHint();
    event.Skip();
}

void CIconEdit::OnGeometry(wxEvent& event) {
    FollowField();
    event.Skip();
}

void CIconEdit::OnDestroy(wxWindowDestroyEvent& event) {
    // The icon window is the parent's child and would outlive the field.
    if (event.GetEventObject() == this && icon_window_ != nullptr) {
        icon_window_->Destroy();
        icon_window_ = nullptr;
    }
    event.Skip();
}
