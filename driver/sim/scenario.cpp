// Scenario parsing and the built-in scenarios.
#include "driver/sim/scenario.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

#include "common/posix_file.h"
#include "protocol/sensor_layout.h"

namespace kv::sim {

namespace {

// Scenarios are written by hand or by scenario-record: a few KiB, at most some MB.
constexpr size_t kMaxScenarioBytes = size_t{16} << 20;

constexpr int kMaxFinger = 15;
constexpr int64_t kMaxElectrode = 255;  // the board renders up to 256 electrodes an axis

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

bool ToDouble(std::string_view word, double& value) {
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc() && ptr == end && value == value && value < 1e12 && value > -1e12;
}

bool ToInt(std::string_view word, int64_t& value) {
    const char* end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// A word in single quotes, for error texts. Built by appending rather than as
// "'" + std::string(word): GCC 12 inlines that insertion at the front in a Release build and
// warns falsely that the copy may overlap (-Wrestrict).
std::string Quoted(std::string_view word) {
    std::string text;
    text.reserve(word.size() + 2);
    text += '\'';
    text += word;
    text += '\'';
    return text;
}

// Collects the first error; every check after that is a no-op.
class LineParser {
public:
    LineParser(ScenarioError& error, int line) : error_(error), line_(line) {}

    bool Failed() const { return failed_; }
    int Line() const { return line_; }
    bool Fail(const std::string& message) {
        if (!failed_) {
            failed_ = true;
            error_.line = line_;
            error_.message = Printable(message);
        }
        return false;
    }
    bool Number(std::string_view word, const char* what, double low, double high, double& out) {
        if (failed_) {
            return false;
        }
        if (!ToDouble(word, out)) {
            return Fail(std::string(what) + " is not a number: '" + std::string(word) + "'");
        }
        return InRange(word, what, low, high, out);
    }
    bool Integer(std::string_view word, const char* what, int64_t low, int64_t high, int64_t& out) {
        if (failed_) {
            return false;
        }
        if (!ToInt(word, out)) {
            return Fail(std::string(what) + " is not a whole number: '" + std::string(word) + "'");
        }
        return InRange(word, what, low, high, out);
    }

private:
    template <class T>
    bool InRange(std::string_view word, const char* what, T low, T high, T value) {
        if (value < low || value > high) {
            std::ostringstream text;
            text << what << " " << word << " is outside " << low << " to " << high;
            return Fail(text.str());
        }
        return true;
    }

    ScenarioError& error_;
    int line_;
    bool failed_ = false;
};

struct FingerUse {
    bool present = false;
};

using Fingers = std::array<FingerUse, kMaxFinger + 1>;

// One 'at' line being read: its words, the event it fills and the fingers on the foil so far.
struct AtLine {
    const std::vector<std::string_view>& w;
    LineParser& p;
    ScenarioEvent& event;
    Fingers& fingers;

    std::string_view Verb() const { return w[2]; }
    // The verb's arguments follow "at time verb": low to high words in all.
    bool ArgumentCount(size_t low, size_t high) {
        if (w.size() < low || w.size() > high) {
            return p.Fail(Quoted(Verb()) + " takes " +
                          (low == high
                               ? std::to_string(low - 3)
                               : std::to_string(low - 3) + " or " + std::to_string(high - 3)) +
                          " arguments");
        }
        return true;
    }
    void Finger() {
        int64_t id = 0;
        p.Integer(w[3], "finger", 0, kMaxFinger, id);
        event.finger = static_cast<int>(id);
    }
    void Position() {
        p.Number(w[4], "x", 0.0, 1.0, event.x);
        p.Number(w[5], "y", 0.0, 1.0, event.y);
    }
    bool& Present() { return fingers[static_cast<size_t>(event.finger)].present; }
    bool RequireOnFoil() {
        if (!p.Failed() && !Present()) {
            return p.Fail("finger " + std::to_string(event.finger) + " is not on the foil");
        }
        return true;
    }
};

// "down|hover finger x y [strength [size]]": the finger (or a larger object such as a palm,
// size pitches wide) is on the foil from now on.
bool ParsePlacing(AtLine& at) {
    const bool down = at.Verb() == "down";
    at.event.verb = down ? ScenarioEvent::Verb::Down : ScenarioEvent::Verb::Hover;
    if (at.w.size() < 6 || at.w.size() > 8) {
        return at.p.Fail(Quoted(at.Verb()) + " takes 3 or 4 arguments, or 5 with a size");
    }
    at.Finger();
    at.Position();
    at.event.strength = down ? 30.0 : 9.0;
    if (at.w.size() >= 7) {
        at.p.Number(at.w[6], "strength", 0.0, 200.0, at.event.strength);
    }
    if (at.w.size() == 8) {
        at.p.Number(at.w[7], "size", 0.05, 20.0, at.event.size);
    }
    if (!at.p.Failed()) {
        at.Present() = true;
    }
    return !at.p.Failed();
}

// "move finger x y [duration]" of a finger already on the foil.
bool ParseMove(AtLine& at) {
    at.event.verb = ScenarioEvent::Verb::Move;
    if (!at.ArgumentCount(6, 7)) {
        return false;
    }
    at.Finger();
    at.Position();
    if (at.w.size() == 7) {
        at.p.Number(at.w[6], "duration", 0.0, 1e6, at.event.duration);
    }
    return at.RequireOnFoil() && !at.p.Failed();
}

// "up finger" of a finger on the foil: it leaves it.
bool ParseUp(AtLine& at) {
    at.event.verb = ScenarioEvent::Verb::Up;
    if (!at.ArgumentCount(4, 4)) {
        return false;
    }
    at.Finger();
    if (!at.RequireOnFoil()) {
        return false;
    }
    if (!at.p.Failed()) {
        at.Present() = false;
    }
    return !at.p.Failed();
}

// "unplug", "replug" or "end", without arguments; nothing may follow "end".
bool ParseBoardVerb(AtLine& at, bool& ended) {
    const std::string_view verb = at.Verb();
    at.event.verb = verb == "unplug"   ? ScenarioEvent::Verb::Unplug
                    : verb == "replug" ? ScenarioEvent::Verb::Replug
                                       : ScenarioEvent::Verb::End;
    if (!at.ArgumentCount(3, 3)) {
        return false;
    }
    ended = at.event.verb == ScenarioEvent::Verb::End;
    return !at.p.Failed();
}

// "stall seconds": the board's next read blocks that long.
bool ParseStall(AtLine& at) {
    at.event.verb = ScenarioEvent::Verb::Stall;
    if (!at.ArgumentCount(4, 4)) {
        return false;
    }
    return at.p.Number(at.w[3], "stall", 0.0, 3600.0, at.event.duration);
}

bool ParseAt(const std::vector<std::string_view>& w, LineParser& p, ScenarioEvent& event,
             double lastTime, Fingers& fingers, bool& ended) {
    if (w.size() < 3) {
        return p.Fail("'at' needs a time and a verb");
    }
    if (ended) {
        return p.Fail("nothing can follow 'end'");
    }
    p.Number(w[1], "time", 0.0, 1e7, event.time);
    if (!p.Failed() && event.time < lastTime) {
        return p.Fail("time " + std::string(w[1]) + " goes back before an earlier line");
    }
    AtLine at{w, p, event, fingers};
    const std::string_view verb = at.Verb();
    if (verb == "down" || verb == "hover") {
        return ParsePlacing(at);
    }
    if (verb == "move") {
        return ParseMove(at);
    }
    if (verb == "up") {
        return ParseUp(at);
    }
    if (verb == "unplug" || verb == "replug" || verb == "end") {
        return ParseBoardVerb(at, ended);
    }
    if (verb == "stall") {
        return ParseStall(at);
    }
    return p.Fail("unknown verb '" + std::string(verb) + "'");
}

// A scenario line without its comment and its carriage return.
std::string_view StripLine(std::string_view line) {
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// "x" or "y" into 0 or 1.
bool Axis(std::string_view word, LineParser& p, int& axis) {
    if (word != "x" && word != "y") {
        return p.Fail("axis is not x or y: " + Quoted(word));
    }
    axis = word == "x" ? 0 : 1;
    return !p.Failed();
}

// The foil-model lines: how the foil differs from the ideal one the driver's interpolation
// assumes. Each may be given once, except "dead" and "noisy", which name one electrode each.
bool ParseFoilSetting(const std::vector<std::string_view>& w, LineParser& p, Scenario& scenario,
                      std::vector<std::string_view>& seen) {
    const std::string_view key = w[0];
    const bool perElectrode = key == "dead" || key == "noisy";
    if (key != "profile" && key != "gain" && key != "common" && key != "hum" && key != "rise" &&
        !perElectrode) {
        return false;
    }
    if (!perElectrode) {
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            p.Fail(Quoted(key) + " can be given only once");
            return true;
        }
        seen.push_back(key);
    }
    auto values = [&](size_t count, const char* says) {
        if (w.size() != count + 1) {
            p.Fail(Quoted(key) + " takes " + says);
        }
        return !p.Failed();
    };
    if (key == "profile") {
        const bool finger = w.size() > 1 && w[1] == "finger";
        if (values(finger ? 3 : 1, "gaussian, lorentzian or finger SIZE GLASS")) {
            if (finger) {
                scenario.profile = ProfileShape::Contact;
                p.Number(w[2], "finger size", 0.1, 10.0, scenario.contact);
                p.Number(w[3], "glass", 0.01, 5.0, scenario.glass);
            } else if (w[1] == "gaussian" || w[1] == "lorentzian") {
                scenario.profile =
                    w[1] == "gaussian" ? ProfileShape::Gaussian : ProfileShape::Lorentzian;
            } else {
                p.Fail("unknown profile " + Quoted(w[1]));
            }
        }
    } else if (key == "gain") {
        if (values(1, "one value from 0 to 0.5")) {
            p.Number(w[1], "gain", 0.0, 0.5, scenario.gainSpread);
        }
    } else if (key == "common") {
        if (values(1, "one value from 0 to 50")) {
            p.Number(w[1], "common", 0.0, 50.0, scenario.common);
        }
    } else if (key == "hum") {
        if (values(2, "an amplitude and a frequency")) {
            p.Number(w[1], "hum", 0.0, 50.0, scenario.humAmplitude);
            p.Number(w[2], "hum frequency", 1.0, 1000.0, scenario.humHz);
        }
    } else if (key == "rise") {
        if (values(1, "one value from -100 to 100")) {
            p.Number(w[1], "rise", -100.0, 100.0, scenario.rise);
        }
    } else {
        const bool dead = key == "dead";
        ElectrodeFault fault;
        int64_t index = 0;
        if (values(dead ? 2 : 3,
                   dead ? "an axis and an electrode" : "an axis, an electrode and a noise") &&
            Axis(w[1], p, fault.axis) && p.Integer(w[2], "electrode", 0, kMaxElectrode, index) &&
            (dead || p.Number(w[3], "noise", 0.0, 50.0, fault.sigma))) {
            fault.index = static_cast<int32_t>(index);
            fault.line = p.Line();
            (dead ? scenario.dead : scenario.noisy).push_back(fault);
        }
    }
    return true;
}

// Electrodes named by dead and noisy lines that the scenario's own layout does not have.
bool CheckFaultsOnLayout(const Scenario& scenario, ScenarioError& error) {
    const auto layout = LayoutForModel(scenario.layout);
    if (!layout) {
        return true;  // the layout comes later, from the driver: the board ignores them then
    }
    for (const auto* faults : {&scenario.dead, &scenario.noisy}) {
        for (const ElectrodeFault& fault : *faults) {
            const int32_t count = fault.axis == 0 ? layout->CountX() : layout->CountY();
            if (fault.index >= count) {
                const char* axis = fault.axis == 0 ? "x" : "y";
                error.line = fault.line;
                error.message = "electrode " + std::string(axis) + " " +
                                std::to_string(fault.index) + " is not on " + scenario.layout +
                                " (" + std::to_string(count) + " " + axis + " electrodes)";
                return false;
            }
        }
    }
    return true;
}

// A setting line ("rate 500", "loop", ...) into the scenario; errors go to p.
void ParseSetting(const std::vector<std::string_view>& w, LineParser& p, Scenario& scenario,
                  std::vector<std::string_view>& seen) {
    const std::string_view key = w[0];
    auto single = [&]() {
        if (w.size() != 2) {
            p.Fail(Quoted(key) + " takes one value");
        }
        return !p.Failed();
    };
    if (ParseFoilSetting(w, p, scenario, seen)) {
        return;
    }
    if (key == "rate") {
        if (single()) {
            p.Number(w[1], "rate", 1.0, 2000.0, scenario.rate);
        }
    } else if (key == "layout") {
        if (single()) {
            if (!LayoutForModel(w[1])) {
                p.Fail("unknown sensor model '" + std::string(w[1]) + "'");
            }
            scenario.layout = std::string(w[1]);
        }
    } else if (key == "noise") {
        if (single()) {
            p.Number(w[1], "noise", 0.0, 50.0, scenario.noise);
        }
    } else if (key == "seed") {
        int64_t seed = 0;
        if (single() && p.Integer(w[1], "seed", 0, UINT32_MAX, seed)) {
            scenario.seed = static_cast<uint32_t>(seed);
        }
    } else if (key == "width") {
        if (single()) {
            p.Number(w[1], "width", 0.05, 10.0, scenario.width);
        }
    } else if (key == "drift") {
        if (single()) {
            p.Number(w[1], "drift", 0.0, 100.0, scenario.drift);
        }
    } else if (key == "baseline") {
        if (w.size() != 2 && w.size() != 3) {
            p.Fail("'baseline' takes one or two values");
        } else {
            p.Number(w[1], "baseline", 0.0, 255.0, scenario.baseLow);
            scenario.baseHigh = scenario.baseLow;
            if (w.size() == 3) {
                p.Number(w[2], "baseline", scenario.baseLow, 255.0, scenario.baseHigh);
            }
        }
    } else if (key == "loop") {
        if (w.size() != 1) {
            p.Fail("'loop' takes no value");
        }
        scenario.loop = true;
    } else {
        p.Fail("unknown keyword '" + std::string(key) + "'");
    }
}

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
