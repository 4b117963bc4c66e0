#include "controls/vista_bar.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include "app/log.h"
#include "controls/colorref.h"
#include "controls/png_image.h"

namespace {
constexpr int kFirstTextInset = 5;
constexpr int kSecondTextInset = 25;
constexpr int kIconInset = 5;
constexpr int kGlossInset = 2;
constexpr int kGlossHeight = 16;
constexpr int kFrameWidth = 2;

// A frame of one pixel: top and left in one colour, bottom and right in the other.
void Draw3dRect(wxDC& dc, const wxRect& rect, const wxColour& top_left,
                const wxColour& bottom_right) {
    const int right = rect.x + rect.width - 1;
    const int bottom = rect.y + rect.height - 1;
    dc.SetPen(wxPen(top_left));
    dc.DrawLine(rect.x, rect.y, right, rect.y);
    dc.DrawLine(rect.x, rect.y, rect.x, bottom);
    dc.SetPen(wxPen(bottom_right));
    dc.DrawLine(rect.x, bottom, right + 1, bottom);
    dc.DrawLine(right, rect.y, right, bottom);
}
}  // namespace

CVistaBar::CVistaBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE),
      gradient_{ColourFromColorRef(0x744A09), ColourFromColorRef(0x8C7920),
                ColourFromColorRef(0x5A6F05)},
      text_colours_{ColourFromColorRef(0xFFD794), ColourFromColorRef(0xFFFFFF)},
      first_font_("Tahoma", 16, kWeightNormal),
      second_font_("Tahoma", 15, kWeightNormal),
      gloss_(ArtworkImage(ArtworkId::kGloss)) {
    LogScope scope("CVistaBar::CVistaBar", 3);
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CVistaBar::OnPaint, this);
}

void CVistaBar::SetFirstText(const wxString& text) {
    first_text_ = text;
    Repaint();
}

void CVistaBar::SetSecondText(const wxString& text) {
    second_text_ = text;
    Repaint();
}

bool CVistaBar::SetIconPng(std::span<const std::uint8_t> bytes) {
    icon_ = ImageFromPng(bytes);
    Repaint();
    return icon_.IsOk();
}

void CVistaBar::SetGradientColors(const wxColour& left, const wxColour& middle,
                                  const wxColour& right) {
    gradient_[0] = left;
    gradient_[1] = middle;
    gradient_[2] = right;
    Repaint();
}

void CVistaBar::SetTextColors(const wxColour& first, const wxColour& second) {
    text_colours_[0] = first;
    text_colours_[1] = second;
    Repaint();
}

void CVistaBar::Repaint() {
    Refresh(false);
    if (buddy_ != nullptr) buddy_->Refresh(false);
}

void CVistaBar::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    Draw(dc);
}

void CVistaBar::Draw(wxDC& dc) const {
    const wxRect client(GetClientSize());
    if (client.IsEmpty()) return;
    const int half = client.width / 2;
    dc.GradientFillLinear(wxRect(0, 0, half, client.height), gradient_[0], gradient_[1], wxEAST);
    dc.GradientFillLinear(wxRect(half, 0, client.width - half, client.height), gradient_[1],
                          gradient_[2], wxEAST);
    if (icon_.IsOk()) dc.DrawBitmap(wxBitmap(icon_), kIconInset, kIconInset, true);

    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const struct {
        const wxString& text;
        const wxFont& font;
        const wxColour& colour;
        int inset;
    } texts[] = {{first_text_, first_font_, text_colours_[0], kFirstTextInset},
                 {second_text_, second_font_, text_colours_[1], kSecondTextInset}};
    for (const auto& line : texts) {
        if (line.text.empty()) continue;
        // Inset on three sides; downwards the text may reach the inner frame, so a line a
        // little taller than the inset leaves room for is not cut.
        wxRect area = client;
        area.Deflate(line.inset);
        area.SetBottom(client.GetBottom() - kFrameWidth);
        if (area.IsEmpty()) continue;
        wxDCClipper clip(dc, area);
        dc.SetFont(line.font);
        dc.SetTextForeground(line.colour);
        dc.DrawLabel(line.text, area, wxALIGN_LEFT | wxALIGN_TOP);
    }

    const int gloss_width = client.width - 2 * kGlossInset;
    if (gloss_.IsOk() && gloss_width > 0)
        dc.DrawBitmap(wxBitmap(gloss_.Scale(gloss_width, kGlossHeight, wxIMAGE_QUALITY_HIGH)),
                      kGlossInset, kGlossInset, true);

    Draw3dRect(dc, client, ColourFromColorRef(0x41310D), ColourFromColorRef(0x64705E));
    wxRect inner = client;
    Draw3dRect(dc, inner.Deflate(1), ColourFromColorRef(0xB9C087), ColourFromColorRef(0xA8A56D));
}
