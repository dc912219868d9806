// The touch detector: signal level, thresholds, the X/Y ratio, refresh and dispatch.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "driver/dsp/touch_detector.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

PeakCandidate Peak(float amplitude, int32_t index = 5, float position = 0.3f) {
    PeakCandidate peak;
    peak.index = index;
    peak.position = position;
    peak.amplitude = amplitude;
    return peak;
}

class DspTouchDetectorTest : public ::testing::Test {
protected:
    DspTouchDetectorTest() : detector(std::make_unique<TouchDetector>(*shared.registry)) {
        detector->SetTouchEngines(sink.Set());
        detector->SetCalibrationCollector(&collector);
    }
    // One frame: X then Y, as the histories deliver them.
    void Frame(float x, float y) {
        detector->Intake(20, 0, false, Peak(x), PeakCandidate{});
        detector->Intake(12, 1, true, Peak(y), PeakCandidate{});
    }
    // A settings refresh: the detector acts on the first of the two axis calls.
    void Refresh() {
        detector->PeriodicRefresh();
        detector->PeriodicRefresh();
    }

    test::PublishingRegistry shared;
    test::RecordingTouchEngines sink;
    test::RecordingCollector collector;
    std::unique_ptr<TouchDetector> detector;
};

TEST_F(DspTouchDetectorTest, ConstructionPublishesLevelZero) {
    shared.registry->senseStatus.Value = 5.0f;
    const int before = shared.transport.Count(shared.registry->senseStatus);
    TouchDetector another(*shared.registry);
    EXPECT_EQ(shared.registry->senseStatus.Value, 0.0f);
    EXPECT_EQ(shared.transport.Count(shared.registry->senseStatus), before + 1);
    EXPECT_FLOAT_EQ(another.PressThreshold(), 9.1f);
    EXPECT_FLOAT_EQ(another.EffectiveThreshold(), 9.0f);
    EXPECT_EQ(another.Mode(), TouchMode::SingleTouch);
}

TEST_F(DspTouchDetectorTest, LevelIsTheLargerAxisPublishedOncePerFrameAfterY) {
    SenseStatus& status = shared.registry->senseStatus;
    const int before = shared.transport.Count(status);
    detector->Intake(20, 0, false, Peak(20.0f), PeakCandidate{});
    EXPECT_EQ(shared.transport.Count(status), before);  // nothing after X
    detector->Intake(12, 1, true, Peak(30.0f), PeakCandidate{});
    EXPECT_FLOAT_EQ(status.Value, 30.0f);
    EXPECT_EQ(shared.transport.Count(status), before + 1);
    Frame(40.0f, 30.0f);
    EXPECT_FLOAT_EQ(status.Value, 40.0f);
    EXPECT_EQ(shared.transport.Count(status), before + 2);
    EXPECT_FLOAT_EQ(detector->Level(0), 40.0f);
    EXPECT_FLOAT_EQ(detector->Level(1), 30.0f);

    const std::vector<uint8_t> payload = shared.transport.LastPayload(status);
    ASSERT_EQ(payload.size(), 8u);
    EXPECT_FLOAT_EQ(wire::GetReal(payload.data() + 4), 40.0f);
}

TEST_F(DspTouchDetectorTest, ThresholdsFollowThePressThresholdAndTheRatio) {
    shared.registry->senseState.PressThreshold = 12;
    Refresh();
    Frame(1.0f, 1.0f);
    ASSERT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(sink.calls[0].selection, 0);
    EXPECT_FLOAT_EQ(sink.calls[0].press, 12.0f);
    EXPECT_FLOAT_EQ(sink.calls[0].release, 10.8f);
    EXPECT_FLOAT_EQ(sink.calls[1].press, 12.0f);

    // 50 strong touches per axis, Y reading 1.2 times X.
    for (int i = 0; i < 50; ++i) {
        Frame(20.0f, 24.0f);
    }
    EXPECT_FALSE(detector->RatioTracker().Active());
    EXPECT_FLOAT_EQ(detector->RatioTracker().Ratio(), 1.2f);
    sink.calls.clear();
    Frame(1.0f, 1.0f);
    EXPECT_FLOAT_EQ(sink.calls[0].press, 12.0f);  // X keeps the plain threshold
    EXPECT_FLOAT_EQ(sink.calls[1].press, 12.0f * 1.2f);
    EXPECT_FLOAT_EQ(sink.calls[1].release, 0.9f * 12.0f * 1.2f);
}

