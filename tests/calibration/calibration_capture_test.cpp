// The capture procedure: start and stop through the Calib events, the three corners, the
// diagonal quadrant rule, abandoning by holding the centre, and what completion raises.
#include <limits>
#include <string_view>

#include "tests/calibration/calibration_support.h"

namespace kv::test {
namespace {

using Phase = CalibrationModel::Phase;
constexpr int kTake = CalibrationModel::kCornerSamples + 1;

TEST_F(CalibrationTest, DoStartBeginsWithTheTopLeftCorner) {
    model->Recompute();
    StartCapture();
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopLeft);
    EXPECT_TRUE(registry.calibState.Active);
    EXPECT_TRUE(registry.calibRefTL.RefFlag0);
    EXPECT_FALSE(registry.calibRefTR.RefFlag0);
    EXPECT_FALSE(registry.calibRefBL.RefFlag0);
    // Consumed: cleared and echoed back to the controller.
    EXPECT_EQ(registry.calibDoStart.header.eventValid, 0);
    EXPECT_EQ(log.LastEventValid(registry.calibDoStart), 0);
}

TEST_F(CalibrationTest, CornerIsTakenOnItsHundredAndFirstSample) {
    model->Recompute();
    StartCapture();
    Hold({0.12f, 0.14f}, kTake - 1);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopLeft);
    EXPECT_EQ(registry.calibRefTL.RefValue, kTake - 1);
    Hold({0.12f, 0.14f}, 1);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);
    EXPECT_NEAR(registry.calibRefTL.SA, 0.12f, 1e-5f);
    EXPECT_NEAR(registry.calibRefTL.SB, 0.14f, 1e-5f);
    // The dialog moves on when the first corner is no longer the active one.
    EXPECT_FALSE(registry.calibRefTL.RefFlag0);
    EXPECT_TRUE(registry.calibRefTL.RefFlag1);
    EXPECT_FALSE(registry.calibRefTL.RefFlag2);
    EXPECT_TRUE(registry.calibRefTR.RefFlag0);
    EXPECT_EQ(registry.calibRefTR.RefValue, 0);
}

TEST_F(CalibrationTest, CornerReferenceIsTheMeanOfItsSamples) {
    model->Recompute();
    StartCapture();
    for (int k = 0; k < kTake; ++k) {
        const float wobble = (k % 2 == 0) ? 0.01f : -0.01f;
        Hold({0.2f + wobble, 0.3f - wobble}, 1);
    }
    // 51 samples high, 50 low.
    EXPECT_NEAR(registry.calibRefTL.SA, 0.2f + 0.01f / kTake, 1e-5f);
    EXPECT_NEAR(registry.calibRefTL.SB, 0.3f - 0.01f / kTake, 1e-5f);
}

TEST_F(CalibrationTest, ProgressIsPublishedOnlyWhenItChanges) {
    model->Recompute();
    StartCapture();
    const int before = log.Count(registry.calibRefTL);
    Hold({0.1f, 0.1f}, 5);
    EXPECT_EQ(log.Count(registry.calibRefTL) - before, 5);
    EXPECT_EQ(registry.calibRefTL.RefValue, 5);
    Hold({0.1f, 0.1f}, 3, 0);  // weak or moving touches: ignored, nothing new to say
    EXPECT_EQ(log.Count(registry.calibRefTL) - before, 5);
    EXPECT_EQ(registry.calibRefTL.RefValue, 5);
}

TEST_F(CalibrationTest, FullCaptureRaisesCompleteRecordsAngleAndRequestsSave) {
    display.SetOrientation(2);
    model->Recompute();
    const int32_t saveSequence = registry.storeDoSave.header.sequence;
    CaptureCorners({0.2f, 0.2f}, {0.8f, 0.2f}, {0.2f, 0.8f});
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    EXPECT_FALSE(registry.calibState.Active);
    EXPECT_EQ(registry.calibDoComplete.header.eventValid, 1);
    EXPECT_EQ(log.LastEventValid(registry.calibDoComplete), 1);
    EXPECT_EQ(registry.calibState.Angle, 2);
    EXPECT_EQ(registry.storeDoSave.header.sequence, saveSequence + 1);
    EXPECT_EQ(registry.storeDoSave.header.eventValid, 1);
    EXPECT_GE(log.Count(registry.storeDoSave), 1);
    ExpectNear(model->MapPoint({0.2f, 0.2f}), {0.1f, 0.1f});
    ExpectNear(model->MapPoint({0.8f, 0.2f}), {0.9f, 0.1f});
    ExpectNear(model->MapPoint({0.2f, 0.8f}), {0.1f, 0.9f});
}

