// Scenario files as a whole, the live input's lines and the built-in scenarios.
#include "driver/sim/scenario.h"

#include "common/posix_file.h"
#include "driver/sim/scenario_parsing.h"

namespace kv::sim {

using parsing::CheckFaultsOnLayout;
using parsing::Fingers;
using parsing::LineParser;
using parsing::ParseAt;
using parsing::ParseSetting;
using parsing::StripLine;
using parsing::Words;

namespace {

// Scenarios are written by hand or by scenario-record: a few KiB, at most some MB.
constexpr size_t kMaxScenarioBytes = size_t{16} << 20;

// The events read so far: the fingers on the foil, whether 'end' came and the latest time.
struct Timeline {
    Fingers fingers{};
    bool ended = false;
    double lastTime = 0.0;
};

}  // namespace

double Scenario::Length() const {
    return events.empty() ? 0.0 : events.back().time;
}

std::string ScenarioError::Text() const {
    if (line <= 0) {
        return message;  // not about a line: the file itself
    }
    return "line " + std::to_string(line) + ": " + message;
}

std::optional<Scenario> ParseScenario(std::string_view text, ScenarioError& error) {
    Scenario scenario;
    Timeline timeline;
    std::vector<std::string_view> seen;  // the settings that may be given once
    int lineNumber = 0;
    int loopLine = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t next = text.find('\n', pos);
        if (next == std::string_view::npos) {
            next = text.size();
        }
        const auto w = Words(StripLine(text.substr(pos, next - pos)));
        pos = next + 1;
        ++lineNumber;
        if (!w.empty()) {
            LineParser p(error, lineNumber);
            if (w[0] == "at") {
                ScenarioEvent event;
                event.line = lineNumber;
                if (!ParseAt(w, p, event, timeline.lastTime, timeline.fingers, timeline.ended)) {
                    return std::nullopt;
                }
                timeline.lastTime = event.time;
                scenario.events.push_back(event);
            } else {
                ParseSetting(w, p, scenario, seen);
                if (w[0] == "loop") {
                    loopLine = lineNumber;
                }
            }
            if (p.Failed()) {
                return std::nullopt;
            }
        }
        if (next == text.size()) {
            break;
        }
    }
    if (scenario.loop && scenario.Length() <= 0.0) {
        error.line = loopLine;
        error.message = "'loop' needs events after time 0";
        return std::nullopt;
    }
    if (!CheckFaultsOnLayout(scenario, error)) {
        return std::nullopt;
    }
    return scenario;
}

std::optional<ScenarioEvent> LiveLineParser::Parse(std::string_view line, ScenarioError& error) {
    ++line_;
    error = {};
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    auto w = Words(line);
    if (w.empty()) {
        return std::nullopt;
    }
    if (w[0] != "at") {
        w.insert(w.begin(), {std::string_view("at"), std::string_view("0")});
    }
    Fingers fingers{};
    for (size_t i = 0; i < fingers.size(); ++i) {
        fingers[i].present = present_[i];
    }
    bool ended = false;
    ScenarioEvent event;
    event.line = line_;
    LineParser p(error, line_);
    if (!ParseAt(w, p, event, 0.0, fingers, ended)) {
        return std::nullopt;
    }
    for (size_t i = 0; i < fingers.size(); ++i) {
        present_[i] = fingers[i].present && !ended;
    }
    return event;
}

std::optional<Scenario> BuiltinScenario(std::string_view name) {
    static constexpr std::string_view kIdle = "# no finger\n";
    // Starts once the baseline has settled (two housekeeping periods) and shows a tap, a
    // drag, a press-and-hold, a pinch and two fingers crossing, then starts again.
    static constexpr std::string_view kDemo = R"(
at 6.0 down 1 0.30 0.40
at 6.15 up 1
at 8.0 down 1 0.20 0.20
at 8.0 move 1 0.80 0.70 2.0
at 10.5 up 1
at 12.0 down 1 0.50 0.50
at 15.0 up 1
at 17.0 down 1 0.45 0.50
at 17.0 down 2 0.55 0.50
at 17.2 move 1 0.20 0.50 1.5
at 17.2 move 2 0.80 0.50 1.5
at 19.0 up 1
at 19.0 up 2
at 21.0 down 1 0.30 0.30
at 21.0 down 2 0.70 0.70
at 21.2 move 1 0.30 0.70 2.0
at 21.2 move 2 0.70 0.30 2.0
at 24.0 up 1
at 24.0 up 2
at 26.0 end
loop
)";
    ScenarioError error;
    if (name == "idle") {
        return ParseScenario(kIdle, error);
    }
    if (name == "demo") {
        return ParseScenario(kDemo, error);
    }
    return std::nullopt;
}

std::optional<Scenario> LoadScenario(const std::string& nameOrPath, ScenarioError& error) {
    if (auto builtin = BuiltinScenario(nameOrPath)) {
        return builtin;
    }
    const FileText file = ReadRegularFile(nameOrPath, kMaxScenarioBytes);
    if (!file.Whole()) {
        error.line = 0;
        error.message =
            file.outcome == FileText::Outcome::Missing
                ? "cannot open scenario '" + nameOrPath + "' (not a file, nor idle or demo)"
                : "cannot load the scenario: " + file.error;
        return std::nullopt;
    }
    return ParseScenario(file.text, error);
}

}  // namespace kv::sim
