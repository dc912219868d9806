// The smoothing across a finger's way of travel: quieter across a straight stroke, no lag
// along it, curves not cut by more than its reach, nothing left once the finger rests.
#include "driver/touch/stroke_smoother.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

TEST(StrokeSmoother, AStraightStrokeIsQuieterAcrossAndKeepsItsPlaceAlong) {
    // A diagonal at 0.8 of the foil a second, 100 frames a second.
    const double step = 0.008 / std::sqrt(2.0);
    for (const double sigma : {0.0, 0.0004}) {
        kv::StrokeSmoother smoother;
        std::mt19937 random(7);
        std::normal_distribution<double> unit(0.0, 1.0);
        double inAcross = 0.0;
        double outAcross = 0.0;
        for (int f = 0; f < 100; ++f) {
            const double along = 0.1 + step * f;
            const double off = sigma * unit(random);  // across the way of travel
            double x = along - off / std::sqrt(2.0);
            double y = along + off / std::sqrt(2.0);
            const double inAlong = (x + y) / std::sqrt(2.0);
            smoother.Step(x, y);
            EXPECT_NEAR((x + y) / std::sqrt(2.0), inAlong, 0.02 * step) << f;  // no lag along
            if (f >= 30) {
                inAcross += off * off;
                outAcross += (y - x) / std::sqrt(2.0) * (y - x) / std::sqrt(2.0);
            }
        }
        if (sigma == 0.0) {
            EXPECT_LT(outAcross, 1e-20);  // nothing across but rounding
        } else {
            EXPECT_LT(std::sqrt(outAcross / inAcross), 0.6) << "across noise not reduced";
        }
    }
}

TEST(StrokeSmoother, CurvesAreNotCutAndARestingFingerIsLeftWhereItIs) {
    // Arcs of several radii at the same speed, then the finger rests at the arc's end.
    for (const double radius : {0.1, 0.3, 1.0, 3.0}) {
        kv::StrokeSmoother smoother;
        double worst = 0.0;
        double x = 0.0;
        double y = 0.0;
        double endX = 0.0;
        double endY = 0.0;
        for (int f = 0; f < 250; ++f) {
            const double angle = 0.008 * std::min(f, 150) / radius;
            endX = 0.5 + radius * std::cos(angle) - radius;
            endY = 0.5 + radius * std::sin(angle);
            x = endX;
            y = endY;
            smoother.Step(x, y);
            worst = std::max(worst, std::hypot(x - endX, y - endY));
        }
        EXPECT_LE(worst, 0.0012) << "radius " << radius;
        EXPECT_NEAR(x, endX, 1e-9) << "radius " << radius;
        EXPECT_NEAR(y, endY, 1e-9) << "radius " << radius;
    }
}

}  // namespace
