// The graph view's bar rule: length, bounds, threshold line and colour, bars per half.
#include "controller/models/graph_bars.h"

#include <gtest/gtest.h>

#include <limits>

namespace kv::controller {
namespace {

TEST(GraphBars, LengthIsValueOverTwelveAndAHalfOfTheHalfWidthWithinBounds) {
    EXPECT_EQ(BarLength(6.25f, 200), 100);
    EXPECT_EQ(BarLength(1.0f, 200), 16);
    EXPECT_EQ(BarLength(1.3f, 100), 10);  // 10.4 pixels, truncated
    EXPECT_EQ(BarLength(12.5f, 200), 197);
    EXPECT_EQ(BarLength(50.0f, 200), 197);  // at most half width - 3
    EXPECT_EQ(BarLength(0.0f, 200), 1);     // at least one pixel
    EXPECT_EQ(BarLength(-4.0f, 200), 1);
    EXPECT_EQ(BarLength(std::numeric_limits<float>::infinity(), 200), 197);
    EXPECT_EQ(BarLength(std::numeric_limits<float>::quiet_NaN(), 200), 1);
    EXPECT_EQ(BarLength(1e30f, 200), 197);
    EXPECT_EQ(BarLength(5.0f, 2), 1);  // too narrow for the upper bound
    EXPECT_EQ(BarLength(5.0f, 0), 1);
}

TEST(GraphBars, ThresholdLineAndColour) {
    // PressThreshold 5 on a full scale of 50: a tenth of the half width.
    EXPECT_EQ(ThresholdOffset(5, 200), 20);
    EXPECT_EQ(ThresholdOffset(25, 200), 100);
    EXPECT_EQ(ThresholdOffset(7, 100), 14);
    EXPECT_EQ(ThresholdOffset(0, 200), 0);
    const int line = ThresholdOffset(5, 200);
    // 1.25 scaled counts reach the line exactly and stay in the first colour.
    EXPECT_FALSE(PassesThreshold(BarLength(1.25f, 200), line));
    EXPECT_TRUE(PassesThreshold(BarLength(1.32f, 200), line));
    EXPECT_FALSE(PassesThreshold(BarLength(0.5f, 200), line));
}

TEST(GraphBars, BarsPerHalfFollowTheSplitAndTheRecord) {
    Split split;
    split.Split0 = 12;
    split.Split1 = 40;
    EXPECT_EQ(LeftBarCount(split), 24);
    EXPECT_EQ(RightBarCount(split), 40);
    split.Split0 = 200;  // more than Graph State0 holds
    split.Split1 = 300;
    EXPECT_EQ(LeftBarCount(split), Graph::kValues);
    EXPECT_EQ(RightBarCount(split), Graph::kValues);
    split.Split0 = -3;
    split.Split1 = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(LeftBarCount(split), 0);
    EXPECT_EQ(RightBarCount(split), 0);
    split.Split0 = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(LeftBarCount(split), Graph::kValues);
}

}  // namespace
}  // namespace kv::controller
