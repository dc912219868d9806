// The pointer pipeline: start-up, damping, smoothing, mapping, press-and-hold and the click
// modes, observed at the injector and in the Monitor queue.
#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "driver/touch/pointer_pipeline.h"
#include "touch_test_support.h"

namespace kv {
namespace {

using namespace pointer_flags;

constexpr uint32_t kAbsMove = kMove | kAbsolute;

PointerSample Touch(float x, float y) {
    return PointerSample{2, x, y, 0.0f, 0};
}
PointerSample Lift(float x, float y) {
    return PointerSample{0, x, y, 0.0f, 0};
}

class PointerPipelineTest : public ::testing::Test {
protected:
    // Builds the pipeline with the settings as the test left them, and refreshes it.
    PointerPipeline& Pipeline(int32_t selection = 0, bool rotate = true) {
        rig.registry->outputState.Selection = selection;
        pipeline = std::make_unique<PointerPipeline>(
            rig.Context(),
            PointerPipeline::Wiring{*TouchModeOf(selection), rotate, nullptr, nullptr});
        pipeline->Refresh();
        return *pipeline;
    }
    void Submit(const PointerSample& sample, int times = 1) {
        for (int i = 0; i < times; ++i) {
            pipeline->Submit(sample, 0, 0);
        }
    }
    int RightClicks() const { return rig.injector.Count(kRightDown); }

    test::OutputRig rig;
    std::unique_ptr<PointerPipeline> pipeline;
};

TEST_F(PointerPipelineTest, FirstThreeSamplesGiveNoOutput) {
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 3);
    EXPECT_TRUE(rig.injector.events.empty());
    EXPECT_EQ(rig.MonitorFrames(), 3);
    EXPECT_EQ(rig.LastEntry().Value4, 0);
    EXPECT_FLOAT_EQ(rig.LastEntry().Value6, 0.5f);
    EXPECT_FLOAT_EQ(rig.LastEntry().Value7, 0.5f);

    Submit(Touch(0.25f, 0.375f));
    // 1920 x 1080: pixel (480, 405) is a quarter and three eighths of 65536.
    const std::vector<test::PointerEvent> expected = {{kAbsMove, 16384, 24576, 0},
                                                      {kLeftDown, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
    EXPECT_EQ(rig.LastEntry().Value4, 2);
}

// A long press is a right click, not also a drag: the left button held since the landing is
// let go just before the right click and stays up until the finger lifts.
TEST_F(PointerPipelineTest, StillFingerGetsRightClickAfterHoldLimitWithLeftButtonLetGo) {
    Pipeline();  // rate 50, RightClickPeriod 2: hold limit 100 frames
    Submit(Touch(0.25f, 0.375f), 3 + 100);
    EXPECT_EQ(RightClicks(), 0);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 0);
    Submit(Touch(0.25f, 0.375f));  // the 101st touching output
    EXPECT_EQ(RightClicks(), 1);
    ASSERT_GE(rig.injector.events.size(), 3u);
    const auto n = rig.injector.events.size();
    EXPECT_EQ(rig.injector.events[n - 3].flags, kLeftUp);
    EXPECT_EQ(rig.injector.events[n - 2].flags, kRightDown);
    EXPECT_EQ(rig.injector.events[n - 1].flags, kRightUp);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
    EXPECT_TRUE(rig.LastEntry().Value3);

    // The hold fires once per touch; the finger moving on and lifting presses nothing.
    Submit(Touch(0.25f, 0.375f), 150);
    Submit(Touch(0.5f, 0.5f), 10);
    Submit(Lift(0.5f, 0.5f), 5);
    EXPECT_EQ(RightClicks(), 1);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 1);
    // The next touch presses the button again.
    Submit(Touch(0.5f, 0.5f), 4);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 2);
}

