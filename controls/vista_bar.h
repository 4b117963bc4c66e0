// The main window's status bar: a horizontal gradient in three colours with two texts, an
// optional icon, a gloss over its top and a double 3-D frame.
#pragma once

#include <wx/image.h>
#include <wx/window.h>

#include <cstdint>
#include <span>

#include "controls/auto_font.h"

class CVistaBar : public wxWindow {
  public:
    CVistaBar(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
              const wxSize& size = wxDefaultSize);

    // Setting a text repaints the bar and its buddy, without erasing either.
    void SetFirstText(const wxString& text);
    void SetSecondText(const wxString& text);
    const wxString& GetFirstText() const { return first_text_; }
    const wxString& GetSecondText() const { return second_text_; }
    // The window repainted together with the bar; nullptr for none.
    void SetBuddy(wxWindow* buddy) { buddy_ = buddy; }
    // The icon drawn at (5, 5); an image that is not IsOk() draws none.
    void SetIconImage(const wxImage& image) { icon_ = image; }
    // The icon from PNG bytes; false, and no icon, when they are damaged.
    bool SetIconPng(std::span<const std::uint8_t> bytes);
    void SetGradientColors(const wxColour& left, const wxColour& middle, const wxColour& right);
    void SetTextColors(const wxColour& first, const wxColour& second);

    // Draws the bar as it paints itself, into any context of the bar's client size.
    void Draw(wxDC& dc) const;

  private:
    void OnPaint(wxPaintEvent& event);
    void Repaint();

    wxColour gradient_[3];
    wxColour text_colours_[2];
    CAutoFont first_font_;
    CAutoFont second_font_;
    wxString first_text_;
    wxString second_text_;
    wxImage icon_;
    wxImage gloss_;
    wxWindow* buddy_ = nullptr;
};
