// Frame checks and the cutting of a frame into X and Y electrodes.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "driver/dsp/dsp_stages.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

class DspSplitterTest : public ::testing::Test {
protected:
    DspSplitterTest() : engine(std::make_unique<DspStages>(*shared.registry)) {
        for (int i = 0; i < 256; ++i) {
            frame[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        }
    }
    void SetSplit(int32_t s0, int32_t s1, int32_t f0 = 0, int32_t f1 = 0, int32_t f2 = 0) {
        Split& split = shared.registry->splitState;
        split.Split0 = s0;
        split.Split1 = s1;
        split.Flip0 = f0;
        split.Flip1 = f1;
        split.Flip2 = f2;
    }
    DspSplitter& splitter() { return engine->Splitter(); }
    int GraphsSent() const {
        return shared.transport.Count(shared.registry->graphState0) +
               shared.transport.Count(shared.registry->graphState1);
    }

    test::PublishingRegistry shared;
    std::unique_ptr<DspStages> engine;
    std::array<uint8_t, 256> frame{};  // sample i reads i
};

TEST_F(DspSplitterTest, StandardLayoutWithoutFlips) {
    SetSplit(24, 16);
    splitter().ProcessFrame(64, frame.data());
    ASSERT_EQ(splitter().CountX(), 48);
    ASSERT_EQ(splitter().CountY(), 16);
    for (int k = 0; k < 24; ++k) {
        EXPECT_EQ(splitter().X(k), k) << k;
        EXPECT_EQ(splitter().X(24 + k), 40 + k) << k;
    }
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(splitter().Y(k), 24 + k) << k;
    }
    EXPECT_EQ(splitter().HistoryX().Count(), 48);
    EXPECT_EQ(splitter().HistoryY().Count(), 16);
    EXPECT_EQ(splitter().HistoryX().Axis(), 0);
    EXPECT_EQ(splitter().HistoryY().Axis(), 1);
}

TEST_F(DspSplitterTest, EachFlipReversesOnlyItsSegment) {
    SetSplit(24, 16, 0, 0, 1);
    splitter().ProcessFrame(64, frame.data());
    EXPECT_EQ(splitter().X(24), 63);
    EXPECT_EQ(splitter().X(47), 40);
    EXPECT_EQ(splitter().X(0), 0);
    EXPECT_EQ(splitter().X(23), 23);
    EXPECT_EQ(splitter().Y(0), 24);

    SetSplit(24, 16, 1, 1, 0);
    splitter().ProcessFrame(64, frame.data());
    EXPECT_EQ(splitter().X(0), 23);
    EXPECT_EQ(splitter().X(23), 0);
    EXPECT_EQ(splitter().X(24), 40);
    EXPECT_EQ(splitter().Y(0), 39);
    EXPECT_EQ(splitter().Y(15), 24);
}

TEST_F(DspSplitterTest, SettingsChangeTakesEffectWithTheNextFrame) {
    SetSplit(24, 16);
    splitter().ProcessFrame(64, frame.data());
    SetSplit(20, 24);
    splitter().ProcessFrame(64, frame.data());
    EXPECT_EQ(splitter().CountX(), 40);
    EXPECT_EQ(splitter().CountY(), 24);
    EXPECT_EQ(splitter().Y(0), 20);
    EXPECT_EQ(splitter().X(20), 44);
}

TEST_F(DspSplitterTest, SecondXSegmentMayBeEmpty) {
    SetSplit(40, 24, 0, 0, 1);
    splitter().ProcessFrame(64, frame.data());
    EXPECT_EQ(splitter().CountX(), 40);
    EXPECT_EQ(splitter().CountY(), 24);
    EXPECT_EQ(splitter().X(39), 39);
    EXPECT_EQ(splitter().Y(23), 63);
}

// A dropped frame leaves the arrays and everything downstream as they were.
TEST_F(DspSplitterTest, BadFramesAreDroppedWithoutEffect) {
    SetSplit(24, 16);
    splitter().ProcessFrame(64, frame.data());
    const int graphs = GraphsSent();
    std::array<uint8_t, 256> other{};
    other.fill(200);

    struct Case {
        int32_t len, s0, s1;
        const uint8_t* samples;
    };
    const Case cases[] = {
        {64, 24, 5, other.data()},    // fewer than 6 Y electrodes
        {64, 30, 35, other.data()},   // S0 + S1 > len
        {8, 2, 6, other.data()},      // frame too short, split otherwise valid
        {257, 24, 16, other.data()},  // frame too long
        {64, 0, 16, other.data()},    // no first X segment
        {64, -4, 16, other.data()},   // negative split
        {64, 24, 64, other.data()},   // S1 = len
        {64, 60, 4, other.data()},    // Y too short while S0 + S1 = len
        {64, 24, 16, nullptr},        // no samples
    };
    for (const Case& c : cases) {
        SetSplit(c.s0, c.s1);
        splitter().ProcessFrame(c.len, c.samples);
        EXPECT_EQ(splitter().CountX(), 48) << c.len << " " << c.s0 << " " << c.s1;
        EXPECT_EQ(splitter().X(0), 0) << c.len << " " << c.s0 << " " << c.s1;
        EXPECT_EQ(splitter().Y(0), 24) << c.len << " " << c.s0 << " " << c.s1;
    }
    EXPECT_EQ(GraphsSent(), graphs);
    // Had a frame of 200s reached the history, electrode 0 would have stepped by -56.
    EXPECT_EQ(splitter().HistoryX().Channel(0).Accumulator(), 0);
}

TEST_F(DspSplitterTest, SmallestAcceptedLayouts) {
    SetSplit(3, 6);  // len 9: NX = 3 is too few
    splitter().ProcessFrame(9, frame.data());
    EXPECT_EQ(splitter().CountX(), 0);
    SetSplit(3, 6);  // len 12: NX = 6, NY = 6
    splitter().ProcessFrame(12, frame.data());
    EXPECT_EQ(splitter().CountX(), 6);
    EXPECT_EQ(splitter().CountY(), 6);
    EXPECT_EQ(splitter().X(3), 9);
}

}  // namespace
}  // namespace kv
