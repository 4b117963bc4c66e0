// The share a progress pie shows, and where its filled part ends on the pie's rim.
#pragma once

#include <optional>

// The integer percent of `position` in [minimum, maximum], or nothing when the position is
// outside; a range of one value counts as [minimum, minimum + 1].
std::optional<int> PiePercent(long minimum, long maximum, long position);

struct PiePoint {
    double x;
    double y;
};

// The point at `percent` along an ellipse with half-axes `a` and `b` around (0, 0), clockwise
// from the top (y grows downwards), found per quarter from the ellipse equation. Parametric,
// so the sector up to the point covers `percent` of the ellipse's area.
PiePoint PieBoundaryPoint(double percent, double a, double b);
