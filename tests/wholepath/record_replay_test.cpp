// Recorded boards give back what was recorded: a run through the main loop with a recording
// link and the replay of its file produce the same detector calls frame for frame, and a
// scenario rendered by scenario-record holds exactly the reports the simulated board sends.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/sim/hid_recording.h"
#include "driver/sim/recording_sensor_link.h"
#include "driver/sim/replay_sensor_link.h"
#include "driver/sim/simulated_sensor_link.h"
#include "tests/rigs/scenario-record/scenario_render.h"
#include "tests/support/process_support.h"
#include "whole_path.h"

namespace kv {
namespace {

using test::FrameTouches;
using test::Layout;
using test::ScenarioOf;
using test::TempDir;
using test::WholePath;

// One frame period at the scenarios' 100 frames per second: the clock follows the frames,
// so the two-second task falls on the same frame in every run.
constexpr int kFrameMs = 10;

// Replays a recording unpaced through a fresh rig until every report has been delivered.
void Replay(WholePath& rig, const sim::HidRecording& recording) {
    auto& replay = rig.Keep(std::make_unique<sim::ReplaySensorLink>(recording, rig.clock, false));
    rig.Start(replay);
    while (!replay.Finished()) {
        rig.Iterate();
    }
}

// The first differing call, so that a failure says where the runs part.
void ExpectSameCalls(const std::vector<test::EngineCall>& expected,
                     const std::vector<test::EngineCall>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(expected[i] == actual[i])
            << "call " << i << ", frame " << expected[i].frame << " vs " << actual[i].frame
            << ", axis " << expected[i].axis << ": position " << expected[i].first.position
            << " vs " << actual[i].first.position << ", amplitude " << expected[i].first.amplitude
            << " vs " << actual[i].first.amplitude;
    }
}

// The rendered recording read back; one that does not read back fails the test.
sim::HidRecording ReadBack(const std::string& text) {
    std::string error;
    auto recording = sim::ParseHidRecording(text, error);
    EXPECT_TRUE(recording.has_value()) << error;
    return recording.value_or(sim::HidRecording{});
}

// A test run once on each layout model its suite is instantiated with.
class PerLayout : public ::testing::TestWithParam<const char*> {
protected:
    // These scenario lines on the test's layout.
    sim::Scenario OnLayout(const std::string& lines) const {
        return ScenarioOf("layout " + model + "\n" + lines);
    }

