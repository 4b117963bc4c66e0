#include "controls/zip_dc.h"

#include <algorithm>

CZipDC::CZipDC(wxDC& target, const wxRect& rect)
    : wxMemoryDC(&target),
      target_(target),
      rect_(rect),
      bitmap_(std::max(rect.width, 1), std::max(rect.height, 1)) {
    SelectObject(bitmap_);
    SetBackground(target.GetBackground().IsOk() ? target.GetBackground() : *wxWHITE_BRUSH);
    Clear();
    SetDeviceOrigin(-rect_.x, -rect_.y);
}

wxImage CZipDC::GetPicture() {
    // The bitmap must be out of the context for its pixels to be read.
    SelectObject(wxNullBitmap);
    wxImage picture = bitmap_.ConvertToImage();
    SelectObject(bitmap_);
    return picture;
}

CZipDC::~CZipDC() {
    if (!no_copy_back_) {
        SetDeviceOrigin(0, 0);
        target_.Blit(rect_.x, rect_.y, rect_.width, rect_.height, this, 0, 0);
    }
    SelectObject(wxNullBitmap);
}
