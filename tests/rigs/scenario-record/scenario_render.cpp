// Scenario rendering and the scenario-record command line.
#include "tests/rigs/scenario-record/scenario_render.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "common/command_line.h"
#include "driver/sim/hid_recording.h"
#include "driver/sim/simulated_board.h"

namespace kv::sim {

namespace {

// A day of frames is already hundreds of megabytes of text.
constexpr double kMaxSeconds = 86400.0;
// After the last event, so that a final release still reaches the file.
constexpr double kTailSeconds = 1.0;

constexpr std::string_view kUsage =
    "Usage: scenario-record SCENARIO OUT [--seconds S] [--layout MODEL]\n"
    "  Renders a scenario of the simulated sensor board into a hid-recorder file, as the\n"
    "  board would have sent it, without running the driver. Replay it with\n"
    "  'Driver --replay=OUT' (the driver's split settings and mux size must match the layout).\n"
    "    SCENARIO     a scenario file, or a built-in one: idle, demo\n"
    "    OUT          the file to write, '-' for standard output\n"
    "    --seconds S  how long to render (default: up to 'end', or one second past the last\n"
    "                 event; required for scenarios that loop or have no events)\n"
    "    --layout M   the sensor model for scenarios that name none (default B64)\n";

bool ParseSeconds(std::string_view word, double& value) {
    const auto seconds = ParseDecimal<double>(word);
    value = seconds.value_or(value);
    return seconds && value > 0.0 && value <= kMaxSeconds;
}

}  // namespace

std::optional<RenderRequest> ParseRenderArguments(const std::vector<std::string_view>& arguments,
                                                  bool& help, std::string& error) {
    help = false;
    RenderRequest request;
    std::vector<std::string_view> positional;
    CommandLine words(arguments);
    while (!words.AtEnd()) {
        const OptionWord option = words.Next();
        const std::string_view word = words.Word();
        auto takeValue = [&]() {
            const auto given = words.ValueOf(option);
            if (!given) {
                error = std::string(option.name) + " needs a value";
                return std::optional<std::string_view>();
            }
            return given;
        };
        if (option.name == "--help" || option.name == "-h") {
            help = true;
            return std::nullopt;
        }
        if (option.name == "--seconds") {
            const auto value = takeValue();
            double seconds = 0.0;
            if (!value) {
                return std::nullopt;
            }
            if (!ParseSeconds(*value, seconds)) {
                error = "--seconds wants a number above 0 and at most 86400, not '" +
                        std::string(*value) + "'";
                return std::nullopt;
            }
            request.seconds = seconds;
        } else if (option.name == "--layout") {
            const auto value = takeValue();
            if (!value) {
                return std::nullopt;
            }
            request.layout = std::string(*value);
        } else if (word.size() > 1 && word.starts_with("-")) {
            error = "unknown option '" + std::string(word) + "'";
            return std::nullopt;
        } else {
            positional.push_back(word);
        }
    }
    if (positional.size() != 2) {
        error = "expected a scenario and an output file";
        return std::nullopt;
    }
    request.scenario = std::string(positional[0]);
    request.out = std::string(positional[1]);
    return request;
}

std::optional<double> DefaultRenderSeconds(const Scenario& scenario, std::string& error) {
    if (scenario.loop) {
        error = "the scenario loops: say how long with --seconds";
        return std::nullopt;
    }
    if (scenario.events.empty()) {
        error = "the scenario has no events: say how long with --seconds";
        return std::nullopt;
    }
    const ScenarioEvent& last = scenario.events.back();
    if (last.verb == ScenarioEvent::Verb::End) {
        if (last.time <= 0.0) {
            error = "line " + std::to_string(last.line) +
                    ": the scenario ends at time 0: say how long with --seconds";
            return std::nullopt;
        }
        return last.time;
    }
    double seconds = last.time + kTailSeconds;
    for (const ScenarioEvent& event : scenario.events) {
        if (event.verb == ScenarioEvent::Verb::Move) {
            seconds = std::max(seconds, event.time + event.duration + kTailSeconds);
        }
    }
    return std::min(seconds, kMaxSeconds);
}

std::optional<SensorLayout> RenderLayout(const Scenario& scenario, std::string_view model,
                                         std::string& error) {
    if (!model.empty() && !LayoutForModel(model)) {
        error = "unknown sensor model '" + std::string(model) + "'";
        return std::nullopt;
    }
    if (!scenario.layout.empty()) {
        if (!model.empty() && model != scenario.layout) {
            error = "--layout " + std::string(model) + " contradicts the scenario's layout " +
                    scenario.layout;
            return std::nullopt;
        }
        return LayoutForModel(scenario.layout);
    }
    return LayoutForModel(model.empty() ? kDefaultRenderModel : model);
}

size_t RenderScenario(const Scenario& scenario, const SensorLayout& layout, double seconds,
                      std::ostream& out) {
    out << FormatHeader(kBoardName, kBoardVendor, kBoardProduct, kBoardReportDescriptor);
    SimulatedBoard board(scenario);
    board.SetLayout(layout);
    size_t written = 0;
    for (int64_t frame = 0;; ++frame) {
        const double t = static_cast<double>(frame) / scenario.rate;
        if (t >= seconds) {
            break;
        }
        const FrameReports reports = board.FrameAt(t);
        const auto micros = static_cast<int64_t>(std::llround(t * 1e6));
        for (int32_t r = 0; r < reports.count; ++r) {
            // The board's reports are unnumbered: the file holds them without the ID byte.
            const Report& report = reports.reports[static_cast<size_t>(r)];
            out << FormatEvent(micros, report.data() + 1, report.size() - 1);
            ++written;
        }
    }
    return written;
}

int RunScenarioRecord(const std::vector<std::string_view>& arguments, std::ostream& out,
                      std::ostream& err) {
    bool help = false;
    std::string error;
    const auto request = ParseRenderArguments(arguments, help, error);
    if (help) {
        out << kUsage;
        return 0;
    }
    if (!request) {
        err << "scenario-record: " << error << "\n" << kUsage;
        return 2;
    }
    ScenarioError scenarioError;
    const auto scenario = LoadScenario(request->scenario, scenarioError);
    if (!scenario) {
        err << "scenario-record: " << request->scenario << ": " << scenarioError.Text() << "\n";
        return 1;
    }
    const auto layout = RenderLayout(*scenario, request->layout, error);
    std::optional<double> seconds = request->seconds;
    if (layout && !seconds) {
        seconds = DefaultRenderSeconds(*scenario, error);
    }
    if (!layout || !seconds) {
        err << "scenario-record: " << request->scenario << ": " << error << "\n";
        return 1;
    }
    if (request->out == "-") {
        RenderScenario(*scenario, *layout, *seconds, out);
        out.flush();
        return out ? 0 : 1;
    }
    std::ofstream file(request->out, std::ios::binary | std::ios::trunc);
    if (!file) {
        err << "scenario-record: cannot create " << request->out << "\n";
        return 1;
    }
    RenderScenario(*scenario, *layout, *seconds, file);
    file.close();
    if (!file) {
        err << "scenario-record: cannot write " << request->out << "\n";
        return 1;
    }
    return 0;
}

}  // namespace kv::sim
