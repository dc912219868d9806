// Building the calibration from the reference records: identity, affine fit, the orientation
// code, degenerate captures and what recompute publishes.
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tests/calibration/calibration_support.h"

namespace kv::test {
namespace {

using Phase = CalibrationModel::Phase;

TEST_F(CalibrationTest, DefaultReferencesGiveIdentityAndPhaseUncalibrated) {
    model->Recompute();
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    for (NormalPoint p : {NormalPoint{0, 0}, NormalPoint{1, 1}, NormalPoint{0.3f, 0.8f}}) {
        ExpectNear(model->MapPoint(p), p);
    }
}

TEST_F(CalibrationTest, MeasuredCornersMapOntoTheirTargets) {
    // A foil whose electrodes span only the middle of the screen, shifted right.
    SetReferences({0.25f, 0.2f}, {0.65f, 0.22f}, {0.27f, 0.7f});
    model->Recompute();
    EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
    ExpectNear(model->MapPoint({0.25f, 0.2f}), {0.1f, 0.1f});
    ExpectNear(model->MapPoint({0.65f, 0.22f}), {0.9f, 0.1f});
    ExpectNear(model->MapPoint({0.27f, 0.7f}), {0.1f, 0.9f});
    // An affine map keeps midpoints: the fourth corner follows from the other three.
    ExpectNear(model->MapPoint({0.67f, 0.72f}), {0.9f, 0.9f});
}

TEST_F(CalibrationTest, ActiveInverseTakesScreenBackToSensor) {
    SetReferences({0.3f, 0.2f}, {0.8f, 0.3f}, {0.2f, 0.7f});
    model->Recompute();
    const Matrix3& inv = model->ActiveInverse();
    const NormalPoint screen = model->MapPoint({0.45f, 0.55f});
    const float x = inv[0] * screen.x + inv[1] * screen.y + inv[2];
    const float y = inv[3] * screen.x + inv[4] * screen.y + inv[5];
    EXPECT_NEAR(x, 0.45f, 1e-4f);
    EXPECT_NEAR(y, 0.55f, 1e-4f);
}

// Three touches on one line (or at one point) would map every touch onto that line: they are
// refused, and the calibration in force stays, finite.
TEST_F(CalibrationTest, CollinearOrCoincidentReferencesAreRefused) {
    const std::pair<NormalPoint, NormalPoint> cases[] = {
        {{0.5f, 0.5f}, {0.9f, 0.9f}},  // on one line
        {{0.1f, 0.1f}, {0.1f, 0.1f}},  // at one point
    };
    for (const auto& [tr, bl] : cases) {
        SetReferences({0.1f, 0.1f}, tr, bl);
        EXPECT_FALSE(model->Recompute());
        for (float v : model->ActiveInverse()) {
            EXPECT_TRUE(std::isfinite(v));
        }
        EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
        ExpectNear(model->MapPoint({0.4f, 0.6f}), {0.4f, 0.6f});
    }
}

// nan or inf in DRIVER.INI or in a record from the network must not send every touch to one
// corner: the references are refused and the calibration in force before stays.
TEST_F(CalibrationTest, NonFiniteReferencesAreRefusedAndThePreviousCalibrationStays) {
    std::vector<std::string> notices;
    model->SetNotice([&notices](std::string_view line) { notices.emplace_back(line); });
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    // At start-up nothing was accepted yet: the defaults, so the identity.
    registry.calibRefTL.SA = nan;
    EXPECT_FALSE(model->Recompute());
    EXPECT_EQ(model->CurrentPhase(), Phase::Uncalibrated);
    ExpectNear(model->MapPoint({0.3f, 0.7f}), {0.3f, 0.7f});
    EXPECT_FLOAT_EQ(registry.calibRefTL.SA, 0.1f);  // the records agree with what is in force
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("Ref_TL SA"), std::string::npos) << notices[0];

