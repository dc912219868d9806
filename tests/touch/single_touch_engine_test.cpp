// Selections 0 and 1: hover and press with hysteresis, presence rules, and pinch to wheel.
#include <gtest/gtest.h>

#include <vector>

#include "touch_test_support.h"

namespace kv {
namespace {

using namespace pointer_flags;

constexpr int32_t kCountX = 40;
constexpr int32_t kCountY = 24;

class SingleTouchEngineTest : public ::testing::Test {
protected:
    SingleTouchEngineTest() { Refresh(50); }
    void Refresh(int32_t framesLastPeriod) {
        rig.registry->commsActStatus.FramesLastPeriod = framesLastPeriod;
        rig.PeriodicStep(0);
    }
    // One frame with one finger; returns the state submitted.
    int32_t Frame(float x, float ampX, float y, float ampY, float release = 9.0f,
                  float press = 10.0f) {
        return FrameAt(test::IndexOf(x, kCountX), x, ampX, test::IndexOf(y, kCountY), y, ampY,
                       release, press);
    }
    int32_t FrameAt(int32_t indexX, float x, float ampX, int32_t indexY, float y, float ampY,
                    float release = 9.0f, float press = 10.0f) {
        TouchEngines& out = rig.Engines();
        test::FeedAxis(out.For(TouchMode::SingleTouch), test::Peak(x, ampX, indexX), 0, kCountX,
                       false, PeakCandidate{}, release, press);
        test::FeedAxis(out.For(TouchMode::SingleTouch), test::Peak(y, ampY, indexY), 1, kCountY,
                       true, PeakCandidate{}, release, press);
        return out.Single().LastSample().state;
    }
    // Frames without a finger until the engine has its four frames of history.
    void Settle() {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Frame(0.5f, 1.0f, 0.5f, 1.0f), 0);
        }
    }

    test::OutputRig rig;
};

TEST_F(SingleTouchEngineTest, HoverThenPressThenReleaseWithPressHysteresis) {
    Settle();
    // Release threshold 6, press threshold 10: press ends below 0.8 x 10 = 8.
    const float r = 6.0f;
    const float p = 10.0f;
    EXPECT_EQ(Frame(0.3f, 8.0f, 0.6f, 8.0f, r, p), 1);    // above release: hover
    EXPECT_EQ(Frame(0.3f, 12.0f, 0.6f, 12.0f, r, p), 2);  // above press on both: press
    EXPECT_EQ(Frame(0.3f, 8.5f, 0.6f, 9.0f, r, p), 2);    // below press, above 0.8 x press
    EXPECT_EQ(Frame(0.3f, 7.9f, 0.6f, 12.0f, r, p), 1);   // one axis below 0.8 x press
    EXPECT_EQ(Frame(0.3f, 9.5f, 0.6f, 9.5f, r, p), 1);    // must exceed press again
    EXPECT_EQ(Frame(0.3f, 10.5f, 0.6f, 12.0f, r, p), 2);
    EXPECT_EQ(Frame(0.3f, 5.0f, 0.6f, 12.0f, r, p), 0);  // below release: gone
    EXPECT_FLOAT_EQ(rig.Engines().Single().LastSample().x, 0.3f);
    EXPECT_FLOAT_EQ(rig.Engines().Single().LastSample().y, 0.6f);
}

TEST_F(SingleTouchEngineTest, PressNeedsASteadyElectrode) {
    Settle();
    const int32_t y = test::IndexOf(0.5f, kCountY);
    EXPECT_EQ(FrameAt(10, 10.0f / 39, 9.5f, y, 0.5f, 9.5f), 1);
    EXPECT_EQ(FrameAt(12, 12.0f / 39, 12.0f, y, 0.5f, 12.0f), 1);  // moved two electrodes
    EXPECT_EQ(FrameAt(13, 13.0f / 39, 12.0f, y, 0.5f, 12.0f), 2);
}

TEST_F(SingleTouchEngineTest, NoTouchBelowEightFramesPerPeriod) {
    Refresh(7);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Frame(0.3f, 20.0f, 0.6f, 20.0f), 0);
    }
    Refresh(8);
    int32_t state = 0;
    for (int i = 0; i < 20; ++i) {
        state = Frame(0.3f, 20.0f, 0.6f, 20.0f);
    }
    EXPECT_EQ(state, 2);
}