// The hold time is the setting's share of a period's frames, whole or not: 1.9 at rate 50
// fires after 95 touching frames, 0.5 (a one-second long press) after 25.
TEST_F(PointerPipelineTest, RightClickPeriodCountsFractionsOfAPeriod) {
    for (const auto& [period, limit] : {std::pair{1.9f, 95}, std::pair{0.5f, 25}}) {
        SCOPED_TRACE(period);
        rig.registry->mouseDamp.RightClickPeriod = period;
        Pipeline();
        const int before = RightClicks();
        Submit(Touch(0.25f, 0.375f), 3 + limit);
        EXPECT_EQ(RightClicks(), before);
        Submit(Touch(0.25f, 0.375f));
        EXPECT_EQ(RightClicks(), before + 1);
        EXPECT_EQ(pipeline->Hold().holdLimit, limit);
    }
}

TEST_F(PointerPipelineTest, FingerThatSlidesAwayHasNoRightClickUntilItLandsAgain) {
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 3 + 20);
    Submit(Touch(0.25f + 0.08f, 0.375f), 200);
    Submit(Touch(0.25f, 0.375f), 200);  // back near the landing point: still disarmed
    EXPECT_EQ(RightClicks(), 0);
    Submit(Lift(0.25f, 0.375f), 3);
    Submit(Touch(0.5f, 0.5f), 2 + 101);
    EXPECT_EQ(RightClicks(), 1);
}

TEST_F(PointerPipelineTest, ModeTwoTapIsOnePressAndOneReleaseAtTheLandingPoint) {
    rig.registry->outputState.Mode = 2;
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 6);
    Submit(Touch(0.5f, 0.5f), 6);  // continued contact moves without the button
    Submit(Lift(0.5f, 0.5f), 6);
    const std::vector<test::PointerEvent> expected = {
        {kAbsMove, 16384, 24576, 0}, {kLeftDown, 0, 0, 0}, {kLeftUp, 0, 0, 0}};
    ASSERT_GE(rig.injector.events.size(), 3u);
    EXPECT_EQ(std::vector<test::PointerEvent>(rig.injector.events.begin(),
                                              rig.injector.events.begin() + 3),
              expected);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 1);
    EXPECT_GE(rig.injector.Count(kAbsMove), 2);
    EXPECT_EQ(rig.injector.events.back(), (test::PointerEvent{kAbsMove, 32768, 32768, 0}));
}

TEST_F(PointerPipelineTest, ModeThreeClicksWhereTheFingerLifts) {
    rig.registry->outputState.Mode = 3;
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 6);
    Submit(Touch(0.5f, 0.5f), 6);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 0);
    Submit(Lift(0.5f, 0.5f), 6);
    ASSERT_GE(rig.injector.events.size(), 3u);
    const auto n = rig.injector.events.size();
    EXPECT_EQ(rig.injector.events[n - 3], (test::PointerEvent{kAbsMove, 32768, 32768, 0}));
    EXPECT_EQ(rig.injector.events[n - 2].flags, kLeftDown);
    EXPECT_EQ(rig.injector.events[n - 1].flags, kLeftUp);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
}

TEST_F(PointerPipelineTest, ModeFiveHoldsThePointerWhereTheFingerLanded) {
    rig.registry->outputState.Mode = 5;
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 6);
    Submit(Touch(0.5f, 0.5f), 6);
    Submit(Lift(0.5f, 0.5f), 6);
    const std::vector<test::PointerEvent> expected = {
        {kAbsMove, 16384, 24576, 0}, {kLeftDown, 0, 0, 0}, {kLeftUp, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(PointerPipelineTest, ModesZeroAndSevenReportStateZeroOnly) {
    for (int32_t mode : {0, 7}) {
        SCOPED_TRACE(mode);
        test::OutputRig fresh;
        fresh.registry->outputState.Mode = mode;
        PointerPipeline p(fresh.Context(), PointerPipeline::Wiring{});
        p.Refresh();
        for (int i = 0; i < 10; ++i) {
            p.Submit(Touch(0.25f, 0.375f), 0, 0);
            EXPECT_EQ(fresh.LastEntry().Value4, 0);
        }
        EXPECT_TRUE(fresh.injector.events.empty());
        EXPECT_EQ(fresh.MonitorFrames(), 10);
    }
}

TEST_F(PointerPipelineTest, SwitchingToModeZeroReleasesAHeldButton) {
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 6);
    ASSERT_EQ(rig.injector.Count(kLeftDown), 1);
    rig.registry->outputState.Mode = 0;
    pipeline->Refresh();
    Submit(Touch(0.25f, 0.375f), 6);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 1);
    EXPECT_EQ(rig.injector.events.back().flags, kLeftUp);
}

