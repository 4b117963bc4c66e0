#include "controls/pie_progress.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "app/log.h"
#include "controls/pie_percent.h"
#include "controls/vista_bar.h"
#include "controls/zip_dc.h"

namespace {
// The side of the cylinder, as a share of the top face's height.
constexpr double kSideShare = 0.5;
const wxColour kOutline(0x50, 0x50, 0x50);

wxColour Darker(const wxColour& colour, int percent) {
    return wxColour(colour.Red() * percent / 100, colour.Green() * percent / 100,
                    colour.Blue() * percent / 100);
}
}  // namespace

CPieProgress::CPieProgress(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CPieProgress::OnPaint, this);
}

void CPieProgress::SetRange(long minimum, long maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    Refresh();
}

void CPieProgress::SetPos(long position) {
    position_ = position;
    Refresh();
}

void CPieProgress::SetColors(const wxColour& filled, const wxColour& empty) {
    filled_ = filled;
    empty_ = empty;
    Refresh();
}

wxImage CPieProgress::Render(const wxSize& size) const {
    LogScope scope("CPieProgress::Render", 3);
    const std::optional<int> percent = PiePercent(minimum_, maximum_, position_);
    if (!percent || size.x <= 0 || size.y <= 0) return wxImage();
    // Everything at double size, reduced at the end for smooth edges.
    const wxSize big(size.x * 2, size.y * 2);
    wxBitmap target_bitmap(1, 1);
    wxMemoryDC target(target_bitmap);
    target.SetBackground(*wxWHITE_BRUSH);
    CZipDC dc(target, wxRect(big));
    dc.SetNoCopyBack(true);
    const int width = big.x - 5;
    const int face_height = static_cast<int>(0.3 * width);
    const int side =
        std::min(static_cast<int>(face_height * kSideShare), std::max(big.y - face_height - 4, 0));
    const int left = 2;
    const int top = std::max((big.y - face_height - side) / 2, 2);
    const int right = left + width;
    const int bottom = top + face_height;
    const double a = width / 2.0;
    const double b = face_height / 2.0;
    const wxPoint centre(left + width / 2, top + face_height / 2);

    // The rim: the side below the top face, shaded from the empty colour.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(Darker(empty_, 70)));
    dc.DrawEllipse(left, top + side, width, face_height);
    dc.DrawRectangle(left, centre.y, width, side);
    dc.GradientFillLinear(wxRect(left, centre.y, width / 2, side), Darker(empty_, 55),
                          Darker(empty_, 80), wxEAST);
    dc.GradientFillLinear(wxRect(centre.x, centre.y, width - width / 2, side), Darker(empty_, 80),
                          Darker(empty_, 55), wxEAST);

    // The top face: all empty first, then the filled sector clockwise from the top.
    dc.SetBrush(wxBrush(empty_));
    dc.DrawEllipse(left, top, width, face_height);
    if (*percent > 0) {
        std::vector<wxPoint> sector{centre};
        const int steps = std::max(*percent * 4, 2);
        for (int step = 0; step <= steps; ++step) {
            const PiePoint p = PieBoundaryPoint(*percent * step / static_cast<double>(steps), a, b);
            sector.emplace_back(centre.x + static_cast<int>(std::lround(p.x)),
                                centre.y + static_cast<int>(std::lround(p.y)));
        }
        dc.SetBrush(wxBrush(filled_));
        if (*percent >= 100)
            dc.DrawEllipse(left, top, width, face_height);
        else
            dc.DrawPolygon(static_cast<int>(sector.size()), sector.data());
    }

    // The outline: the front edge through the bottom (its radials end two thirds down the
    // face), the back edge through the top, the side's two ends and the rim's lower edge.
    dc.SetPen(wxPen(kOutline, 2));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    const int radial_y = 2 * top + static_cast<int>((bottom - top) * 0.6666666666666666);
    const double front_angle = std::atan2(radial_y - centre.y, a) * 180.0 / std::numbers::pi;
    dc.DrawEllipticArc(left, top, width, face_height, 180.0 + front_angle, 360.0 - front_angle);
    dc.DrawEllipticArc(left, top, width, face_height, 0.0, 180.0);
    dc.DrawLine(left, centre.y, left, centre.y + side);
    dc.DrawLine(right, centre.y, right, centre.y + side);
    dc.DrawEllipticArc(left, top + side, width, face_height, 180.0, 360.0);

    wxImage picture = dc.GetPicture();
    picture.Rescale(size.x, size.y, wxIMAGE_QUALITY_HIGH);
    return picture;
}

void CPieProgress::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    // Child windows cannot be see-through here: the part of the bar below is drawn first.
    if (backdrop_ != nullptr) {
        const wxSize bar_size = backdrop_->GetClientSize();
        if (bar_size.x > 0 && bar_size.y > 0) {
            wxBitmap bar(bar_size);
            wxMemoryDC memory(bar);
            backdrop_->Draw(memory);
            const wxPoint offset = GetPosition() - backdrop_->GetPosition();
            dc.Blit(0, 0, GetClientSize().x, GetClientSize().y, &memory, offset.x, offset.y);
        }
    }
    wxImage picture = Render(GetClientSize());
    if (!picture.IsOk()) return;
    // White is the transparent colour: the parent shows around the cylinder.
    picture.SetMaskColour(255, 255, 255);
    dc.DrawBitmap(wxBitmap(picture), 0, 0, true);
}
