// The emulated board's time line: scenario frames at the scenario's rate as the board sends
// them, recordings as recorded, and unplug and replug cues in their place.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver/sim/hid_recording.h"
#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"
#include "tests/rigs/uhid-board/board_player.h"
#include "tests/support/scenario_text.h"

using namespace kv::uhidboard;
using Kind = PlayerStep::Kind;

namespace {

using kv::test::ScenarioOf;

struct Played {
    Kind kind;
    int64_t micros;
    std::vector<uint8_t> data;
};

// Every step up to and including End, with the report bytes copied.
std::vector<Played> PlayAll(BoardPlayer& player) {
    std::vector<Played> steps;
    for (int guard = 0; guard < 100000; ++guard) {
        const PlayerStep step = player.Next();
        steps.push_back(
            {step.kind, step.micros, std::vector<uint8_t>(step.data, step.data + step.length)});
        if (step.kind == Kind::End) {
            break;
        }
    }
    return steps;
}

using TimedKinds = std::vector<std::pair<Kind, int64_t>>;

// The steps' kinds and times, without their bytes.
TimedKinds Timeline(const std::vector<Played>& steps) {
    TimedKinds timeline;
    for (const Played& step : steps) {
        timeline.emplace_back(step.kind, step.micros);
    }
    return timeline;
}

kv::sim::HidRecording Recording(std::initializer_list<int64_t> times) {
    kv::sim::HidRecording recording;
    recording.name = "board";
    recording.vendor = kv::sim::kBoardVendor;
    recording.product = kv::sim::kBoardProduct;
    recording.descriptor = kv::sim::kBoardReportDescriptor;
    uint8_t mark = 1;
    for (const int64_t t : times) {
        recording.events.push_back({t, std::vector<uint8_t>(64, mark++)});
    }
    return recording;
}

}  // namespace

TEST(ScenarioPlaying, OneReportPerFrameAtTheRateWithoutTheIdByte) {
    const std::string text = "rate 50\nat 0.5 down 1 0.5 0.5 60\nat 1.0 end\n";
    BoardPlayer player(ScenarioOf(text));
    EXPECT_EQ(player.Identity().vendor, 0x2012);
    EXPECT_EQ(player.Identity().product, 0x1001);
    EXPECT_EQ(player.Identity().descriptor, kv::sim::kBoardReportDescriptor);
    const auto steps = PlayAll(player);
    // Frames at 0, 20, ..., 1000 ms, then the end.
    ASSERT_EQ(steps.size(), 52u);
    kv::sim::SimulatedBoard reference(ScenarioOf(text));
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        ASSERT_EQ(steps[i].kind, Kind::Report) << i;
        EXPECT_EQ(steps[i].micros, static_cast<int64_t>(i) * 20000);
        const kv::sim::FrameReports frame = reference.FrameAt(static_cast<double>(i) / 50.0);
        ASSERT_EQ(frame.count, 1);
        ASSERT_EQ(steps[i].data.size(), 64u) << "unnumbered: the report ID is not sent";
        EXPECT_EQ(0, std::memcmp(steps[i].data.data(), frame.reports[0].data() + 1, 64)) << i;
    }
    EXPECT_EQ(steps.back().kind, Kind::End);
    EXPECT_EQ(player.Next().kind, Kind::End) << "the end stays the end";
}

TEST(ScenarioPlaying, A128ChannelFrameIsThreeReportsAtOneTime) {
    BoardPlayer player(ScenarioOf("layout B128\nrate 10\nat 0.2 end\n"));
    const auto steps = PlayAll(player);
    ASSERT_EQ(steps.size(), 3u * 3u + 1u);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(steps[i].kind, Kind::Report);
        EXPECT_EQ(steps[i].micros, static_cast<int64_t>(i / 3) * 100000);
    }
    // The sync report counts its bytes 1..64.
    EXPECT_EQ(steps[0].data[0], 1);
    EXPECT_EQ(steps[0].data[63], 64);
}

TEST(ScenarioPlaying, UnplugAndReplugLinesCutTheReports) {
    BoardPlayer player(ScenarioOf("rate 10\nat 0.25 unplug\nat 0.55 replug\nat 0.8 end\n"));
    const auto steps = PlayAll(player);
    const TimedKinds expected{
        {Kind::Report, 0},      {Kind::Report, 100000}, {Kind::Report, 200000},
        {Kind::Unplug, 300000}, {Kind::Replug, 600000}, {Kind::Report, 600000},
        {Kind::Report, 700000}, {Kind::Report, 800000}, {Kind::End, 800000}};
    EXPECT_EQ(Timeline(steps), expected);
}

TEST(ScenarioPlaying, LoopingScenariosPlayOnePass) {
    BoardPlayer player(ScenarioOf("rate 10\nat 0.3 end\nloop\n"));
    EXPECT_EQ(PlayAll(player).size(), 5u);
}

TEST(RecordingPlaying, ReportsAsRecorded) {
    BoardPlayer player(Recording({0, 10000, 25000}), PlugCue{});
    const auto steps = PlayAll(player);
    ASSERT_EQ(steps.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(steps[i].kind, Kind::Report);
        EXPECT_EQ(steps[i].data, std::vector<uint8_t>(64, static_cast<uint8_t>(i + 1)));
    }
    EXPECT_EQ(steps[1].micros, 10000);
    EXPECT_EQ(steps[2].micros, 25000);
    EXPECT_EQ(steps[3].kind, Kind::End);
}

TEST(RecordingPlaying, CuesDropTheReportsWhileUnplugged) {
    BoardPlayer player(Recording({0, 10000, 20000, 30000, 40000}), PlugCue{10000, 30000});
    const auto steps = PlayAll(player);
    // A cue at a report's time comes before it.
    const TimedKinds expected{{Kind::Report, 0},     {Kind::Unplug, 10000}, {Kind::Replug, 30000},
                              {Kind::Report, 30000}, {Kind::Report, 40000}, {Kind::End, 40000}};
    EXPECT_EQ(Timeline(steps), expected);
    EXPECT_EQ(steps[3].data[0], 4) << "the fourth recorded report follows the replug";
}

TEST(RecordingPlaying, UnplugWithoutReplugEndsTheReports) {
    BoardPlayer player(Recording({0, 10000, 20000}), PlugCue{5000, -1});
    const auto steps = PlayAll(player);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].kind, Kind::Report);
    EXPECT_EQ(steps[1].kind, Kind::Unplug);
    EXPECT_EQ(steps[2].kind, Kind::End);
}

TEST(RecordingPlaying, CuesAfterTheLastReportStillHappen) {
    BoardPlayer player(Recording({0}), PlugCue{50000, 60000});
    const auto steps = PlayAll(player);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].kind, Kind::Unplug);
    EXPECT_EQ(steps[2].kind, Kind::Replug);
    EXPECT_EQ(steps[2].micros, 60000);
}
