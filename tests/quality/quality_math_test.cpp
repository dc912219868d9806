// The arithmetic behind the quality report's figures: percentiles, distance from a drawn line,
// the lag of a pointer behind a moving finger, the order of the position sweep.
#include "bench/quality/quality_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace kv::quality {
namespace {

TEST(QualityMath, PercentilesAreNearestRankAndKeepTheCallersOrder) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(i);  // 100 .. 1, unsorted for the summary
    }
    const Summary s = Summarise(hundred);
    EXPECT_EQ(s.count, 100u);
    EXPECT_EQ(s.p50, 50.0);
    EXPECT_EQ(s.p99, 99.0);
    EXPECT_EQ(s.max, 100.0);
    EXPECT_EQ(hundred.front(), 100.0);

    // Few values: p99 is the largest, p50 the middle one; one value is every percentile.
    const Summary three = Summarise({3.0, 1.0, 2.0});
    EXPECT_EQ(three.p50, 2.0);
    EXPECT_EQ(three.p99, 3.0);
    EXPECT_EQ(Summarise({7.0}).p50, 7.0);
    EXPECT_EQ(Summarise({}).count, 0u);
}

TEST(QualityMath, DeviationIsThePerpendicularDistanceFromTheLine) {
    // A diagonal: (1, 0) lies 1/sqrt(2) from it, to the right of the way (0,0) -> (2,2).
    EXPECT_NEAR(DistanceFromLine({1.0, 0.0}, {0.0, 0.0}, {2.0, 2.0}), -0.7071068, 1e-6);
    EXPECT_NEAR(DistanceFromLine({0.0, 1.0}, {0.0, 0.0}, {2.0, 2.0}), 0.7071068, 1e-6);
    // Points on the line but beyond its ends do not count as off it.
    EXPECT_NEAR(DistanceFromLine({5.0, 5.0}, {0.0, 0.0}, {2.0, 2.0}), 0.0, 1e-12);
    EXPECT_EQ(DistanceFromLine({1.0, 1.0}, {0.0, 0.0}, {0.0, 0.0}), 0.0);

    // A horizontal line with points 0.1 above and 0.3 below: RMS sqrt((0.01 + 0.09) / 2).
    const LineDeviation d = DeviationFromLine({{0.2, 0.6}, {0.4, 0.2}}, {0.0, 0.5}, {1.0, 0.5});
    EXPECT_EQ(d.count, 2u);
    EXPECT_NEAR(d.max, 0.3, 1e-12);
    EXPECT_NEAR(d.rms, 0.2236068, 1e-6);
}

TEST(QualityMath, LagCountsTheFramesSinceTheFingerWasWhereThePointerIs) {
    // From 0.2 at 1 s, 0.5 per second: at 2 s the finger is at 0.7. A pointer at 0.65 shows
    // where the finger was 0.1 s earlier: 10 frames at 100 per second.
    const ConstantMove out{0.2, 1.0, 0.5};
    EXPECT_NEAR(LagFrames(out, 2.0, 0.65, 100.0), 10.0, 1e-9);
    EXPECT_NEAR(LagFrames(out, 2.0, 0.7, 100.0), 0.0, 1e-9);
    // The way back: from 0.8, -0.5 per second; at 2 s the finger is at 0.3, a pointer at 0.35
    // trails it by the same 10 frames.
    const ConstantMove back{0.8, 1.0, -0.5};
    EXPECT_NEAR(LagFrames(back, 2.0, 0.35, 100.0), 10.0, 1e-9);
}

TEST(QualityMath, SweepVisitsEveryPointOnceAndNeverTheSameElectrodesTwiceInARow) {
    for (const int n : {2, 7, 15, 21, 93}) {
        std::vector<int> visits(static_cast<size_t>(n * n), 0);
        GridCell previous = GridVisit(0, n);
        for (int k = 0; k < n * n; ++k) {
            const GridCell cell = GridVisit(k, n);
            ASSERT_GE(cell.i, 0);
            ASSERT_LT(cell.i, n);
            ASSERT_GE(cell.j, 0);
            ASSERT_LT(cell.j, n);
            ++visits[static_cast<size_t>(cell.i * n + cell.j)];
            if (k > 0 && n >= 7) {
                // A jump of at least two grid steps on both axes from one touch to the next.
                EXPECT_GE(std::abs(cell.i - previous.i), 2) << "n " << n << ", touch " << k;
                EXPECT_GE(std::abs(cell.j - previous.j), 2) << "n " << n << ", touch " << k;
            }
            previous = cell;
        }
        for (const int v : visits) {
            EXPECT_EQ(v, 1) << "n " << n;
        }
        // Each run of n touches has every column and every row once.
        for (int run = 0; run < n; ++run) {
            std::vector<int> columns(static_cast<size_t>(n), 0);
            std::vector<int> rows(static_cast<size_t>(n), 0);
            for (int k = run * n; k < (run + 1) * n; ++k) {
                ++columns[static_cast<size_t>(GridVisit(k, n).i)];
                ++rows[static_cast<size_t>(GridVisit(k, n).j)];
            }
            EXPECT_EQ(std::count(columns.begin(), columns.end(), 1), n) << "n " << n;
            EXPECT_EQ(std::count(rows.begin(), rows.end(), 1), n) << "n " << n;
        }
    }
}

}  // namespace
}  // namespace kv::quality
