// An off-screen surface like CMemDC, filled with the target's background colour, whose copy
// back can be turned off so the drawing can be taken as a picture (GetPicture) instead.
#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>

class CZipDC : public wxMemoryDC {
  public:
    CZipDC(wxDC& target, const wxRect& rect);
    ~CZipDC() override;
    CZipDC(const CZipDC&) = delete;
    CZipDC& operator=(const CZipDC&) = delete;

    // Leaves the target untouched on destruction.
    void SetNoCopyBack(bool no_copy_back) { no_copy_back_ = no_copy_back; }
    // What was drawn so far, the rectangle's size.
    wxImage GetPicture();

  private:
    wxDC& target_;
    wxRect rect_;
    wxBitmap bitmap_;
    bool no_copy_back_ = false;
};
