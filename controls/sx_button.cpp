#include "controls/sx_button.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include "app/log.h"
#include "controls/mem_dc.h"
#include "controls/png_image.h"

namespace {
// The skin frames each state is built from; frame 4 of the strip is not used.
constexpr int kFrameOfState[CSXButton::kStateCount] = {0, 1, 3, 2};
// An icon wider than this is drawn 7 pixels higher, to leave room for the caption.
constexpr int kWideIcon = 32;
constexpr int kWideIconLift = 7;

wxPoint PlaceIn(const wxRect& client, const wxSize& size, const wxPoint& pos) {
    return wxPoint(pos.x < 0 ? (client.width - size.x) / 2 : pos.x,
                   pos.y < 0 ? (client.height - size.y) / 2 : pos.y);
}
}  // namespace

CSXButton::CSXButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                     const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxWANTS_CHARS),
      font_("MS Shell Dlg", 12, kWeightNormal) {
    LogScope scope("CSXButton::CSXButton", 3);
    SetLabel(label);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CSXButton::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CSXButton::OnMouseDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CSXButton::OnMouseDown, this);
    Bind(wxEVT_LEFT_UP, &CSXButton::OnMouseUp, this);
    Bind(wxEVT_MOTION, &CSXButton::OnMouseMove, this);
    Bind(wxEVT_ENTER_WINDOW, &CSXButton::OnEnter, this);
    Bind(wxEVT_LEAVE_WINDOW, &CSXButton::OnLeave, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CSXButton::OnCaptureLost, this);
    Bind(wxEVT_KEY_DOWN, &CSXButton::OnKeyDown, this);
    Bind(wxEVT_KEY_UP, &CSXButton::OnKeyUp, this);
    Bind(wxEVT_SET_FOCUS, &CSXButton::OnFocusChange, this);
    Bind(wxEVT_KILL_FOCUS, &CSXButton::OnFocusChange, this);
    Bind(wxEVT_SIZE, &CSXButton::OnSize, this);
}

void CSXButton::SetSkin(const wxImage& strip, int frame_count) {
    skin_ = strip;
    frame_count_ = frame_count > 0 ? frame_count : 1;
    states_size_ = wxSize();
    Refresh(false);
}

void CSXButton::SetIcon(const wxBitmap& icon, const wxPoint& pos) {
    icon_ = icon;
    icon_pos_ = pos;
    Refresh(false);
}

void CSXButton::SetBitmap(const wxBitmap& bitmap, const wxPoint& pos) {
    bitmap_ = bitmap;
    bitmap_pos_ = pos;
    Refresh(false);
}

void CSXButton::SetTextPosition(const wxPoint& pos) {
    text_pos_ = pos;
    Refresh(false);
}

bool CSXButton::Enable(bool enable) {
    if (!enable) {
        mouse_down_ = key_down_ = pressed_ = false;
        if (HasCapture()) ReleaseMouse();
    }
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

wxSize CSXButton::DoGetBestSize() const {
    wxClientDC dc(const_cast<CSXButton*>(this));
    dc.SetFont(font_);
    const wxSize text = dc.GetTextExtent(GetLabelText());
    return wxSize(std::max(text.x + margins_.left + margins_.right, 75),
                  std::max(text.y + 10, margins_.top + margins_.bottom + 2));
}

CSXButton::State CSXButton::GetDrawState() const {
    if (!IsEnabled()) return kDisabled;
    if (pressed_) return kPressed;
    if (HasFocus() || hover_) return kHot;
    return kNormal;
}

void CSXButton::BuildStateBitmaps() {
    LogScope scope("CSXButton::BuildStateBitmaps", 3);
    if (!skin_.IsOk()) skin_ = ArtworkImage(ArtworkId::kButtonSkin);
    const wxSize size = GetClientSize();
    states_size_ = size;
    if (!skin_.IsOk() || size.x <= 0 || size.y <= 0) return;
    const int frame_width = skin_.GetWidth() / frame_count_;
    for (int state = 0; state < kStateCount; ++state) {
        const int frame = std::min(kFrameOfState[state], frame_count_ - 1);
        wxImage scaled = NineSliceScale(
            skin_.GetSubImage(wxRect(frame * frame_width, 0, frame_width, skin_.GetHeight())), size,
            margins_);
        scaled.SetMaskColour(key_colour_.Red(), key_colour_.Green(), key_colour_.Blue());
        states_[state] = wxBitmap(scaled);
    }
}

void CSXButton::OnPaint(wxPaintEvent&) {
    wxPaintDC paint(this);
    const wxRect client(GetClientSize());
    if (client.IsEmpty()) return;
    if (states_size_ != client.GetSize()) BuildStateBitmaps();
    CMemDC dc(paint, client);
    // The parent shows around the skin's key-coloured corners.
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    const State state = GetDrawState();
    if (states_[state].IsOk()) dc.DrawBitmap(states_[state], 0, 0, true);
    // Held down with the focus, the content moves by one pixel like a pressed button's.
    DrawContent(dc, client, state, state == kPressed && HasFocus() ? 1 : 0);
}

void CSXButton::DrawContent(wxDC& dc, const wxRect& client, State state, int shift) {
    const bool disabled = state == kDisabled;
    for (auto [image, pos] : {std::pair{&bitmap_, bitmap_pos_}, std::pair{&icon_, icon_pos_}}) {
        if (!image->IsOk()) continue;
        wxPoint at = PlaceIn(client, image->GetSize(), pos);
        if (image->GetWidth() > kWideIcon) at.y -= kWideIconLift;
        dc.DrawBitmap(disabled ? image->ConvertToDisabled() : *image, at.x + shift, at.y + shift,
                      true);
    }
    const wxString caption = GetLabelText();
    if (caption.empty()) return;
    dc.SetFont(font_);
    dc.SetTextForeground(disabled ? wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT)
                                  : font_.GetTextColour());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxPoint at = PlaceIn(client, dc.GetTextExtent(caption), text_pos_);
    dc.DrawText(caption, at.x + shift, at.y + shift);
}

