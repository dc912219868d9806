// The mapping chain after calibration: edge stretch, display rotation, exclusion and
// regional mapping.
#include "tests/calibration/calibration_support.h"

namespace kv::test {
namespace {

EdgeStretch Edges(int32_t left, int32_t right, int32_t top, int32_t bottom) {
    EdgeState e;
    e.Left = left;
    e.Right = right;
    e.Top = top;
    e.Bottom = bottom;
    return EdgeStretch::FromSettings(e);
}

ExclusionSettings Region(int32_t flag) {
    CalibrationState state;
    state.exclude_edge_flag = flag;
    state.exclude_edge_left = 0.25f;
    state.exclude_edge_right = 0.75f;
    state.exclude_edge_top = 0.25f;
    state.exclude_edge_bottom = 0.75f;
    return ExclusionSettings::FromSettings(state);
}

TEST(EdgeStretchTest, NoStretchLeavesTheInnerAreaAlone) {
    const EdgeStretch edge = Edges(0, 0, 0, 0);
    const EdgeStretch untouched;
    EXPECT_FLOAT_EQ(edge.leftEdge, untouched.leftEdge);
    EXPECT_FLOAT_EQ(edge.bottomEdge, untouched.bottomEdge);
    for (NormalPoint p : {NormalPoint{0.01f, 0.99f}, NormalPoint{0.5f, 0.3f}}) {
        ExpectNear(CalibrationModel::StretchEdges(p, edge), p);
    }
}

TEST(EdgeStretchTest, FullLeftStretchDoublesTheDistanceToTheInnerBoundary) {
    const EdgeStretch edge = Edges(100, 0, 0, 0);
    EXPECT_FLOAT_EQ(edge.gainLeft, 2.0f);
    EXPECT_FLOAT_EQ(edge.leftEdge, 0.075f);
    EXPECT_FLOAT_EQ(edge.gainRight, 1.0f);
    EXPECT_NEAR(CalibrationModel::StretchEdges({0.05f, 0.5f}, edge).x, 0.025f, 1e-6f);
    EXPECT_NEAR(CalibrationModel::StretchEdges({0.5f, 0.5f}, edge).x, 0.5f, 1e-6f);
}

TEST(EdgeStretchTest, EachSideStretchesOutwardAndIsClamped) {
    const EdgeStretch edge = Edges(0, 40, 20, 100);
    EXPECT_FLOAT_EQ(edge.rightEdge, 0.94f);
    EXPECT_FLOAT_EQ(edge.gainRight, 1.4f);
    EXPECT_FLOAT_EQ(edge.topEdge, 0.055f);
    EXPECT_FLOAT_EQ(edge.bottomEdge, 0.925f);
    const NormalPoint p = CalibrationModel::StretchEdges({0.97f, 0.95f}, edge);
    EXPECT_NEAR(p.x, 0.94f + 0.03f * 1.4f, 1e-6f);
    EXPECT_NEAR(p.y, 0.925f + 0.025f * 2.0f, 1e-6f);
    const NormalPoint far = CalibrationModel::StretchEdges({1.2f, -0.3f}, edge);
    EXPECT_FLOAT_EQ(far.x, 1.0f);
    EXPECT_FLOAT_EQ(far.y, 0.0f);
}

TEST(EdgeStretchTest, GainStaysBetweenOneAndTwo) {
    const EdgeStretch edge = Edges(300, -50, 2147483647, 0);
    EXPECT_FLOAT_EQ(edge.gainLeft, 2.0f);
    EXPECT_FLOAT_EQ(edge.gainRight, 1.0f);
    EXPECT_FLOAT_EQ(edge.gainTop, 2.0f);
}

TEST(RotationTest, QuarterTurnAfterCalibration) {
    EXPECT_EQ(CalibrationModel::RotationTurns(1, 0), 1);
    ExpectNear(CalibrationModel::Rotate({0.2f, 0.7f}, 1), {0.3f, 0.2f});
}

TEST(RotationTest, TurnsCountFromTheCalibrationOrientation) {
    EXPECT_EQ(CalibrationModel::RotationTurns(0, 3), 1);
    EXPECT_EQ(CalibrationModel::RotationTurns(2, 2), 0);
    EXPECT_EQ(CalibrationModel::RotationTurns(0, 1), 3);
    ExpectNear(CalibrationModel::Rotate({0.2f, 0.7f}, 0), {0.2f, 0.7f});
    ExpectNear(CalibrationModel::Rotate({0.2f, 0.7f}, 2), {0.8f, 0.3f});
    ExpectNear(CalibrationModel::Rotate({0.2f, 0.7f}, 3), {0.7f, 0.8f});
}

TEST(RotationTest, FourQuarterTurnsComeBack) {
    NormalPoint p{0.15f, 0.6f};
    for (int k = 0; k < 4; ++k) {
        p = CalibrationModel::Rotate(p, 1);
    }
    ExpectNear(p, {0.15f, 0.6f});
}

TEST_F(CalibrationTest, DisplayTurnedAfterCaptureGivesOneTurn) {
    model->Recompute();
    CaptureCorners({0.2f, 0.2f}, {0.8f, 0.2f}, {0.2f, 0.8f});
    ASSERT_EQ(registry.calibState.Angle, 0);
    display.SetOrientation(1);
    EXPECT_EQ(CalibrationModel::RotationTurns(display.Orientation(), registry.calibState.Angle), 1);
}

TEST(ExclusionTest, RegionalMappingSendsTheWholeAreaIntoTheRectangle) {
    const ExclusionSettings region = Region(2);
    NormalPoint centre{0.5f, 0.5f};
    EXPECT_FALSE(CalibrationModel::Exclude(centre, region));
    ExpectNear(centre, {0.5f, 0.5f});
    NormalPoint corner{0.0f, 0.0f};
    EXPECT_FALSE(CalibrationModel::Exclude(corner, region));
    ExpectNear(corner, {0.25f, 0.25f});
    // Beyond the edge: the stretch step clamps it first, so it lands on the rectangle's edge.
    NormalPoint beyond = CalibrationModel::StretchEdges({1.01f, 0.5f}, EdgeStretch{});
    EXPECT_FALSE(CalibrationModel::Exclude(beyond, region));
    EXPECT_FLOAT_EQ(beyond.x, 0.75f);
}

TEST(ExclusionTest, RectangleReleasesTouchesOutsideAndKeepsTheirPosition) {
    const ExclusionSettings rect = Region(0);
    NormalPoint outside = CalibrationModel::StretchEdges({0.2f, 0.5f}, EdgeStretch{});
    EXPECT_TRUE(CalibrationModel::Exclude(outside, rect));
    ExpectNear(outside, {0.2f, 0.5f});
    NormalPoint below{0.5f, 0.8f};
    EXPECT_TRUE(CalibrationModel::Exclude(below, rect));
    NormalPoint inside{0.3f, 0.7f};
    EXPECT_FALSE(CalibrationModel::Exclude(inside, rect));
    NormalPoint onEdge{0.25f, 0.75f};
    EXPECT_FALSE(CalibrationModel::Exclude(onEdge, rect));
}

TEST(ExclusionTest, OtherFlagsNeitherExcludeNorRemap) {
    for (int32_t flag : {1, 3, -1}) {
        NormalPoint p{0.1f, 0.9f};
        EXPECT_FALSE(CalibrationModel::Exclude(p, Region(flag)));
        ExpectNear(p, {0.1f, 0.9f});
    }
}

// A foil on the right-hand monitor of two side by side, mounted upside down and covering a
// little less than the monitor. The dialog shows its targets 10 % into the monitor (the
// region), the capture takes the foil's readings there, and every touch then runs the
// pointer chain: calibrate, stretch edges, (no rotation), regional mapping onto the monitor.
TEST_F(CalibrationTest, CalibrationOnOneMonitorOfTwoMapsOntoThatMonitor) {
    // Where the foil reads a touch at a point of the monitor (0..1 across the monitor).
    const auto foil = [](NormalPoint onMonitor) {
        return NormalPoint{0.5f - 0.95f * (onMonitor.x - 0.5f), 0.5f - 0.9f * (onMonitor.y - 0.5f)};
    };
    // The right half of the desktop, as the Controller sends it for that monitor.
    CalibrationState state;
    state.exclude_edge_flag = 2;
    state.exclude_edge_left = 0.5f;
    state.exclude_edge_top = 0.0f;
    state.exclude_edge_right = 1.0f;
    state.exclude_edge_bottom = 1.0f;
    const ExclusionSettings monitor = ExclusionSettings::FromSettings(state);
    const auto onDesktop = [&](NormalPoint sensor, const EdgeStretch& edge) {
        NormalPoint p = CalibrationModel::StretchEdges(model->MapPoint(sensor), edge);
        EXPECT_FALSE(CalibrationModel::Exclude(p, monitor));
        return p;
    };

    model->Recompute();
    CaptureCorners(foil({0.1f, 0.1f}), foil({0.9f, 0.1f}), foil({0.1f, 0.9f}));
    ASSERT_EQ(model->CurrentPhase(), CalibrationModel::Phase::Calibrated);

    // With no edge stretch and with the strongest: each target, the fourth corner and the
    // foil's centre land where they are on the desktop.
    for (const EdgeStretch& edge : {EdgeStretch{}, Edges(100, 100, 100, 100)}) {
        ExpectNear(onDesktop(foil({0.1f, 0.1f}), edge), {0.55f, 0.1f});
        ExpectNear(onDesktop(foil({0.9f, 0.1f}), edge), {0.95f, 0.1f});
        ExpectNear(onDesktop(foil({0.1f, 0.9f}), edge), {0.55f, 0.9f});
        ExpectNear(onDesktop(foil({0.9f, 0.9f}), edge), {0.95f, 0.9f});
        ExpectNear(onDesktop({0.5f, 0.5f}, edge), {0.75f, 0.5f});
        // No touch anywhere on the foil, to its very edge, reaches the left-hand monitor.
        for (float x = 0.0f; x <= 1.0f; x += 0.05f) {
            for (float y = 0.0f; y <= 1.0f; y += 0.05f) {
                const NormalPoint p = onDesktop({x, y}, edge);
                EXPECT_GE(p.x, 0.5f);
                EXPECT_LE(p.x, 1.0f);
                EXPECT_GE(p.y, 0.0f);
                EXPECT_LE(p.y, 1.0f);
            }
        }
    }
    // The stretch pushes a touch near the monitor's left edge out towards it, not past it.
    const NormalPoint nearEdge = onDesktop(foil({0.04f, 0.5f}), Edges(100, 0, 0, 0));
    EXPECT_NEAR(nearEdge.x, 0.5f + 0.5f * (0.075f - 0.035f * 2.0f), 1e-4f);
}

}  // namespace
}  // namespace kv::test