TEST_F(CalibrationTest, CaptureWithANonFiniteTargetKeepsTheCalibrationAndItsAngle) {
    SetReferences({0.25f, 0.2f}, {0.65f, 0.22f}, {0.27f, 0.7f});
    model->Recompute();
    const Matrix3 before = model->Active();
    registry.calibState.Angle = 0;
    display.SetOrientation(1);
    int notices = 0;
    model->SetNotice([&notices](std::string_view) { ++notices; });
    // A target from the network that is no number arrives during the capture.
    registry.calibRefBL.SY = std::numeric_limits<float>::quiet_NaN();
    CaptureCorners({0.2f, 0.2f}, {0.8f, 0.2f}, {0.2f, 0.8f});
    EXPECT_EQ(model->Active(), before);
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    EXPECT_EQ(registry.calibState.Angle, 0);
    EXPECT_FLOAT_EQ(registry.calibRefBL.SY, 0.9f);
    EXPECT_FLOAT_EQ(registry.calibRefTL.SA, 0.25f);
    EXPECT_EQ(notices, 1);
    // The controller's dialog still learns that the capture is over.
    EXPECT_EQ(registry.calibDoComplete.header.eventValid, 1);
    EXPECT_FALSE(registry.calibState.Active);
}

TEST_F(CalibrationTest, CaptureAtTheTargetsThemselvesEndsUncalibrated) {
    model->Recompute();
    CaptureCorners({0.1f, 0.1f}, {0.9f, 0.1f}, {0.1f, 0.9f});
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
}

TEST_F(CalibrationTest, UpsideDownFoilIsCalibratedThroughTheOtherQuadrants) {
    model->Recompute();
    StartCapture();
    // The screen's top-left target lies on the foil's bottom-right quadrant.
    Hold({0.9f, 0.9f}, kTake);
    EXPECT_TRUE(model->Window(3).done);
    EXPECT_TRUE(model->Window(0).done);  // the diagonal one is closed with it
    EXPECT_FALSE(model->Window(1).done);
    EXPECT_FALSE(model->Window(2).done);

    // Touches in the closed quadrant do not count for the next corner.
    Hold({0.2f, 0.2f}, 2 * kTake);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);
    EXPECT_EQ(registry.calibRefTR.RefValue, 0);

    Hold({0.1f, 0.9f}, kTake);  // top-right target: quadrant 1
    Hold({0.9f, 0.1f}, kTake);  // bottom-left target: quadrant 2
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    ExpectNear(model->MapPoint({1.0f, 1.0f}), {0.0f, 0.0f});
    ExpectNear(model->MapPoint({0.0f, 0.0f}), {1.0f, 1.0f});
    EXPECT_EQ(model->OrientationCode(), 4);
    EXPECT_EQ(registry.calibState.Stage, 4);
}

TEST_F(CalibrationTest, HoldingTheCentreRestoresThePreviousCalibration) {
    SetReferences({0.2f, 0.15f}, {0.85f, 0.1f}, {0.15f, 0.8f});
    model->Recompute();
    const Matrix3 before = model->Active();
    StartCapture();
    Hold({0.3f, 0.3f}, kTake);  // top-left taken at a new place
    ASSERT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);

    Hold({0.5f, 0.5f}, CalibrationModel::kCornerSamples);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);
    EXPECT_EQ(registry.calibState.Progress, CalibrationModel::kCornerSamples);
    Hold({0.5f, 0.5f}, 1);  // more than 100: abandoned on the next frame
    Hold({0.5f, 0.5f}, 1);
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    EXPECT_EQ(model->Active(), before);
    EXPECT_FALSE(registry.calibState.Active);
    EXPECT_EQ(registry.calibState.Progress, 0);
    EXPECT_TRUE(registry.calibRefTL.RefFlag0);
    EXPECT_FALSE(registry.calibRefTR.RefFlag0);
}