TEST_F(DspTouchDetectorTest, RatioIsClampedAndCountsFiftyHitsPerSide) {
    AxisRatioTracker high;
    for (int i = 0; i < 50; ++i) {
        high.Update(10.0f, Peak(20.0f), false);
        high.Update(10.0f, Peak(60.0f), true);
    }
    EXPECT_FLOAT_EQ(high.Ratio(), 1.3f);

    AxisRatioTracker low;
    for (int i = 0; i < 50; ++i) {
        low.Update(10.0f, Peak(40.0f), false);
        low.Update(10.0f, Peak(11.0f), true);
    }
    EXPECT_FLOAT_EQ(low.Ratio(), 0.7f);

    // Extra X hits past 50 are not summed; hits at the threshold do not count.
    AxisRatioTracker counted;
    for (int i = 0; i < 80; ++i) {
        counted.Update(10.0f, Peak(20.0f), false);
        counted.Update(10.0f, Peak(10.0f), true);
    }
    EXPECT_EQ(counted.XHits(), 50);
    EXPECT_EQ(counted.YHits(), 0);
    EXPECT_TRUE(counted.Active());
    for (int i = 0; i < 50; ++i) {
        counted.Update(10.0f, Peak(22.0f), true);
    }
    EXPECT_FLOAT_EQ(counted.Ratio(), 1.1f);
}

TEST_F(DspTouchDetectorTest, NewPressThresholdRestartsRatioLearning) {
    AxisRatioTracker tracker;
    const auto learn = [&](float threshold, float x, float y) {
        for (int i = 0; i < 50; ++i) {
            tracker.Update(threshold, Peak(x), false);
            tracker.Update(threshold, Peak(y), true);
        }
    };
    learn(12.0f, 20.0f, 24.0f);
    ASSERT_FLOAT_EQ(tracker.Ratio(), 1.2f);
    // Same integer part: no restart, and strong touches change nothing.
    learn(12.7f, 20.0f, 16.0f);
    EXPECT_FALSE(tracker.Active());
    EXPECT_FLOAT_EQ(tracker.Ratio(), 1.2f);
    // 12 to 13: learning starts over; the old ratio holds until it is done.
    tracker.Update(13.0f, Peak(1.0f), false);
    EXPECT_TRUE(tracker.Active());
    EXPECT_FLOAT_EQ(tracker.Ratio(), 1.2f);
    learn(13.0f, 20.0f, 18.0f);
    EXPECT_FLOAT_EQ(tracker.Ratio(), 0.9f);
}

TEST_F(DspTouchDetectorTest, DetectorRestartsLearningWhenTheSettingChanges) {
    shared.registry->senseState.PressThreshold = 12;
    Refresh();
    for (int i = 0; i < 50; ++i) {
        Frame(20.0f, 24.0f);
    }
    ASSERT_FALSE(detector->RatioTracker().Active());
    Refresh();  // unchanged setting
    Frame(1.0f, 1.0f);
    EXPECT_FALSE(detector->RatioTracker().Active());
    shared.registry->senseState.PressThreshold = 13;
    Refresh();
    Frame(1.0f, 1.0f);
    EXPECT_TRUE(detector->RatioTracker().Active());
    EXPECT_FLOAT_EQ(detector->EffectiveThreshold(), 13.0f * 1.2f);
}

TEST_F(DspTouchDetectorTest, ThresholdAtOrBelowZeroKeepsARealRatio) {
    AxisRatioTracker tracker;
    for (int i = 0; i < 50; ++i) {
        tracker.Update(-5.0f, Peak(0.0f), false);
        tracker.Update(-5.0f, Peak(-1.0f), true);
    }
    EXPECT_FALSE(tracker.Active());
    EXPECT_FLOAT_EQ(tracker.Ratio(), 1.0f);
    // A threshold beyond the integer range must not break the integer snapshot.
    tracker.Update(3.0e9f, Peak(1.0f), false);
    tracker.Update(-3.0e9f, Peak(1.0f), false);
    EXPECT_TRUE(tracker.Active());
}

