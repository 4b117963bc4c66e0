#include "controls/pie_percent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(PiePercent, IntegerShareInsideTheRangeOnly) {
    EXPECT_EQ(PiePercent(0, 1024, 512), 50);
    EXPECT_EQ(PiePercent(0, 3, 2), 66);  // truncated
    EXPECT_EQ(PiePercent(10, 20, 10), 0);
    EXPECT_EQ(PiePercent(10, 20, 20), 100);
    EXPECT_FALSE(PiePercent(10, 20, 21));
    EXPECT_FALSE(PiePercent(10, 20, 9));
    // One value for a range: the maximum is raised by one, no division by zero.
    EXPECT_EQ(PiePercent(0, 0, 0), 0);
    EXPECT_EQ(PiePercent(5, 5, 6), 100);
    // Sizes in megabytes of large disks do not overflow.
    EXPECT_EQ(PiePercent(0, 2000000000L, 1500000000L), 75);
}

TEST(PiePercent, BoundaryPointLiesOnTheEllipseClockwiseFromTheTop) {
    const double a = 60, b = 18;
    for (double percent = 0; percent <= 100; percent += 2.5) {
        const PiePoint p = PieBoundaryPoint(percent, a, b);
        EXPECT_NEAR(p.x * p.x / (a * a) + p.y * p.y / (b * b), 1.0, 1e-9) << percent;
        // The parametric angle grows with the percent: the point's angle on the circle the
        // ellipse comes from is percent × 3.6 degrees clockwise from the top.
        const double angle = std::atan2(p.x / a, -p.y / b);
        const double expected = percent * 2 * 3.14159265358979 / 100;
        EXPECT_NEAR(std::cos(angle), std::cos(expected), 1e-9) << percent;
        EXPECT_NEAR(std::sin(angle), std::sin(expected), 1e-9) << percent;
    }
}

TEST(PiePercent, HugeRangesDoNotOverflow) {
    constexpr long kMax = std::numeric_limits<long>::max();
    constexpr long kMin = std::numeric_limits<long>::min();
    EXPECT_EQ(PiePercent(0, kMax, kMax / 2), 49);
    EXPECT_EQ(PiePercent(0, 1L << 60, 1L << 59), 50);
    EXPECT_EQ(PiePercent(kMin, kMax, 0), 50);
    EXPECT_EQ(PiePercent(kMax, kMax, kMax), 0);  // an empty range is raised by one
    EXPECT_EQ(PiePercent(kMin, kMin, kMin), 0);
}
