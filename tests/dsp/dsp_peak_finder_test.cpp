// Peak search on a correlation: seeding, the two passes, plateaus and interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>
#include <vector>

#include "driver/dsp/dsp_peak_finder.h"
#include "driver/dsp/interpolation_tables.h"
#include "driver/dsp/touch_detector.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

// 1 - 0.3 sin(pi j / 1024): the position correction for a peak at this position.
double PositionCorrection(float position) {
    const int j = static_cast<int>(position * 1024.0f);
    return 1.0 - 0.3 * std::sin(std::numbers::pi * j / 1024.0);
}

class DspPeakFinderTest : public ::testing::Test {
protected:
    DspPeakFinderTest() : detector(*shared.registry), finder(detector) {}

    void Find(const std::vector<float>& c, int32_t axis = 0) {
        finder.FindPeaks(static_cast<int32_t>(c.size()), axis, axis == 1, c.data());
    }
    const PeakCandidate& First() const { return finder.First(); }
    const PeakCandidate& Second() const { return finder.Second(); }

    test::PublishingRegistry shared;
    TouchDetector detector;
    DspPeakFinder finder;
};

TEST(DspInterpolationTablesTest, HoldTheSinesAtTheirKeyPoints) {
    const InterpolationTables& t = InterpolationTables::Instance();
    EXPECT_NEAR(t.t1[64], 1.0f, 1e-7);
    EXPECT_NEAR(t.t1[128], 0.0f, 1e-7);
    EXPECT_NEAR(t.t1[192], -1.0f, 1e-7);
    EXPECT_FLOAT_EQ(t.t2[0], 1.0f);
    EXPECT_FLOAT_EQ(t.t2[128], 0.0f);
    EXPECT_NEAR(t.t2[256], 1.0f, 1e-7);
    EXPECT_FLOAT_EQ(t.t3[512], 1.0f);
    EXPECT_NEAR(t.t3[1024], 0.0f, 1e-7);
    EXPECT_EQ(&t, &InterpolationTables::Instance());
}