TEST_F(DspTouchDetectorTest, RefreshRunsOnEveryOtherCall) {
    shared.registry->outputState.Selection = 2;
    shared.registry->senseState.PressThreshold = 15;
    shared.registry->commsActStatus.FramesLastPeriod = 240;
    detector->PeriodicRefresh();  // the X call of the first period
    EXPECT_EQ(detector->Mode(), TouchMode::TwoFingerTuio);
    EXPECT_FLOAT_EQ(detector->PressThreshold(), 15.0f);
    EXPECT_EQ(collector.periodic, 1);
    ASSERT_EQ(sink.periodic.size(), 1u);
    EXPECT_EQ(sink.periodic[0], 2);
    EXPECT_EQ(sink.periodicRates[0], 240);  // the engine takes the frame rate of the period

    shared.registry->outputState.Selection = 3;
    detector->PeriodicRefresh();  // the Y call: passed over
    EXPECT_EQ(detector->Mode(), TouchMode::TwoFingerTuio);
    EXPECT_EQ(collector.periodic, 1);
    detector->PeriodicRefresh();
    EXPECT_EQ(detector->Mode(), TouchMode::TwoFingerNative);
    EXPECT_EQ(collector.periodic, 2);
    EXPECT_EQ(sink.periodic.size(), 2u);

    shared.registry->outputState.Selection = 7;
    Refresh();
    EXPECT_EQ(collector.periodic, 3);
    EXPECT_EQ(detector->Mode(), std::nullopt);
    EXPECT_EQ(sink.periodic.size(), 2u);  // no engine for selection 7
}

TEST_F(DspTouchDetectorTest, OnlyTheSelectedEngineIsFed) {
    for (int32_t selection = 0; selection <= 4; ++selection) {
        shared.registry->outputState.Selection = selection;
        Refresh();
        sink.calls.clear();
        PeakCandidate second = Peak(7.0f, 9, 0.8f);
        detector->Intake(20, 0, false, Peak(30.0f), second);
        detector->Intake(12, 1, true, Peak(25.0f), second);
        if (selection == 4) {
            EXPECT_TRUE(sink.calls.empty());
            continue;
        }
        ASSERT_EQ(sink.calls.size(), 2u) << selection;
        for (const test::EngineCall& call : sink.calls) {
            EXPECT_EQ(call.selection, selection);
            EXPECT_EQ(call.second.index, 9);
        }
        EXPECT_FALSE(sink.calls[0].frameComplete);
        EXPECT_TRUE(sink.calls[1].frameComplete);
        EXPECT_FLOAT_EQ(sink.calls[1].first.amplitude, 25.0f);
        if (selection <= 1) {
            EXPECT_EQ(sink.calls[1].axis, 1);
            EXPECT_EQ(sink.calls[1].count, 12);
        }
    }
}

// Precise: a palm is a frame spread over five electrodes on both axes, and once seen stays one
// while both spread over four (its flanks read near half its peak on some boards). An object
// landing over four on both axes is held back for up to kPalmWait frames; a finger is not.
TEST_F(DspTouchDetectorTest, APalmOnceSeenStaysOneAndAWideLandingWaitsForIt) {
    detector->SetPath(TouchPath::Precise);
    // Spreads on X and Y (0: the foil is free), then whether the frame is a palm's and whether
    // its peaks are passed on.
    const int32_t steps[][4] = {{5, 4, 0, 0}, {5, 5, 1, 0}, {5, 4, 1, 0}, {4, 4, 1, 0},
                                {3, 4, 0, 1}, {4, 5, 0, 1}, {0, 0, 0, 0}, {4, 4, 0, 0},
                                {4, 4, 0, 0}, {4, 4, 0, 0}, {4, 4, 0, 1}, {0, 0, 0, 0},
                                {3, 3, 0, 1}};
    for (const auto& step : steps) {
        detector->NoteSpread(0, step[0]);
        detector->NoteSpread(1, step[1]);
        Frame(step[0] > 0 ? 30.0f : 0.0f, step[0] > 0 ? 30.0f : 0.0f);
        EXPECT_EQ(sink.calls.back().palm, step[2] == 1) << step[0] << " " << step[1];
        EXPECT_EQ(sink.calls.back().first.amplitude > 0.0f, step[3] == 1) << step[0] << step[1];
    }
}

