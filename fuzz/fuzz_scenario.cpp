// Scenario files on arbitrary text: the parser, the live line parser with each line it takes
// applied to a running board, and for every scenario it accepts, the simulated board built
// from it rendering frames across the scenario's length.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"

namespace {

// The same text as event lines written live, one at a time: each is taken, skipped as blank,
// or rejected with its line number and a reason. Every line taken is applied at once to an
// idle board, as the live input does, and the board renders a frame after each line.
void ParseLive(std::string_view text) {
    kv::sim::LiveLineParser parser;
    kv::sim::SimulatedBoard board(kv::sim::Scenario{});
    std::array<uint8_t, kv::sim::kMaxSamples> samples{};
    double now = 0.0;
    int number = 0;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        kv::sim::ScenarioError error;
        const auto event = parser.Parse(text.substr(0, end), error);
        ++number;
        if (!event && !error.message.empty() && error.line != number) {
            std::abort();
        }
        if (event && (event->time < 0.0 || event->finger < 0 || event->finger > 15)) {
            std::abort();
        }
        if (event) {
            board.ApplyNow(*event);
        }
        now += 0.01;
        const auto reports = board.FrameAt(now);
        if (reports.count < 0 || reports.count > 3) {
            std::abort();
        }
        board.Render(samples.data());
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParseLive(text);
    kv::sim::ScenarioError error;
    const auto scenario = kv::sim::ParseScenario(text, error);
    if (!scenario) {
        // A rejected scenario always says where and why.
        if (error.message.empty() || error.line < 0) {
            std::abort();
        }
        return 0;
    }
    for (size_t i = 1; i < scenario->events.size(); ++i) {
        if (scenario->events[i].time < scenario->events[i - 1].time) {
            std::abort();  // events must stay in time order
        }
    }
    kv::sim::SimulatedBoard board(*scenario);
    std::array<uint8_t, kv::sim::kMaxSamples> samples{};
    const double length = std::max(scenario->Length(), 0.1);
    for (int step = 0; step <= 16; ++step) {
        const auto reports = board.FrameAt(length * step / 12.0);
        if (reports.count < 0 || reports.count > 3) {
            std::abort();
        }
        board.Render(samples.data());
    }
    return 0;
}