TEST_F(SingleTouchEngineTest, JumpOfMoreThanAQuarterOfTheElectrodesClearsPresence) {
    const int32_t y = test::IndexOf(0.5f, kCountY);
    for (int i = 0; i < 6; ++i) {
        FrameAt(10, 10.0f / 39, 20.0f, y, 0.5f, 20.0f);
    }
    ASSERT_EQ(rig.Engines().Single().LastSample().state, 2);
    // 40 electrodes: a quarter is 10.
    EXPECT_EQ(FrameAt(20, 20.0f / 39, 20.0f, y, 0.5f, 20.0f), 2);
    EXPECT_EQ(FrameAt(31, 31.0f / 39, 20.0f, y, 0.5f, 20.0f), 0);
    EXPECT_EQ(FrameAt(31, 31.0f / 39, 20.0f, y, 0.5f, 20.0f), 2);
}

TEST_F(SingleTouchEngineTest, FrameWithoutElectrodesRestartsTheHistory) {
    for (int i = 0; i < 6; ++i) {
        Frame(0.3f, 20.0f, 0.6f, 20.0f);
    }
    ASSERT_EQ(rig.Engines().Single().LastSample().state, 2);
    TouchEngines& out = rig.Engines();
    test::FeedAxis(out.For(TouchMode::SingleTouch), PeakCandidate{}, 0, 0, false, PeakCandidate{},
                   9.0f, 10.0f);
    EXPECT_EQ(rig.Engines().Single().Fill(), 0);
    test::FeedAxis(out.For(TouchMode::SingleTouch), PeakCandidate{}, 1, 0, true, PeakCandidate{},
                   9.0f, 10.0f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Frame(0.3f, 20.0f, 0.6f, 20.0f), 0);
    }
    EXPECT_EQ(Frame(0.3f, 20.0f, 0.6f, 20.0f), 2);
}

TEST_F(SingleTouchEngineTest, LiftReportsWhereTheFingerLeftNotTheNoisePeak) {
    for (int i = 0; i < 6; ++i) {
        Frame(0.3f, 20.0f, 0.6f, 20.0f);
    }
    // The finger is gone; a weak peak remains elsewhere.
    EXPECT_EQ(Frame(0.8f, 2.0f, 0.1f, 2.0f), 0);
    EXPECT_FLOAT_EQ(rig.Engines().Single().LastSample().x, 0.3f);
    EXPECT_FLOAT_EQ(rig.Engines().Single().LastSample().y, 0.6f);
}

TEST_F(SingleTouchEngineTest, ModeThreeLiftClickLandsWhereTheFingerLifted) {
    rig.registry->outputState.Mode = 3;
    rig.PeriodicStep(0);
    // Two lifts: a weak noise peak stays elsewhere, then no peak at all (the detector then
    // reports the middle of the axis).
    for (int touch = 0; touch < 2; ++touch) {
        for (int i = 0; i < 10; ++i) {
            Frame(0.25f, 20.0f, 0.375f, 20.0f);
        }
        for (int i = 0; i < 6; ++i) {
            if (touch == 0) {
                Frame(0.9f, 2.0f, 0.9f, 2.0f);
            } else {
                FrameAt(-1, 0.5f, 0.0f, -1, 0.5f, 0.0f);
            }
        }
    }
    ASSERT_EQ(rig.injector.Count(kLeftDown), 2);
    ASSERT_EQ(rig.injector.Count(kLeftUp), 2);
    // Every move went to the finger's pixel (480, 405), so both clicks landed there; none
    // went to the noise peak or the middle of the screen.
    for (const auto& e : rig.injector.events) {
        if (e.flags == (kMove | kAbsolute)) {
            EXPECT_EQ(e.dx, 16384);
            EXPECT_EQ(e.dy, 24576);
        }
    }
}

class PinchScrollEngineTest : public SingleTouchEngineTest {
protected:
    PinchScrollEngineTest() { rig.PeriodicStep(1); }
    // Two fingers on one Y line, at x = 0.5 -/+ half the spacing.
    void PinchFrame(float spacing) {
        const float left = 0.5f - spacing / 2.0f;
        const float right = 0.5f + spacing / 2.0f;
        TouchEngines& out = rig.Engines();
        test::FeedAxis(out.For(TouchMode::PinchScroll),
                       test::Peak(left, 20.0f, test::IndexOf(left, kCountX)), 0, kCountX, false,
                       test::Peak(right, 19.0f, test::IndexOf(right, kCountX)), 9.0f, 10.0f);
        test::FeedAxis(out.For(TouchMode::PinchScroll),
                       test::Peak(0.5f, 20.0f, test::IndexOf(0.5f, kCountY)), 1, kCountY, true,
                       PeakCandidate{}, 9.0f, 10.0f);
    }
};