void CSXButton::Click() {
    LogScope scope("CSXButton::Click", 3);
    wxCommandEvent event(wxEVT_BUTTON, GetId());
    event.SetEventObject(this);
    ProcessWindowEvent(event);
}

void CSXButton::OnMouseDown(wxMouseEvent&) {
    if (!IsEnabled()) return;
    SetFocus();
    if (!HasCapture()) CaptureMouse();
    mouse_down_ = pressed_ = true;
    Refresh(false);
}

void CSXButton::OnMouseUp(wxMouseEvent& event) {
    if (!mouse_down_) return;
    mouse_down_ = false;
    if (HasCapture()) ReleaseMouse();
    const bool inside = wxRect(GetClientSize()).Contains(event.GetPosition());
    pressed_ = key_down_;
    Refresh(false);
    if (inside) Click();
}

void CSXButton::OnMouseMove(wxMouseEvent& event) {
    const bool inside = wxRect(GetClientSize()).Contains(event.GetPosition());
    bool changed = false;
    if (inside != hover_) {
        hover_ = inside;
        changed = true;
    }
    if (mouse_down_ && pressed_ != inside) {
        pressed_ = inside;
        changed = true;
    }
    if (changed) Refresh(false);
}

void CSXButton::OnEnter(wxMouseEvent&) {
    hover_ = true;
    Refresh(false);
}

void CSXButton::OnLeave(wxMouseEvent&) {
    hover_ = false;
    if (mouse_down_) pressed_ = false;
    Refresh(false);
}

void CSXButton::OnCaptureLost(wxMouseCaptureLostEvent&) {
    mouse_down_ = false;
    pressed_ = key_down_;
    Refresh(false);
}

void CSXButton::OnKeyDown(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_SPACE:
            if (!key_down_) {
                key_down_ = pressed_ = true;
                Refresh(false);
            }
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            Click();
            return;
        case WXK_TAB:
            Navigate(event.ShiftDown() ? wxNavigationKeyEvent::IsBackward
                                       : wxNavigationKeyEvent::IsForward);
            return;
        default:
            event.Skip();
    }
}

void CSXButton::OnKeyUp(wxKeyEvent& event) {
    if (event.GetKeyCode() != WXK_SPACE || !key_down_) {
        event.Skip();
        return;
    }
    key_down_ = false;
    pressed_ = mouse_down_;
    Refresh(false);
    Click();
}

void CSXButton::OnFocusChange(wxFocusEvent& event) {
    if (event.GetEventType() == wxEVT_KILL_FOCUS) key_down_ = pressed_ = mouse_down_ && pressed_;
    Refresh(false);
    event.Skip();
}

void CSXButton::OnSize(wxSizeEvent& event) {
    Refresh(false);
    event.Skip();
}