TEST_F(DspPeakFinderTest, RisingCorrelationHasOnlyEndPeaks) {
    Find({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_EQ(First().index, 9);
    // Last-electrode formula: r = -0.5 * 9 / 10 = -0.45, table index 12.
    const double t1 = std::sin(2.0 * std::numbers::pi * 12 / 256);
    const double t2 = 1.0 - std::sin(std::numbers::pi * 12 / 256);
    EXPECT_NEAR(First().position, (9 - 0.45 - 0.1 * t1) / 9, 1e-6);
    EXPECT_NEAR(First().amplitude, 10 * (1 + 0.4 * t2) * PositionCorrection(First().position),
                1e-4);
    // The other end is reported because its value exceeds 0.0001: r = 0.5 clamps, index 256.
    ASSERT_EQ(Second().index, 0);
    EXPECT_NEAR(Second().position, 0.5 / 9, 1e-6);
    EXPECT_NEAR(Second().amplitude, 1.4 * PositionCorrection(Second().position), 1e-5);

    Find({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(First().index, 9);
    EXPECT_EQ(Second().index, -1);  // a flat end stays at the defaults
    EXPECT_FLOAT_EQ(Second().position, 0.5f);
    EXPECT_FLOAT_EQ(Second().amplitude, 0.0f);
}

// Which electrodes become the first and the second peak.
TEST_F(DspPeakFinderTest, SeedingAndOrderOfThePeaks) {
    struct Case {
        const char* what;
        std::vector<float> correlation;
        int32_t first;
        int32_t second;
    };
    const Case cases[] = {
        {"a falling correlation seeds the first electrode", {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 0, 9},
        {"ends that tie seed the last electrode first", {3, 1, 0, 0, 0, 0, 0, 0, 1, 3}, 9, 0},
        {"equal maxima keep the earlier electrode first", {0, 1, 5, 1, 0, 1, 5, 1, 0, 0}, 2, 6},
        {"an interior peak must beat the stronger end", {7, 1, 5, 1, 0, 0, 0, 0, 0, 0}, 0, 2},
        {"a plateau at the start counts at electrode 1", {5, 5, 1, 0, 0, 0, 0, 0, 0, 0}, 0, 1},
        {"a plateau at the end counts at electrode 8", {0, 0, 0, 0, 0, 0, 0, 1, 5, 5}, 9, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Find(c.correlation);
        EXPECT_EQ(First().index, c.first);
        EXPECT_EQ(Second().index, c.second);
    }
}

TEST_F(DspPeakFinderTest, SymmetricPeakSitsOnItsElectrode) {
    Find({0, 0, 2, 6, 2, 0, 0, 0, 0, 0});
    ASSERT_EQ(First().index, 3);
    EXPECT_FLOAT_EQ(First().position, 3.0f / 9.0f);
    EXPECT_NEAR(First().amplitude, 6 * PositionCorrection(3.0f / 9.0f), 1e-5);
}

TEST_F(DspPeakFinderTest, PeakInTheMiddleLosesThirtyPercent) {
    Find({0, 0, 0, 2, 6, 2, 0, 0, 0});
    ASSERT_EQ(First().index, 4);
    EXPECT_FLOAT_EQ(First().position, 0.5f);
    EXPECT_FLOAT_EQ(First().amplitude, 6.0f * 0.7f);
}

TEST_F(DspPeakFinderTest, AsymmetricPeakLeansTowardsItsStrongerNeighbour) {
    Find({0, 0, 2, 6, 4, 0, 0, 0, 0, 0});
    ASSERT_EQ(First().index, 3);
    EXPECT_GT(First().position, 3.0f / 9.0f);
    EXPECT_LT(First().position, 3.5f / 9.0f);
    Find({0, 0, 4, 6, 2, 0, 0, 0, 0, 0});
    EXPECT_LT(First().position, 3.0f / 9.0f);
    EXPECT_GT(First().position, 2.5f / 9.0f);
}

TEST_F(DspPeakFinderTest, InteriorPlateauCountsOnlyItsLeftElectrode) {
    Find({0, 1, 5, 5, 1, 0, 0, 0, 0, 0});
    ASSERT_EQ(First().index, 2);
    EXPECT_EQ(Second().index, -1);
    // Interpolation uses the true neighbours: the vertex lies half-way to electrode 3.
    EXPECT_NEAR(First().position, 2.5f / 9.0f, 1e-6);
}

TEST_F(DspPeakFinderTest, NegativeInteriorPeakIsStillReported) {
    Find({-5, -3, -1, -3, -5, -5, -5, -5, -5, -6});
    ASSERT_EQ(First().index, 2);
    EXPECT_LT(First().amplitude, 0.0f);
    EXPECT_EQ(Second().index, -1);
}

TEST_F(DspPeakFinderTest, PeaksGoToTheDetectorOnlyForEightElectrodesOrMore) {
    Find({0, 0, 2, 9, 2, 0, 0, 0}, 1);
    EXPECT_EQ(First().index, 3);
    const float level = detector.Level(1);
    EXPECT_FLOAT_EQ(level, First().amplitude);

    Find({0, 0, 2, 20, 2, 0, 0}, 1);
    EXPECT_EQ(First().index, -1);
    EXPECT_FLOAT_EQ(detector.Level(1), level);
}

// The precise path places peaks by the signal: two Gaussian fingers (the profile it starts
// with) 2.6 pitches apart, each leaning on the other's tail, are placed each where it is once
// the other's profile is taken off; a finger alone on the outermost electrode is placed on it,
// where the correlation's parabola puts it a quarter of a pitch inside.
TEST_F(DspPeakFinderTest, ThePrecisePathPlacesCloseFingersAndEdgeFingersWhereTheyAre) {
    detector.SetPath(TouchPath::Precise);
    const auto render = [](std::initializer_list<std::pair<double, double>> fingers) {
        std::vector<float> s(24, 0.0f);
        for (size_t k = 0; k < s.size(); ++k) {
            for (const auto& [at, height] : fingers) {
                const double d = static_cast<double>(k) - at;
                s[k] += static_cast<float>(height * std::exp(-0.5 * d * d / 0.49));
            }
        }
        return s;
    };
    const std::vector<float> pair = render({{8.3, 30.0}, {10.9, 26.0}});
    finder.FindPeaks(24, 0, false, pair.data(), pair.data());
    EXPECT_NEAR(First().position * 23.0, 8.3, 0.01);
    EXPECT_NEAR(Second().position * 23.0, 10.9, 0.01);

    const std::vector<float> edge = render({{0.0, 30.0}});
    finder.FindPeaks(24, 0, false, edge.data(), edge.data());
    EXPECT_NEAR(First().position * 23.0, 0.0, 0.01);
    finder.FindPeaks(24, 0, false, edge.data());  // without the signal: the correlation's place
    EXPECT_GT(First().position * 23.0, 0.2);

    // Two fingers two and a half electrodes apart whose correlation has merged into one peak: the
    // signal still shows both, and neither is placed on the pair's middle. One finger alone stays
    // one.
    const std::vector<float> merged = render({{10.6, 56.0}});
    const std::vector<float> two = render({{9.1, 26.0}, {11.6, 30.0}});
    finder.FindPeaks(24, 0, false, merged.data(), two.data());
    EXPECT_NEAR(First().position * 23.0, 11.6, 0.1);
    EXPECT_NEAR(Second().position * 23.0, 9.1, 0.1);
    const std::vector<float> one = render({{10.6, 30.0}});
    finder.FindPeaks(24, 0, false, merged.data(), one.data());
    EXPECT_NEAR(First().position * 23.0, 10.6, 0.05);
    EXPECT_GT(std::abs(Second().index - First().index), 3);
}

}  // namespace
}  // namespace kv
