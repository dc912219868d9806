// Simulated fingers through the real main loop and signal processing: every frame packing
// (B64, S40, S24 centred in 40 bytes, S128 in sync-led pairs), baseline learning, wrapping
// readings, and an unplugged board, with the housekeeping on the loop's own two-second task.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "driver/sim/simulated_sensor_link.h"
#include "whole_path.h"

namespace kv {
namespace {

using test::FrameTouches;
using test::Layout;
using test::ScenarioOf;
using test::WholePath;

constexpr double kTolerance = 0.05;

// Every frame in the window sees the finger on both axes, at its place.
void ExpectFingerAt(const WholePath& rig, double from, double to, double x, double y) {
    const float threshold = rig.dsp->Detector().PressThreshold();
    const auto touches = FrameTouches(rig.sink.calls, from, to);
    ASSERT_GT(touches.size(), 50u) << "frames between " << from << " s and " << to << " s";
    for (const auto& touch : touches) {
        SCOPED_TRACE("frame " + std::to_string(touch.frame));
        EXPECT_GT(touch.x.amplitude, threshold);
        EXPECT_GT(touch.y.amplitude, touch.press);
        EXPECT_NEAR(touch.x.position, x, kTolerance);
        EXPECT_NEAR(touch.y.position, y, kTolerance);
    }
}

// Frames flow in the window and in none of them are both axes above the press threshold, as
// a touch would be. (Noise alone lifts single peaks near the default threshold now and then.)
void ExpectNoFinger(const WholePath& rig, double from, double to) {
    const float threshold = rig.dsp->Detector().PressThreshold();
    const auto touches = FrameTouches(rig.sink.calls, from, to);
    ASSERT_GT(touches.size(), 50u) << "frames between " << from << " s and " << to << " s";
    float strongest = 0.0f;
    for (const auto& touch : touches) {
        strongest = std::max(strongest, std::min(touch.x.amplitude, touch.y.amplitude));
    }
    EXPECT_LT(strongest, threshold) << "between " << from << " s and " << to << " s";
}

struct BoardCase {
    const char* name;
    const char* model;
    const char* header;  // extra scenario lines: rest counts, noise
};

void PrintTo(const BoardCase& board, std::ostream* out) {
    *out << board.name;
}

class FingerOnTheFoil : public ::testing::TestWithParam<BoardCase> {};

// The baseline settles at the loop's second two-second task (about 3 s in); two touches at
// different places after that are found where they are, and the foil is quiet around them.
TEST_P(FingerOnTheFoil, IsFoundAtItsPlaceOnBothAxesAndQuietAround) {
    const BoardCase& board = GetParam();
    const sim::Scenario scenario =
        ScenarioOf(std::string("layout ") + board.model + "\n" + board.header +
                   "seed 11\n"
                   "at 6.0 down 1 0.30 0.65\n"
                   "at 7.5 up 1\n"
                   "at 9.0 down 1 0.72 0.28 40\n"
                   "at 10.5 up 1\n");
    WholePath rig(Layout(board.model));
    rig.Start(
        rig.Keep(std::make_unique<sim::SimulatedSensorLink>(scenario, rig.clock, true, nullptr)));
    rig.RunUntil(11.0);

    EXPECT_GE(rig.engine.housekeeping, 5);
    ExpectNoFinger(rig, 4.0, 6.0);
    ExpectFingerAt(rig, 6.2, 7.4, 0.30, 0.65);
    ExpectNoFinger(rig, 7.6, 9.0);
    ExpectFingerAt(rig, 9.2, 10.4, 0.72, 0.28);
    EXPECT_FALSE(rig.sawDisconnected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FingerOnTheFoil,
    ::testing::Values(BoardCase{"B64", "B64", ""}, BoardCase{"S40", "S40", ""},
                      BoardCase{"S24Centred", "S24", ""}, BoardCase{"S128Pairs", "S128", ""},
                      // Rest counts at the top of the 8-bit range: every touch wraps past 255.
                      BoardCase{"B64WrapsAbove", "B64", "baseline 250\n"},
                      // Rest counts at the bottom: the noise alone wraps below 0.
                      BoardCase{"S40WrapsBelow", "S40", "baseline 0 2\n"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(RestingFinger, IsLearntIntoTheBaselineAndALaterTouchIsStillFound) {
    const sim::Scenario scenario = ScenarioOf(
        "layout B64\n"
        "seed 4\n"
        "at 0.0 down 1 0.50 0.50\n"
        "at 8.0 up 1\n"
        "at 14.0 down 1 0.25 0.75\n"
        "at 15.5 up 1\n");
    WholePath rig(Layout("B64"));
    rig.Start(
        rig.Keep(std::make_unique<sim::SimulatedSensorLink>(scenario, rig.clock, true, nullptr)));
    rig.RunUntil(16.0);

    // Valid baseline from about 3 s on, with the finger in it: nothing stands out.
    ExpectNoFinger(rig, 4.0, 8.0);
    // Two housekeeping passes after the finger left, the baseline has come down again.
    ExpectNoFinger(rig, 12.5, 14.0);
    ExpectFingerAt(rig, 14.2, 15.4, 0.25, 0.75);
}

class UnpluggedBoard : public ::testing::TestWithParam<const char*> {};

TEST_P(UnpluggedBoard, GoesQuietThenRecoversAndFindsALaterTouch) {
    const char* model = GetParam();
    const sim::Scenario scenario = ScenarioOf(std::string("layout ") + model +
                                              "\n"
                                              "seed 8\n"
                                              "at 5.0 unplug\n"
                                              "at 7.0 replug\n"
                                              "at 12.0 down 1 0.40 0.60\n"
                                              "at 13.5 up 1\n");
    WholePath rig(Layout(model));
    rig.Start(
        rig.Keep(std::make_unique<sim::SimulatedSensorLink>(scenario, rig.clock, true, nullptr)));
    rig.RunUntil(14.0);

    EXPECT_TRUE(rig.sawDisconnected);
    EXPECT_TRUE(rig.registry.commsActStatus.Connected);
    // The read that finds the board gone times out, and a timed-out read hands the last frame
    // on once more; after that nothing until the board is back but the frames without a peak
    // that end every touch at the loss.
    const auto unplugged = FrameTouches(rig.sink.calls, 5.05, 6.95);
    EXPECT_LE(std::count_if(unplugged.begin(), unplugged.end(),
                            [](const auto& t) { return t.x.index >= 0 || t.y.index >= 0; }),
              1)
        << "frames while unplugged";
    ExpectNoFinger(rig, 7.5, 12.0);
    ExpectFingerAt(rig, 12.2, 13.4, 0.40, 0.60);
}

INSTANTIATE_TEST_SUITE_P(Layouts, UnpluggedBoard, ::testing::Values("B64", "S128"));

}  // namespace
}  // namespace kv
