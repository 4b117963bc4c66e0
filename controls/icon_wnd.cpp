#include "controls/icon_wnd.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

CIconWnd::CIconWnd(wxWindow* parent, wxWindow* field)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxSize(kSmallIconSize + 2, kSmallIconSize + 2),
               wxBORDER_NONE),
      field_(field) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CIconWnd::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CIconWnd::OnClick, this);
}

void CIconWnd::SetIcon(const wxBitmap& icon) {
    icon_ = icon;
    Refresh();
}

void CIconWnd::SetHint(const wxString& hint, const wxFont& font, const wxColour& colour) {
    hint_ = hint;
    hint_font_ = font;
    hint_colour_ = colour;
    Cover(interior_);
}

void CIconWnd::ShowHint(bool show) {
    if (show == hint_shown_) return;
    hint_shown_ = show;
    Cover(interior_);
}

void CIconWnd::Cover(const wxRect& interior) {
    interior_ = interior;
    const int icon_width = kSmallIconSize + 2;
    wxRect area = interior;
    if (!(hint_shown_ && !hint_.empty())) area.width = std::min(icon_width, interior.width);
    SetSize(area);
    Raise();
    Refresh();
}

void CIconWnd::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(field_->GetBackgroundColour()));
    dc.Clear();
    const int icon_top = std::max((GetClientSize().y - kSmallIconSize) / 2, 1);
    if (icon_.IsOk()) dc.DrawBitmap(icon_, 1, icon_top, true);
    if (!hint_shown_ || hint_.empty()) return;
    dc.SetFont(hint_font_);
    dc.SetTextForeground(hint_colour_);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxRect text_area(kSmallIconSize + 2, 0, GetClientSize().x - kSmallIconSize - 2,
                           GetClientSize().y);
    wxDCClipper clip(dc, text_area);
    dc.DrawLabel(hint_, text_area, wxALIGN_LEFT | wxALIGN_CENTER_VERTICAL);
}

void CIconWnd::OnClick(wxMouseEvent&) {
    field_->SetFocus();
}
