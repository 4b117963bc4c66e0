// Nine-slice scaling of a skin frame to any size: the four corners copied as they are, the
// edges stretched along their length, the centre stretched both ways.
#pragma once

#include <wx/gdicmn.h>
#include <wx/image.h>

struct SliceMargins {
    int left;
    int top;
    int right;
    int bottom;
};

// `frame` scaled to `size`. When the size is smaller than two opposite margins together,
// those margins shrink in proportion and each corner keeps its outer part (the rounding),
// so a narrow button still shows all four corners. Nearest-neighbour stretching keeps a key
// colour exact.
wxImage NineSliceScale(const wxImage& frame, const wxSize& size, const SliceMargins& margins);
