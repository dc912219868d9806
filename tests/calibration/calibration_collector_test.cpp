// The calibration collector: the eight-frame history, the quality rule and the delayed
// sample it hands to the capture.
#include "tests/calibration/calibration_support.h"

namespace kv::test {
namespace {

constexpr int32_t kElectrodes = 40;

PeakCandidate Peak(int32_t index, float position, float amplitude = 25.0f) {
    PeakCandidate p;
    p.index = index;
    p.position = position;
    p.amplitude = amplitude;
    return p;
}

class CollectorTest : public CalibrationTest {
protected:
    // One frame as the touch detector delivers it: X, then Y with the frame-complete flag.
    void Frame(const PeakCandidate& x, const PeakCandidate& y) {
        model->Collect(0, kElectrodes, false, x);
        model->Collect(1, kElectrodes, true, y);
    }
    void SteadyFrames(int frames) {
        for (int k = 0; k < frames; ++k) {
            Frame(Peak(10, 0.25f), Peak(12, 0.3f));
        }
    }
    // Seven steady frames leave the quality at 0 and the eighth brings it to 2: only then does
    // the history hold nothing but steady frames.
    ::testing::AssertionResult EighthSteadyFrameGivesQualityTwo() {
        SteadyFrames(7);
        if (const int32_t q = model->LastSample().quality; q != 0) {
            return ::testing::AssertionFailure() << "quality " << q << " after seven frames";
        }
        SteadyFrames(1);
        if (const int32_t q = model->LastSample().quality; q != 2) {
            return ::testing::AssertionFailure() << "quality " << q << " after eight frames";
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(CollectorTest, EightSteadyStrongFramesGiveQualityTwo) {
    EXPECT_TRUE(EighthSteadyFrameGivesQualityTwo());
}

TEST_F(CollectorTest, SampleIsTheFourthMostRecentFrame) {
    for (int k = 0; k < 12; ++k) {
        const float step = 0.001f * static_cast<float>(k);
        Frame(Peak(10, 0.25f + step), Peak(20, 0.5f - step));
    }
    // Frames 0..11: the newest is 11, three before it is 8.
    EXPECT_EQ(model->LastSample().quality, 2);
    EXPECT_FLOAT_EQ(model->LastSample().x, 0.25f + 0.008f);
    EXPECT_FLOAT_EQ(model->LastSample().y, 0.5f - 0.008f);
}

TEST_F(CollectorTest, IndicesMayWanderByOneButNotByTwo) {
    for (int k = 0; k < 8; ++k) {
        Frame(Peak(10 + k % 2, 0.25f), Peak(20 - k % 2, 0.5f));
    }
    EXPECT_EQ(model->LastSample().quality, 2);
    Frame(Peak(12, 0.25f), Peak(20, 0.5f));  // X now spans 10..12
    EXPECT_EQ(model->LastSample().quality, 0);
    // The wide frame spoils the quality until it leaves the history.
    EXPECT_TRUE(EighthSteadyFrameGivesQualityTwo());
}

TEST_F(CollectorTest, EveryAmplitudeMustExceedTen) {
    SteadyFrames(7);
    Frame(Peak(10, 0.25f), Peak(20, 0.5f, 10.0f));
    EXPECT_EQ(model->LastSample().quality, 0);
    EXPECT_TRUE(EighthSteadyFrameGivesQualityTwo());
}

TEST_F(CollectorTest, AMissingPeakSpoilsTheHistory) {
    SteadyFrames(7);
    Frame(Peak(-1, 0.25f), Peak(20, 0.5f));
    EXPECT_EQ(model->LastSample().quality, 0);
}

TEST_F(CollectorTest, NoElectrodesEmptiesTheHistory) {
    SteadyFrames(8);
    ASSERT_EQ(model->LastSample().quality, 2);
    model->Collect(0, 0, false, Peak(10, 0.25f));
    EXPECT_TRUE(EighthSteadyFrameGivesQualityTwo());
}

TEST_F(CollectorTest, AxesBeyondXAndYDoNotEnterTheSample) {
    for (int k = 0; k < 8; ++k) {
        model->Collect(0, kElectrodes, false, Peak(10, 0.25f));
        model->Collect(1, kElectrodes, false, Peak(20, 0.5f));
        model->Collect(2, kElectrodes, false, Peak(3, 0.9f, 1.0f));
        model->Collect(7, kElectrodes, true, Peak(-1, 0.9f, 0.0f));  // out of range: no slot
    }
    EXPECT_EQ(model->LastSample().quality, 2);
    EXPECT_FLOAT_EQ(model->LastSample().x, 0.25f);
    EXPECT_FLOAT_EQ(model->LastSample().y, 0.5f);
}

TEST_F(CollectorTest, SteadyTouchesDriveTheCapture) {
    model->Recompute();
    Raise(registry.calibDoStart);
    model->PeriodicStep();
    SteadyFrames(1);
    ASSERT_EQ(model->CurrentPhase(), CalibrationModel::Phase::CaptureTopLeft);
    // The history fills on the touch's first eight frames (the start frame is the first);
    // from the eighth on each frame is a sample, and the 101st takes the corner.
    SteadyFrames(6 + CalibrationModel::kCornerSamples);
    EXPECT_EQ(model->CurrentPhase(), CalibrationModel::Phase::CaptureTopLeft);
    SteadyFrames(1);
    EXPECT_EQ(model->CurrentPhase(), CalibrationModel::Phase::CaptureTopRight);
    EXPECT_NEAR(registry.calibRefTL.SA, 0.25f, 1e-5f);
    EXPECT_NEAR(registry.calibRefTL.SB, 0.3f, 1e-5f);
}

}  // namespace
}  // namespace kv::test
