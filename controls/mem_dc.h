// An off-screen surface for one rectangle of a target context: drawing goes to a bitmap
// filled with the button-face colour, which is copied back to the rectangle on destruction,
// so the target changes once and without flicker. Coordinates are the target's.
#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>

class CMemDC : public wxMemoryDC {
  public:
    CMemDC(wxDC& target, const wxRect& rect);
    ~CMemDC() override;
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

  private:
    wxDC& target_;
    wxRect rect_;
    wxBitmap bitmap_;
};
