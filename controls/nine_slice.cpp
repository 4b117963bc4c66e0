#include "controls/nine_slice.h"

#include <algorithm>

namespace {

// The parts of one axis: the near margin, the middle and the far margin, in the source
// and in the destination.
struct AxisSlices {
    int source_near, source_middle, source_far;
    int near, middle, far;
};

AxisSlices SliceAxis(int source_length, int length, int near_margin, int far_margin) {
    // A frame smaller than its own margins has them shrunk first, likewise.
    if (near_margin + far_margin > source_length) {
        near_margin = source_length * near_margin / std::max(near_margin + far_margin, 1);
        far_margin = source_length - near_margin;
    }
    AxisSlices s{near_margin, source_length - near_margin - far_margin, far_margin, 0, 0, 0};
    if (near_margin + far_margin <= length) {
        s.near = near_margin;
        s.far = far_margin;
    } else {
        s.near = length * near_margin / std::max(near_margin + far_margin, 1);
        s.far = length - s.near;
    }
    s.middle = length - s.near - s.far;
    return s;
}

}  // namespace

wxImage NineSliceScale(const wxImage& frame, const wxSize& size, const SliceMargins& margins) {
    wxImage result(std::max(size.x, 1), std::max(size.y, 1));
    if (!frame.IsOk()) return result;
    const AxisSlices h =
        SliceAxis(frame.GetWidth(), result.GetWidth(), margins.left, margins.right);
    const AxisSlices v =
        SliceAxis(frame.GetHeight(), result.GetHeight(), margins.top, margins.bottom);
    // Per axis: source start and length, destination start and length. The near part takes
    // the outer columns of the near margin, the far part the outer columns of the far one.
    const int hs[3][4] = {{0, h.near, 0, h.near},
                          {h.source_near, h.source_middle, h.near, h.middle},
                          {frame.GetWidth() - h.far, h.far, h.near + h.middle, h.far}};
    const int vs[3][4] = {{0, v.near, 0, v.near},
                          {v.source_near, v.source_middle, v.near, v.middle},
                          {frame.GetHeight() - v.far, v.far, v.near + v.middle, v.far}};
    for (const auto& row : vs) {
        for (const auto& column : hs) {
            if (column[3] <= 0 || row[3] <= 0 || column[1] <= 0 || row[1] <= 0) continue;
            wxImage piece = frame.GetSubImage(wxRect(column[0], row[0], column[1], row[1]));
            if (piece.GetWidth() != column[3] || piece.GetHeight() != row[3])
                piece.Rescale(column[3], row[3], wxIMAGE_QUALITY_NEAREST);
            result.Paste(piece, column[2], row[2]);
        }
    }
    return result;
}
