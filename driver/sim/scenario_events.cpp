// The event lines of a scenario ("at time verb ...") and the words they are read from.
#include <charconv>

#include "driver/sim/scenario_parsing.h"

namespace kv::sim::parsing {

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

std::string_view StripLine(std::string_view line) {
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

namespace {

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

}  // namespace

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

}  // namespace kv::sim::parsing