// The reference records are what the next save writes: an abandoned capture must not leave
// a half-taken corner there, or the next start would compute a different calibration.
TEST_F(CalibrationTest, AbandonedCaptureLeavesTheSavedReferencesAsTheyWere) {
    SetReferences({0.2f, 0.15f}, {0.85f, 0.1f}, {0.15f, 0.8f});
    model->Recompute();
    StartCapture();
    Hold({0.3f, 0.3f}, kTake);
    ASSERT_NEAR(registry.calibRefTL.SA, 0.3f, 1e-5f);
    Raise(registry.calibDoStop);
    model->PollEvents();
    Hold({0.3f, 0.3f}, 1, 0);
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    EXPECT_FLOAT_EQ(registry.calibRefTL.SA, 0.2f);
    EXPECT_FLOAT_EQ(registry.calibRefTL.SB, 0.15f);
    // Recomputing from the references gives the calibration in force.
    const Matrix3 inForce = model->Active();
    model->Recompute();
    for (size_t k = 0; k < 9; ++k) {
        EXPECT_NEAR(model->Active()[k], inForce[k], 1e-6f);
    }
}

TEST_F(CalibrationTest, DoStopDuringCaptureRestoresTheCalibrationInForce) {
    model->Recompute();
    StartCapture();
    Hold({0.3f, 0.3f}, kTake);
    Hold({0.7f, 0.3f}, kTake);
    ASSERT_EQ(model->CurrentPhase(), Phase::CaptureBottomLeft);
    EXPECT_TRUE(RaisedAndAcknowledged(registry.calibDoStop));
    Hold({0.3f, 0.7f}, 1);
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    ExpectNear(model->MapPoint({0.3f, 0.3f}), {0.3f, 0.3f});
    EXPECT_EQ(registry.calibDoComplete.header.eventValid, 0);
}

TEST_F(CalibrationTest, DoStartWhileCapturingIsConsumedAndIgnored) {
    model->Recompute();
    StartCapture();
    Hold({0.1f, 0.1f}, 50);
    EXPECT_TRUE(RaisedAndAcknowledged(registry.calibDoStart));
    // The corner keeps its samples: no restart happened.
    Hold({0.1f, 0.1f}, kTake - 50);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);
}

TEST_F(CalibrationTest, DoStopWhileIdleIsConsumedAndIgnored) {
    model->Recompute();
    EXPECT_TRUE(RaisedAndAcknowledged(registry.calibDoStop));
    Hold({0.1f, 0.1f}, 3);
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    // A later capture is not cut short by the stale stop.
    StartCapture();
    Hold({0.1f, 0.1f}, 5);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopLeft);
    EXPECT_EQ(registry.calibRefTL.RefValue, 5);
}

TEST_F(CalibrationTest, EventsWithoutValidFlagAreLeftAlone) {
    model->Recompute();
    const int echoes = log.Count(registry.calibDoStart);
    model->PollEvents();
    model->CaptureStep({});
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    EXPECT_EQ(log.Count(registry.calibDoStart), echoes);
}

TEST_F(CalibrationTest, StartWaitsForTheNextFrame) {
    model->Recompute();
    Raise(registry.calibDoStart);
    model->PollEvents();
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    model->CaptureStep({});
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopLeft);
}

TEST_F(CalibrationTest, PointsOnQuadrantBordersCountNowhere) {
    model->Recompute();
    StartCapture();
    Hold({0.5f, 0.2f}, kTake);
    Hold({0.2f, 0.5f}, kTake);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopLeft);
    EXPECT_EQ(registry.calibRefTL.RefValue, 0);
}

TEST_F(CalibrationTest, BestWindowIsTheFullestOpenQuadrant) {
    model->Recompute();
    StartCapture();
    Hold({0.8f, 0.8f}, 30);
    Hold({0.2f, 0.8f}, 40);
    EXPECT_EQ(registry.calibRefTL.RefValue, 40);
    Hold({0.8f, 0.8f}, kTake - 30);
    EXPECT_EQ(model->CurrentPhase(), Phase::CaptureTopRight);
    EXPECT_NEAR(registry.calibRefTL.SA, 0.8f, 1e-5f);
    // The other windows start over for the next corner.
    EXPECT_EQ(model->Window(1).count, 0);
}

}  // namespace
}  // namespace kv::test