// Both paths: a faint object (under kSureLanding times the threshold) lands only where the
// frame before had its peaks, as a finger coming near does; the idle foil's noise crossing
// the threshold on both axes at once, anywhere, lands nothing. A firm landing lands at once.
TEST_F(DspTouchDetectorTest, AFaintLandingPassesOnlyWhereTheFrameBeforeHadItsPeaks) {
    shared.registry->senseState.PressThreshold = 10;
    Refresh();
    // X amplitude and position, Y amplitude and position, whether the peaks are passed on
    // (the first frame: a free foil).
    const float steps[][5] = {{0, 0, 0, 0, 0},          {12, 0.2f, 12, 0.5f, 0},
                              {12, 0.7f, 11, 0.1f, 0},  {6, 0.4f, 5, 0.6f, 1},
                              {12, 0.42f, 12, 0.6f, 1}, {3, 0.4f, 2, 0.6f, 1},
                              {30, 0.9f, 30, 0.9f, 1}};
    for (const TouchPath path : {TouchPath::Classic, TouchPath::Precise}) {
        detector->SetPath(path);
        for (const auto& step : steps) {
            detector->Intake(20, 0, false, Peak(step[0], 5, step[1]), PeakCandidate{});
            detector->Intake(12, 1, true, Peak(step[2], 5, step[3]), PeakCandidate{});
            EXPECT_EQ(sink.calls.back().first.amplitude > 0.0f, step[4] == 1)
                << step[0] << " at " << step[1];
        }
    }
}

// Precise: a frame whose signal on both axes adds up to over kPalmSize times a finger's is a
// palm's however few electrodes it spreads over, and once seen stays one while both exceed one
// time less. A finger's is the median of the last touches of one finger, so that a palm landing
// first, before any finger, is taken for one but teaches nothing that lasts.
TEST_F(DspTouchDetectorTest, APalmIsTakenBySizeOnceAFingersSizeIsLearnt) {
    detector->SetPath(TouchPath::Precise);
    const auto frame = [&](int32_t sizeX, int32_t sizeY) {
        detector->NoteSpread(0, 2, sizeX);
        detector->NoteSpread(1, 2, sizeY);
        Frame(sizeX > 0 ? 60.0f : 0.0f, 60.0f);
        return sink.calls.back().palm;
    };
    // Touches of sizes on X and Y, each TouchDetector::kSizeFrames frames long.
    const int32_t touches[][2] = {{400, 400}, {30, 50}, {40, 50}};
    for (const auto& touch : touches) {
        for (int32_t i = 0; i < TouchDetector::kSizeFrames; ++i) {
            EXPECT_FALSE(frame(touch[0], touch[1]));
        }
        frame(0, 0);
    }
    // Sizes on X and Y, then whether the frame is a palm's (a finger's: 40 and 50).
    const int32_t steps[][3] = {{140, 140, 0}, {80, 200, 0}, {130, 160, 1},
                                {90, 110, 1},  {70, 110, 0}, {90, 110, 0}};
    for (const auto& step : steps) {
        EXPECT_EQ(frame(step[0], step[1]), step[2] == 1) << step[0] << " " << step[1];
    }
}

TEST_F(DspTouchDetectorTest, CalibrationCollectorSeesEveryAxisCall) {
    Frame(14.0f, 16.0f);
    ASSERT_EQ(collector.calls.size(), 2u);
    EXPECT_EQ(collector.calls[0].axis, 0);
    EXPECT_EQ(collector.calls[0].count, 20);
    EXPECT_FALSE(collector.calls[0].frameComplete);
    EXPECT_FLOAT_EQ(collector.calls[0].first.amplitude, 14.0f);
    EXPECT_EQ(collector.calls[1].axis, 1);
    EXPECT_TRUE(collector.calls[1].frameComplete);
}

TEST_F(DspTouchDetectorTest, AxesBeyondFourKeepNoLevel) {
    detector->Intake(20, 7, false, Peak(99.0f), PeakCandidate{});
    detector->Intake(20, -1, false, Peak(99.0f), PeakCandidate{});
    for (int32_t axis = 0; axis < TouchDetector::kAxes; ++axis) {
        EXPECT_EQ(detector->Level(axis), 0.0f);
    }
}

}  // namespace
}  // namespace kv
