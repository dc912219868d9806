// The touch output as the touch detector drives it: where each selection's fingers go.
#include <gtest/gtest.h>

#include <vector>

#include "touch_test_support.h"

namespace kv {
namespace {

constexpr float kThreshold = 9.0f;

class TouchEnginesTest : public ::testing::Test {
protected:
    // Two fingers, at (0.25, 0.5) (stronger) and (0.75, 0.25), for one frame.
    void TwoFingers(int32_t selection) {
        const PeakCandidate x1 = test::Peak(0.25f, 20.0f, 10);
        const PeakCandidate x2 = test::Peak(0.75f, 15.0f, 29);
        const PeakCandidate y1 = test::Peak(0.5f, 20.0f, 12);
        const PeakCandidate y2 = test::Peak(0.25f, 15.0f, 6);
        Feed(selection, x1, x2, y1, y2);
    }
    void NoFinger(int32_t selection) {
        Feed(selection, PeakCandidate{}, PeakCandidate{}, PeakCandidate{}, PeakCandidate{});
    }
    void Feed(int32_t selection, const PeakCandidate& x1, const PeakCandidate& x2,
              const PeakCandidate& y1, const PeakCandidate& y2) {
        TouchEngines& out = rig.Engines();
        if (selection == 2) {
            test::FeedPair(out.For(TouchMode::TwoFingerTuio), x1, x2, false, kThreshold);
            test::FeedPair(out.For(TouchMode::TwoFingerTuio), y1, y2, true, kThreshold);
        } else {
            test::FeedPair(out.For(TouchMode::TwoFingerNative), x1, x2, false, kThreshold);
            test::FeedPair(out.For(TouchMode::TwoFingerNative), y1, y2, true, kThreshold);
        }
    }
    void Select(int32_t selection) {
        rig.registry->outputState.Selection = selection;
        rig.PeriodicStep(selection);
    }

    test::OutputRig rig;
};

TEST_F(TouchEnginesTest, NativeSelectionSendsBothContactsAndNeverThePointer) {
    rig.display.SetOrientation(1);  // the virtual touch device is not rotated
    Select(3);
    for (int i = 0; i < 3; ++i) {
        TwoFingers(3);
    }
    EXPECT_TRUE(rig.contacts.contacts.empty());  // the smoothing ring fills first
    TwoFingers(3);
    // 0.25 -> 8191, 0.5 -> 16383, 0.75 -> 24575.
    const std::vector<test::Contact> landed = {
        {2, 1, 8191, 16383}, {3, 1, 8191, 16383}, {2, 2, 24575, 8191}, {3, 2, 24575, 8191}};
    EXPECT_EQ(rig.contacts.contacts, landed);
    rig.contacts.contacts.clear();
    // The fingers go: held for two frames (a drop-out is no lift), then one frame late
    // through the smoothing ring, the contacts lift where they were.
    for (int i = 0; i < 4; ++i) {
        NoFinger(3);
    }
    std::vector<test::Contact> lifted;
    for (int i = 0; i < 3; ++i) {
        lifted.insert(lifted.end(), {{3, 1, 8191, 16383}, {3, 2, 24575, 8191}});
    }
    lifted.insert(
        lifted.end(),
        {{2, 1, 8191, 16383}, {0, 1, 8191, 16383}, {2, 2, 24575, 8191}, {0, 2, 24575, 8191}});
    EXPECT_EQ(rig.contacts.contacts, lifted);
    EXPECT_TRUE(rig.injector.events.empty());
    EXPECT_EQ(rig.MonitorFrames(), 8);  // one report per frame, from the primary finger
    EXPECT_EQ(rig.LastEntry().Value1, 2);
}

TEST_F(TouchEnginesTest, TuioSelectionHandsBothFingersToTheTuioSender) {
    Select(2);
    for (int i = 0; i < 4; ++i) {
        TwoFingers(2);
    }
    ASSERT_EQ(rig.tuio.frames.size(), 4u);
    const test::TuioFrame& f = rig.tuio.frames.back();
    EXPECT_EQ(f.stateA, 2);
    EXPECT_FLOAT_EQ(f.xA, 0.25f);
    EXPECT_FLOAT_EQ(f.yA, 0.5f);
    EXPECT_EQ(f.stateB, 2);
    EXPECT_FLOAT_EQ(f.xB, 0.75f);
    EXPECT_FLOAT_EQ(f.yB, 0.25f);
    EXPECT_EQ(rig.tuio.frames.front().stateA, 0);
    EXPECT_TRUE(rig.contacts.contacts.empty());
    EXPECT_TRUE(rig.injector.events.empty());
}

TEST_F(TouchEnginesTest, DisabledOutputSendsNoContactsNoTuioButFillsTheMonitorQueue) {
    rig.registry->outputState.Enable = false;
    Select(3);
    for (int i = 0; i < 6; ++i) {
        TwoFingers(3);
    }
    Select(2);
    for (int i = 0; i < 6; ++i) {
        TwoFingers(2);
    }
    EXPECT_TRUE(rig.contacts.contacts.empty());
    EXPECT_TRUE(rig.tuio.frames.empty());
    EXPECT_TRUE(rig.injector.events.empty());
    EXPECT_EQ(rig.MonitorFrames(), 12);
}

TEST_F(TouchEnginesTest, SingleTouchSelectionsDriveThePointer) {
    for (int32_t selection : {0, 1}) {
        SCOPED_TRACE(selection);
        test::OutputRig fresh;
        fresh.registry->outputState.Selection = selection;
        TouchEngines& out = fresh.Engines();
        fresh.PeriodicStep(selection);
        for (int i = 0; i < 12; ++i) {
            const PeakCandidate x = test::Peak(0.25f, 20.0f, 10);
            const PeakCandidate y = test::Peak(0.375f, 20.0f, 9);
            if (selection == 0) {
                test::FeedAxis(out.For(TouchMode::SingleTouch), x, 0, 40, false, PeakCandidate{},
                               9.0f, 10.0f);
                test::FeedAxis(out.For(TouchMode::SingleTouch), y, 1, 24, true, PeakCandidate{},
                               9.0f, 10.0f);
            } else {
                test::FeedAxis(out.For(TouchMode::PinchScroll), x, 0, 40, false, PeakCandidate{},
                               9.0f, 10.0f);
                test::FeedAxis(out.For(TouchMode::PinchScroll), y, 1, 24, true, PeakCandidate{},
                               9.0f, 10.0f);
            }
        }
        EXPECT_EQ(fresh.injector.Count(pointer_flags::kLeftDown), 1);
        EXPECT_EQ(fresh.LastEntry().Value1, selection);
        EXPECT_EQ(fresh.MonitorFrames(), 12);
    }
}

}  // namespace
}  // namespace kv
