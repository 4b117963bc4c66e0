#include "controls/pie_percent.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::optional<int> PiePercent(long minimum, long maximum, long position) {
    // In 128 bits: neither the span nor the share times 100 can overflow for any long.
    __int128 low = minimum, high = maximum;
    if (high == low) high = low + 1;
    if (position < low || position > high) return std::nullopt;
    return static_cast<int>((static_cast<__int128>(position) - low) * 100 / (high - low));
}

PiePoint PieBoundaryPoint(double percent, double a, double b) {
    // Within its quarter the point's distance from the nearer vertical axis follows the
    // angle; the other coordinate then comes from x²/a² + y²/b² = 1.
    const int quarter = std::min(static_cast<int>(percent / 25.0), 3);
    const double within = (percent - quarter * 25.0) / 25.0 * (std::numbers::pi / 2);
    const double from_axis = quarter % 2 == 0 ? std::sin(within) : std::cos(within);
    const double x_abs = a * from_axis;
    const double y_abs = b * std::sqrt(std::max(0.0, 1.0 - (x_abs * x_abs) / (a * a)));
    switch (quarter) {
        case 0:
            return {x_abs, -y_abs};  // top to right
        case 1:
            return {x_abs, y_abs};  // right to bottom
        case 2:
            return {-x_abs, y_abs};  // bottom to left
        default:
            return {-x_abs, -y_abs};  // left to top
    }
}