TEST_F(PointerPipelineTest, OutputDisabledInjectsNothingButFillsTheMonitorQueue) {
    rig.registry->outputState.Enable = false;
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 150);
    Submit(Lift(0.25f, 0.375f), 5);
    EXPECT_TRUE(rig.injector.events.empty());
    EXPECT_EQ(rig.MonitorFrames(), 155);
}

TEST_F(PointerPipelineTest, TwoFingerSelectionsNeverDriveThePointer) {
    for (int32_t selection : {2, 3}) {
        SCOPED_TRACE(selection);
        test::OutputRig fresh;
        fresh.registry->outputState.Selection = selection;
        PointerPipeline p(fresh.Context(),
                          PointerPipeline::Wiring{*TouchModeOf(selection), true, nullptr, nullptr});
        // Before and after the first settings refresh.
        for (int i = 0; i < 10; ++i) {
            p.Submit(Touch(0.25f, 0.375f), 2, 0);
        }
        p.Refresh();
        for (int i = 0; i < 10; ++i) {
            p.Submit(Touch(0.25f, 0.375f), 2, 0);
        }
        EXPECT_TRUE(fresh.injector.events.empty());
        EXPECT_EQ(fresh.MonitorFrames(), 20);
        EXPECT_EQ(fresh.LastEntry().Value1, 2);
    }
}

TEST_F(PointerPipelineTest, ExcludedTouchReleasesInsteadOfMoving) {
    CalibrationState& calib = rig.registry->calibState;
    calib.exclude_edge_flag = 0;
    calib.exclude_edge_left = calib.exclude_edge_top = 0.25f;
    calib.exclude_edge_right = calib.exclude_edge_bottom = 0.75f;
    Pipeline();
    Submit(Touch(0.5f, 0.5f), 6);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
    Submit(Touch(0.2f, 0.5f), 6);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 1);
    EXPECT_EQ(rig.LastEntry().Value4, 0);
    EXPECT_FLOAT_EQ(rig.LastEntry().Value6, 0.2f);  // the position is kept
    EXPECT_EQ(rig.injector.events.back().flags, kLeftUp);
}

TEST_F(PointerPipelineTest, RotationFollowsTheDisplaySinceCalibration) {
    rig.display.SetOrientation(1);
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 4);
    // A quarter turn maps (X, Y) to (1 - Y, X): pixel (1200, 270).
    EXPECT_EQ(rig.injector.events.front(), (test::PointerEvent{kAbsMove, 40960, 16384, 0}));
}

TEST_F(PointerPipelineTest, VirtualTouchPipelineSkipsRotation) {
    rig.display.SetOrientation(1);
    Pipeline(3, false);
    Submit(Touch(0.25f, 0.375f), 4);
    EXPECT_FLOAT_EQ(pipeline->Published().x, 0.25f);
    EXPECT_FLOAT_EQ(pipeline->Published().y, 0.375f);
}

