// Progress shown as a flat cylinder seen from above, its top face filled in one colour up to
// the percent and in another for the rest; drawn at double size and reduced smoothly.
#pragma once

#include <wx/colour.h>
#include <wx/window.h>

class CVistaBar;

class CPieProgress : public wxWindow {
  public:
    CPieProgress(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                 const wxSize& size = wxDefaultSize);

    void SetRange(long minimum, long maximum);
    void SetPos(long position);
    // The filled part's colour and the rest's.
    void SetColors(const wxColour& filled, const wxColour& empty);

    // The pie at `size`, white where nothing is drawn; not IsOk() when the position is
    // outside the range (nothing is drawn then).
    wxImage Render(const wxSize& size) const;

    // The bar the pie lies on (a sibling): what shows around the cylinder.
    void SetBackdrop(const CVistaBar* bar) { backdrop_ = bar; }

  private:
    void OnPaint(wxPaintEvent& event);

    const CVistaBar* backdrop_ = nullptr;
    long minimum_ = 0;
    long maximum_ = 100;
    long position_ = 0;
    wxColour filled_{55, 177, 77};
    wxColour empty_{255, 111, 111};
};
