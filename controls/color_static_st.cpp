#include "controls/color_static_st.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include "app/log.h"
#include "controls/link_opener.h"

wxDEFINE_EVENT(EVT_COLOR_STATIC_BLINK, wxCommandEvent);

namespace {
const wxColour kLinkColour(0, 0, 255);
}  // namespace

CColorStaticST::CColorStaticST(wxWindow* parent, wxWindowID id, const wxString& text,
                               const wxPoint& pos, const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE),
      text_colour_(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT)),
      blink_text_colour_(text_colour_),
      background_colour_(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)),
      blink_background_colour_(background_colour_),
      blink_timer_(this) {
    LogScope scope("CColorStaticST::CColorStaticST", 3);
    wxControl::SetLabel(text);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CColorStaticST::OnPaint, this);
    Bind(wxEVT_LEFT_UP, &CColorStaticST::OnMouseUp, this);
    Bind(wxEVT_MOTION, &CColorStaticST::OnMouseMove, this);
    Bind(wxEVT_TIMER, &CColorStaticST::OnBlink, this);
}

void CColorStaticST::SetTextColor(const wxColour& colour) {
    text_colour_ = colour;
    blink_text_colour_ = colour;
    Refresh();
}

void CColorStaticST::SetBlinkTextColors(const wxColour& first, const wxColour& second) {
    text_colour_ = first;
    blink_text_colour_ = second;
    Refresh();
}

void CColorStaticST::SetBkColor(const wxColour& colour) {
    background_colour_ = colour;
    blink_background_colour_ = colour;
    transparent_ = false;
    Refresh();
}

void CColorStaticST::SetBlinkBkColors(const wxColour& first, const wxColour& second) {
    background_colour_ = first;
    blink_background_colour_ = second;
    Refresh();
}

void CColorStaticST::SetTransparent(bool transparent) {
    transparent_ = transparent;
    Refresh();
}

void CColorStaticST::SetTabStops(std::vector<int> stops) {
    tab_stops_ = std::move(stops);
    Refresh();
}

void CColorStaticST::EnableBlink(bool text, bool background, int period_ms) {
    blink_text_ = text;
    blink_background_ = background;
    blink_state_ = false;
    if (text || background)
        blink_timer_.Start(period_ms);
    else
        blink_timer_.Stop();
    Refresh();
}

void CColorStaticST::SetLabel(const wxString& text) {
    wxControl::SetLabel(text);
    Refresh();
}

bool CColorStaticST::LinksActive() const {
    const wxColour& shown = blink_text_ && blink_state_ ? blink_text_colour_ : text_colour_;
    return shown.Red() == 0 && shown.Green() == 0 && shown.Blue() == 0;
}

MarkupLayout CColorStaticST::LayOut(wxDC& dc, int width) const {
    const wxFont normal = GetFont();
    const wxFont bold = normal.Bold();
    dc.SetFont(normal);
    const int line_height = dc.GetTextExtent("W").y;
    return LayOutMarkup(GetLabel().utf8_string(), width, line_height, tab_stops_,
                        [&](std::string_view text, bool is_bold) {
                            dc.SetFont(is_bold ? bold : normal);
                            const wxSize size =
                                dc.GetTextExtent(wxString::FromUTF8(text.data(), text.size()));
                            return MarkupSize{size.x, size.y};
                        });
}

wxSize CColorStaticST::MeasureText(wxDC& dc, int width) const {
    const MarkupLayout layout = LayOut(dc, width);
    return wxSize(layout.width, layout.height);
}

wxSize CColorStaticST::DoGetBestSize() const {
    wxClientDC dc(const_cast<CColorStaticST*>(this));
    const int width = GetSize().x > 0 ? GetSize().x : 300;
    return MeasureText(dc, width);
}

void CColorStaticST::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const bool alternate = blink_state_;
    if (transparent_ && !blink_background_)
        dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    else
        dc.SetBackground(wxBrush(blink_background_ && alternate ? blink_background_colour_
                                                                : background_colour_));
    dc.Clear();
    layout_ = LayOut(dc, GetClientSize().x);
    const bool links = LinksActive();
    const wxColour text = blink_text_ && alternate ? blink_text_colour_ : text_colour_;
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxFont normal = GetFont();
    const wxFont bold = normal.Bold();
    for (const MarkupWord& word : layout_.words) {
        const bool link = links && !word.target.empty();
        dc.SetFont(word.bold ? bold : normal);
        dc.SetTextForeground(link ? kLinkColour : text);
        dc.DrawText(wxString::FromUTF8(word.text), word.x, word.y);
        if (link) {
            dc.SetPen(wxPen(kLinkColour, 1));
            const int underline = word.y + word.height - 1;
            dc.DrawLine(word.x, underline, word.x + word.width, underline);
        }
    }
}

const MarkupWord* CColorStaticST::LinkAt(const wxPoint& point) const {
    if (!LinksActive()) return nullptr;
    for (const MarkupWord& word : layout_.words) {
        if (!word.target.empty() && wxRect(word.x, word.y, word.width, word.height).Contains(point))
            return &word;
    }
    return nullptr;
}

void CColorStaticST::OnMouseUp(wxMouseEvent& event) {
    const MarkupWord* link = LinkAt(event.GetPosition());
    if (link == nullptr) {
        event.Skip();
        return;
    }
    LogScope scope("CColorStaticST::OnMouseUp", 3);
    // Copied: opening may pump events and repaint, which lays the words out anew.
    const std::string target = link->target;
    OpenLinkTarget(target);
}

void CColorStaticST::OnMouseMove(wxMouseEvent& event) {
    const bool over = LinkAt(event.GetPosition()) != nullptr;
    if (over != over_link_) {
        over_link_ = over;
        SetCursor(over ? wxCursor(wxCURSOR_HAND) : wxNullCursor);
    }
    event.Skip();
}

void CColorStaticST::OnBlink(wxTimerEvent&) {
    blink_state_ = !blink_state_;
    Refresh();
    if (notify_window_ != nullptr) {
        wxCommandEvent notice(EVT_COLOR_STATIC_BLINK, GetId());
        notice.SetEventObject(this);
        notice.SetInt(blink_state_ ? 1 : 0);
        wxPostEvent(notify_window_, notice);
    }
}