TEST_F(PinchScrollEngineTest, SpreadingByOneHundredthPerFrameGivesANotchEveryThirdFrame) {
    // Steps of 10/1024 (0.0098) keep every position exact in float: with 0.01 itself, two
    // steps land on the 0.02 threshold and rounding would decide.
    std::vector<int> notchFrames;
    for (int frame = 0; frame < 30; ++frame) {
        PinchFrame(static_cast<float>(205 + 10 * frame) / 1024.0f);
        const PointerSample& s = rig.Engines().Pinch().LastSample();
        if (frame >= 4) {
            EXPECT_EQ(s.state, 1) << frame;  // two fingers never press
            EXPECT_FLOAT_EQ(s.x, 0.5f);      // the pointer sits between the fingers
        }
        if (s.wheel != 0.0f) {
            EXPECT_GT(s.wheel, 0.0f);
            notchFrames.push_back(frame);
        }
    }
    // Accumulation starts at frame 4; every third step of 0.01 passes 0.02.
    const std::vector<int> expected = {7, 10, 13, 16, 19, 22, 25, 28};
    EXPECT_EQ(notchFrames, expected);
    EXPECT_EQ(rig.injector.Count(kWheel), static_cast<int>(expected.size()));
    EXPECT_EQ(rig.injector.Count(kLeftDown), 0);
    for (const auto& e : rig.injector.events) {
        if (e.flags == kWheel) {
            EXPECT_EQ(e.data, 120);
        }
    }
}

TEST_F(PinchScrollEngineTest, PinchingTogetherScrollsDown) {
    for (int frame = 0; frame < 30; ++frame) {
        PinchFrame(0.6f - 0.01f * static_cast<float>(frame));
    }
    ASSERT_GT(rig.injector.Count(kWheel), 0);
    for (const auto& e : rig.injector.events) {
        if (e.flags == kWheel) {
            EXPECT_EQ(e.data, -120);
        }
    }
}

TEST_F(PinchScrollEngineTest, TwoFingersCountOverTheLastWindowFramesAcrossAnEmptyFrame) {
    // 120 frames per period: a window of 10 frames, two fingers from 7 of them.
    Refresh(120);
    rig.PeriodicStep(1);
    for (int frame = 0; frame < 12; ++frame) {
        PinchFrame(0.3f);
    }
    ASSERT_EQ(rig.Engines().Pinch().LastSample().state, 1);
    const int pressesBefore = rig.injector.Count(kLeftDown);
    // One frame without electrodes restarts the single-finger history, not the ring.
    TouchEngines& out = rig.Engines();
    test::FeedAxis(out.For(TouchMode::PinchScroll), PeakCandidate{}, 0, 0, false, PeakCandidate{},
                   9.0f, 10.0f);
    test::FeedAxis(out.For(TouchMode::PinchScroll), PeakCandidate{}, 1, 0, true, PeakCandidate{},
                   9.0f, 10.0f);
    // Both fingers stay: the strong, steady peaks on each axis would press as one finger,
    // but the last ten frames show two fingers, and two fingers never press.
    for (int frame = 0; frame < 8; ++frame) {
        PinchFrame(0.3f);
        EXPECT_NE(out.Pinch().LastSample().state, 2) << frame;
    }
    EXPECT_EQ(out.Pinch().LastSample().state, 1);
    EXPECT_EQ(rig.injector.Count(kLeftDown), pressesBefore);
}

TEST_F(PinchScrollEngineTest, LowFrameRateDoesNotInventAFinger) {
    // At 8..11 frames per period the two-finger window rounds down to nothing.
    Refresh(10);
    rig.PeriodicStep(1);
    TouchEngines& out = rig.Engines();
    for (int i = 0; i < 10; ++i) {
        test::FeedAxis(out.For(TouchMode::PinchScroll), PeakCandidate{}, 0, kCountX, false,
                       PeakCandidate{}, 9.0f, 10.0f);
        test::FeedAxis(out.For(TouchMode::PinchScroll), PeakCandidate{}, 1, kCountY, true,
                       PeakCandidate{}, 9.0f, 10.0f);
        EXPECT_EQ(out.Pinch().LastSample().state, 0);
    }
}

}  // namespace
}  // namespace kv