TEST_F(PointerPipelineTest, DampingAveragesJitterWithinTheDampRange) {
    Pipeline();
    // The history must hold dampCount samples when the refresh sets it (rate 50 x 0.2).
    for (int i = 0; i < 20; ++i) {
        Submit(Touch(i % 2 == 0 ? 0.50f : 0.51f, 0.5f));
    }
    pipeline->Refresh();
    ASSERT_EQ(pipeline->DampCount(), 10);
    for (int i = 0; i < 20; ++i) {
        Submit(Touch(i % 2 == 0 ? 0.50f : 0.51f, 0.5f));
        // Undamped, the mean of three alternating samples is 0.5033 or 0.5067. The ring
        // still holds two samples from before the refresh at first.
        if (i >= 2) {
            EXPECT_NEAR(pipeline->Output().x, 0.505f, 0.0006f) << i;
        }
    }
    // A move beyond the range is followed at once: only the new sample is taken.
    Submit(Touch(0.7f, 0.5f), 3);
    EXPECT_FLOAT_EQ(pipeline->Output().x, 0.7f);
}

// Precise: a touch's first frame far from its second on either axis (noise passing the threshold
// just before the finger landed) is dropped on both; a near one is averaged with it.
TEST_F(PointerPipelineTest, PreciseDropsAFirstFrameFarFromTheSecond) {
    struct Case {
        float x0, y0, x1, y1, x, y;
    };
    for (const Case& c : {Case{0.40f, 0.50f, 0.42f, 0.50f, 0.41f, 0.50f},
                          Case{0.59f, 0.50f, 0.50f, 0.52f, 0.50f, 0.52f},
                          Case{0.50f, 0.46f, 0.52f, 0.50f, 0.52f, 0.50f}}) {
        PointerPipeline precise(
            rig.Context(), PointerPipeline::Wiring{TouchMode::SingleTouch, true, nullptr, nullptr,
                                                   TouchPath::Precise});
        precise.Submit(Touch(c.x0, c.y0), 0, 0);
        precise.Submit(Touch(c.x1, c.y1), 0, 0);
        EXPECT_NEAR(precise.Output().x, c.x, 1e-6) << c.x0;
        EXPECT_NEAR(precise.Output().y, c.y, 1e-6) << c.x0;
    }
}

TEST_F(PointerPipelineTest, DampCountIsRateTimesDampPeriodInFloatTruncated) {
    struct Case {
        int32_t rate;
        float period;
        int32_t frames;
    };
    // Each product is a whole number in float, and just below one when widened to double.
    const Case cases[] = {{50, 0.7f, 35},  {50, 0.9f, 45},  {50, 1.3f, 65}, {100, 0.35f, 35},
                          {60, 0.35f, 21}, {50, 0.35f, 17}, {50, 0.2f, 10}, {49, 0.7f, 34},
                          {0, 0.7f, 0},    {50, -0.2f, -10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " x " << c.period);
        rig.registry->commsActStatus.FramesLastPeriod = c.rate;
        rig.registry->mouseDamp.DampPeriod = c.period;
        Pipeline();
        EXPECT_EQ(pipeline->DampCount(), c.frames);
    }
}

TEST_F(PointerPipelineTest, WheelReachesTheDeviceOneFrameLateAsOneNotch) {
    Pipeline();
    Submit(Touch(0.25f, 0.375f), 6);
    PointerSample wheelUp = Touch(0.25f, 0.375f);
    wheelUp.wheel = 2.5f;
    Submit(wheelUp);
    EXPECT_EQ(rig.injector.Count(kWheel), 0);
    PointerSample wheelDown = Touch(0.25f, 0.375f);
    wheelDown.wheel = -1.5f;
    Submit(wheelDown);
    Submit(Touch(0.25f, 0.375f));
    const std::vector<test::PointerEvent> expected = {{kWheel, 0, 0, 120}, {kWheel, 0, 0, -120}};
    std::vector<test::PointerEvent> wheels;
    for (const auto& e : rig.injector.events) {
        if (e.flags == kWheel) {
            wheels.push_back(e);
        }
    }
    EXPECT_EQ(wheels, expected);
}

}  // namespace
}  // namespace kv