    // A good calibration, then bad values in each field: the good one stays.
    SetReferences({0.25f, 0.2f}, {0.65f, 0.22f}, {0.27f, 0.7f});
    EXPECT_TRUE(model->Recompute());
    const Matrix3 good = model->Active();
    Relaxed<float>* fields[] = {&registry.calibRefTR.SA, &registry.calibRefTR.SB,
                                &registry.calibRefBL.SX, &registry.calibRefBL.SY};
    for (Relaxed<float>* field : fields) {
        for (float bad : {nan, inf, -inf}) {
            *field = bad;
            EXPECT_FALSE(model->Recompute());
            EXPECT_EQ(model->Active(), good);
            EXPECT_EQ(model->CurrentPhase(), Phase::Calibrated);
            ExpectNear(model->MapPoint({0.25f, 0.2f}), {0.1f, 0.1f});
            for (float v : model->ActiveInverse()) {
                EXPECT_TRUE(std::isfinite(v));
            }
        }
    }
    EXPECT_FLOAT_EQ(registry.calibRefTR.SA, 0.65f);
    EXPECT_FLOAT_EQ(registry.calibRefBL.SX, 0.1f);
    EXPECT_EQ(notices.size(), 13u);

    // Finite references whose matrix overflows are refused the same way.
    registry.calibRefTR.SX = 3e38f;
    registry.calibRefTL.SX = -3e38f;
    EXPECT_FALSE(model->Recompute());
    EXPECT_EQ(model->Active(), good);
}

TEST_F(CalibrationTest, RecomputePublishesStatusAndReferencesWithTopLeftActive) {
    registry.calibRefTR.RefFlag0 = registry.calibRefTR.RefFlag1 = true;
    registry.calibRefBL.RefFlag2 = true;
    model->Recompute();
    EXPECT_TRUE(registry.calibRefTL.RefFlag0);
    EXPECT_EQ(registry.calibRefTL.RefValue, 0);
    EXPECT_FALSE(registry.calibRefTR.RefFlag0 || registry.calibRefTR.RefFlag1 ||
                 registry.calibRefTR.RefFlag2);
    EXPECT_FALSE(registry.calibRefBL.RefFlag0 || registry.calibRefBL.RefFlag1 ||
                 registry.calibRefBL.RefFlag2);
    EXPECT_FALSE(registry.calibState.Active);
    EXPECT_EQ(registry.calibState.Stage, model->OrientationCode());
    EXPECT_GE(log.Count(registry.calibState), 1);
    EXPECT_GE(log.Count(registry.calibRefTL), 1);
    EXPECT_GE(log.Count(registry.calibRefTR), 1);
    EXPECT_GE(log.Count(registry.calibRefBL), 1);
}

// The orientation code says along which sensor axis, and which way, the screen's vertical
// runs: 1 +x, 2 -x, 3 +y, 4 -y. Each case mounts the foil differently; the corners are the
// sensor positions of the targets at (0.1, 0.1), (0.9, 0.1), (0.1, 0.9).
struct Mounting {
    const char* name;
    NormalPoint tl, tr, bl;
    int32_t code;
};

class OrientationCodeTest : public CalibrationTest,
                            public ::testing::WithParamInterface<Mounting> {};

TEST_P(OrientationCodeTest, FollowsTheScreenVerticalAcrossTheFoil) {
    const Mounting& m = GetParam();
    SetReferences(m.tl, m.tr, m.bl);
    model->Recompute();
    EXPECT_EQ(model->OrientationCode(), m.code) << m.name;
    EXPECT_EQ(registry.calibState.Stage, m.code);
}

INSTANTIATE_TEST_SUITE_P(
    Mountings, OrientationCodeTest,
    ::testing::Values(Mounting{"upright", {0.1f, 0.1f}, {0.9f, 0.1f}, {0.1f, 0.9f}, 3},
                      Mounting{"upside down", {0.9f, 0.9f}, {0.1f, 0.9f}, {0.9f, 0.1f}, 4},
                      Mounting{"mirrored left-right", {0.9f, 0.1f}, {0.1f, 0.1f}, {0.9f, 0.9f}, 3},
                      Mounting{"axes swapped", {0.1f, 0.1f}, {0.1f, 0.9f}, {0.9f, 0.1f}, 1},
                      Mounting{"quarter turn", {0.9f, 0.1f}, {0.9f, 0.9f}, {0.1f, 0.1f}, 2}),
    [](const ::testing::TestParamInfo<Mounting>& param) {
        std::string name = param.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

}  // namespace
}  // namespace kv::test
