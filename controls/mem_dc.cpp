#include "controls/mem_dc.h"

#include <wx/settings.h>

#include <algorithm>

CMemDC::CMemDC(wxDC& target, const wxRect& rect)
    : wxMemoryDC(&target),
      target_(target),
      rect_(rect),
      bitmap_(std::max(rect.width, 1), std::max(rect.height, 1)) {
    SelectObject(bitmap_);
    SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    Clear();
    SetDeviceOrigin(-rect_.x, -rect_.y);
}

CMemDC::~CMemDC() {
    SetDeviceOrigin(0, 0);
    target_.Blit(rect_.x, rect_.y, rect_.width, rect_.height, this, 0, 0);
    SelectObject(wxNullBitmap);
}