    const std::string model = GetParam();
};

class RecordAndReplay : public PerLayout {};

TEST_P(RecordAndReplay, GiveTheSameDetectorCallsFrameForFrame) {
    const sim::Scenario scenario = OnLayout(
        "seed 21\n"
        "at 5.0 down 1 0.20 0.30\n"
        "at 5.5 move 1 0.80 0.70 2.0\n"
        "at 8.0 up 1\n");
    TempDir folder;
    const std::string path = folder.File("drag.hid");

    WholePath recorded(Layout(model), kFrameMs);
    auto& board = recorded.Keep(
        std::make_unique<sim::SimulatedSensorLink>(scenario, recorded.clock, false, nullptr));
    auto& recorder =
        recorded.Keep(std::make_unique<sim::RecordingSensorLink>(board, recorded.clock));
    ASSERT_TRUE(recorder.Start(path));
    recorded.Start(recorder);
    recorded.RunUntil(9.0);
    EXPECT_TRUE(recorder.Healthy());
    std::string error;
    const auto recording = sim::LoadHidRecording(path, error);
    ASSERT_TRUE(recording.has_value()) << error;

    WholePath replayed(Layout(model), kFrameMs);
    Replay(replayed, *recording);

    EXPECT_EQ(replayed.engine.frames, recorded.engine.frames);
    EXPECT_EQ(replayed.sink.periodicFrames, recorded.sink.periodicFrames);
    ExpectSameCalls(recorded.sink.calls, replayed.sink.calls);

    // And there was a drag to reproduce: pressed throughout, moving left to right.
    const float threshold = recorded.dsp->Detector().PressThreshold();
    const auto drag = FrameTouches(recorded.sink.calls, 5.6, 7.4);
    ASSERT_GT(drag.size(), 100u);
    for (const auto& touch : drag) {
        EXPECT_GT(touch.x.amplitude, threshold);
        EXPECT_GT(touch.y.amplitude, touch.press);
    }
    EXPECT_LT(drag.front().x.position, 0.3f);
    EXPECT_GT(drag.back().x.position, 0.7f);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RecordAndReplay, ::testing::Values("B64", "S128"));

class RenderedScenario : public PerLayout {};

// The renderer and the driver's simulated link are the same board: the rendered reports are
// byte for byte what the link delivers, at the scenario's frame times.
TEST_P(RenderedScenario, HoldsTheReportsTheSimulatedBoardSends) {
    const sim::Scenario scenario = OnLayout(
        "seed 5\n"
        "at 0.5 down 1 0.35 0.55\n"
        "at 1.0 move 1 0.6 0.2 0.5\n"
        "at 2.0 end\n");
    std::string error;
    const auto layout = sim::RenderLayout(scenario, "", error);
    ASSERT_TRUE(layout.has_value()) << error;
    std::ostringstream text;
    const size_t written = sim::RenderScenario(scenario, *layout, 2.0, text);
    const sim::HidRecording recording = ReadBack(text.str());

    EXPECT_EQ(recording.vendor, sim::kBoardVendor);
    EXPECT_EQ(recording.product, sim::kBoardProduct);
    EXPECT_EQ(recording.descriptor, sim::kBoardReportDescriptor);
    ASSERT_EQ(recording.events.size(), written);
    const size_t reportsPerFrame = model == "S128" ? 3 : 1;
    ASSERT_EQ(written, 200 * reportsPerFrame);

    test::FakeClock clock{5'000'000};
    sim::SimulatedSensorLink link(scenario, clock, false, nullptr);
    ASSERT_TRUE(link.Open());
    std::vector<uint8_t> report(sim::kReportLength);
    for (size_t i = 0; i < recording.events.size(); ++i) {
        const auto& event = recording.events[i];
        SCOPED_TRACE("report " + std::to_string(i));
        link.Read(report.data(), report.size());
        ASSERT_EQ(link.LastDelivered(), report.size());
        EXPECT_EQ(std::vector<uint8_t>(report.begin() + 1, report.end()), event.data);
        EXPECT_EQ(event.micros, static_cast<int64_t>(i / reportsPerFrame) * 10000);
    }
}

// While the board is off the bus nothing is sent; the frames after it keep the rate's grid.
TEST(RenderedScenario, LeavesOutTheFramesWhileUnplugged) {
    const sim::Scenario scenario = ScenarioOf("at 1.0 unplug\nat 1.5 replug\nat 2.0 end\n");
    std::ostringstream text;
    sim::RenderScenario(scenario, Layout("B64"), 2.0, text);
    const sim::HidRecording recording = ReadBack(text.str());
    ASSERT_EQ(recording.events.size(), 150u);
    EXPECT_EQ(recording.events[99].micros, 990000);
    EXPECT_EQ(recording.events[100].micros, 1500000);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RenderedScenario, ::testing::Values("S40", "S24", "S128"));

TEST(RenderedScenario, ReplaysThroughTheDetectorToTheTouch) {
    const sim::Scenario scenario = ScenarioOf(
        "layout S40\n"
        "seed 9\n"
        "at 6.0 down 1 0.35 0.55\n"
        "at 7.5 up 1\n");
    std::string error;
    const auto seconds = sim::DefaultRenderSeconds(scenario, error);
    ASSERT_TRUE(seconds.has_value()) << error;
    EXPECT_DOUBLE_EQ(*seconds, 8.5);  // one second past the last event
    std::ostringstream text;
    sim::RenderScenario(scenario, Layout("S40"), *seconds, text);
    const sim::HidRecording recording = ReadBack(text.str());

    WholePath rig(Layout("S40"), kFrameMs);
    Replay(rig, recording);

    const float threshold = rig.dsp->Detector().PressThreshold();
    const auto touches = FrameTouches(rig.sink.calls, 6.2, 7.4);
    ASSERT_GT(touches.size(), 100u);
    for (const auto& touch : touches) {
        EXPECT_GT(touch.x.amplitude, threshold);
        EXPECT_GT(touch.y.amplitude, touch.press);
        EXPECT_NEAR(touch.x.position, 0.35, 0.05);
        EXPECT_NEAR(touch.y.position, 0.55, 0.05);
    }
    for (const auto& touch : FrameTouches(rig.sink.calls, 7.6, 8.5)) {
        EXPECT_LT(std::min(touch.x.amplitude, touch.y.amplitude), threshold);
    }
}

// The command line as a user meets it: errors name the scenario line or the option at fault.
class ScenarioRecordCommand : public ::testing::Test {
protected:
    int Run(const std::vector<std::string>& words) {
        std::vector<std::string_view> arguments(words.begin(), words.end());
        out.str("");
        err.str("");
        return sim::RunScenarioRecord(arguments, out, err);
    }
    TempDir folder;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(ScenarioRecordCommand, WritesTheRenderedFile) {
    const std::string scenario = folder.File("tap.txt");
    test::WriteFile(scenario, "at 0.1 down 1 0.5 0.5\nat 0.2 up 1\nat 0.5 end\n");
    const std::string outPath = folder.File("tap.hid");
    ASSERT_EQ(Run({scenario, outPath}), 0) << err.str();
    EXPECT_TRUE(err.str().empty());

    std::ostringstream expected;
    sim::RenderScenario(ScenarioOf(test::ReadFile(scenario)), Layout("B64"), 0.5, expected);
    EXPECT_EQ(test::ReadFile(outPath), expected.str());

    ASSERT_EQ(Run({scenario, "-", "--layout", "S24", "--seconds=0.25"}), 0) << err.str();
    EXPECT_EQ(ReadBack(out.str()).events.size(), 25u);
}

TEST_F(ScenarioRecordCommand, FailsWithTheLineOrTheReason) {
    const std::string broken = folder.File("broken.txt");
    test::WriteFile(broken, "rate 100\n\nat 1.0 down 1 0.5 0.5\nat 0.5 up 1\n");
    EXPECT_EQ(Run({broken, folder.File("x.hid")}), 1);
    EXPECT_NE(err.str().find("line 4:"), std::string::npos) << err.str();
    EXPECT_TRUE(test::ListFolder(folder.Path()) == std::vector<std::string>{"broken.txt"});

    EXPECT_EQ(Run({"demo", folder.File("x.hid")}), 1);  // loops: how long is up to the user
    EXPECT_NE(err.str().find("--seconds"), std::string::npos) << err.str();
    EXPECT_EQ(Run({"demo", folder.File("x.hid"), "--layout", "Q99", "--seconds", "1"}), 1);
    EXPECT_NE(err.str().find("Q99"), std::string::npos) << err.str();

    EXPECT_EQ(Run({"idle", "-", "--seconds", "0"}), 2);
    EXPECT_EQ(Run({"idle", "-", "--seconds", "nan"}), 2);
    EXPECT_EQ(Run({"idle", "-", "--seconds"}), 2);
    EXPECT_EQ(Run({"idle"}), 2);
    EXPECT_EQ(Run({"idle", "-", "--frames", "3"}), 2);
    EXPECT_NE(err.str().find("--frames"), std::string::npos) << err.str();
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.str().find("Usage"), std::string::npos);
}

}  // namespace
}  // namespace kv
