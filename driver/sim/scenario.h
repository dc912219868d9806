// Scenario files for the simulated sensor board: what the fingers do and when, as text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

struct ScenarioEvent {
    // Stall: the board's next read does not return for duration seconds (a hung USB read),
    // so the driver's main loop stands still while its other threads run on.
    enum class Verb { Down, Hover, Move, Up, Unplug, Replug, Stall, End };

    double time = 0.0;  // seconds from the start of the scenario
    Verb verb = Verb::End;
    int finger = 0;
    double x = 0.0;  // normalised sensor position: 0 electrode 0, 1 the last electrode
    double y = 0.0;
    double strength = 0.0;  // counts at the centre of the finger
    double duration = 0.0;  // for moves: seconds to reach (x, y); for stalls: how long
    double size = 0.0;      // for down and hover: the object's width in pitches; 0: the profile's
    int line = 0;           // where it was written
};

// The shape of a finger's signal across the electrodes, by lateral distance d in pitches.
enum class ProfileShape {
    Gaussian,    // exp(-0.5 (d / width)^2)
    Lorentzian,  // 1 / (1 + (d / width)^2): heavier tails
    Contact,     // a round contact of a diameter under a cover of a thickness, through its field
};

// One electrode a "dead" or "noisy" line names.
struct ElectrodeFault {
    int axis = 0;  // 0: x, 1: y
    int32_t index = 0;
    double sigma = 0.0;  // noisy: extra independent noise in counts
    int line = 0;
};

struct Scenario {
    double rate = 100.0;  // frames per second
    std::string layout;   // a sensor model name ("B64"); empty: follow the driver's settings
    double noise = 0.5;   // standard deviation in counts
    uint32_t seed = 1;
    double width = 0.7;       // finger profile width in electrode pitches
    double drift = 1.0;       // amplitude of the slow baseline drift, counts
    double baseLow = 40.0;    // electrode rest counts are drawn from [baseLow, baseHigh]
    double baseHigh = 200.0;  //
    bool loop = false;
    // How the foil differs from the ideal one (each off by default):
    // "profile gaussian|lorentzian|finger SIZE GLASS", "gain SPREAD", "common SIGMA",
    // "hum AMPLITUDE HZ", "rise COUNTS_PER_MINUTE", "dead AXIS K", "noisy AXIS K SIGMA".
    ProfileShape profile = ProfileShape::Gaussian;
    double contact = 1.0;               // finger profile: contact diameter, pitches
    double glass = 0.3;                 // finger profile: cover thickness, pitches
    double gainSpread = 0.0;            // electrode gains are drawn from [1 - spread, 1 + spread]
    double common = 0.0;                // noise common to an axis's electrodes per frame, counts
    double humAmplitude = 0.0;          // mains hum common to an axis, counts (0: none)
    double humHz = 50.0;                //
    double rise = 0.0;                  // rest counts rise by this per minute (times 0.5 to 1.5)
    std::vector<ElectrodeFault> dead;   // electrodes without finger signal
    std::vector<ElectrodeFault> noisy;  // electrodes with extra noise
    std::vector<ScenarioEvent> events;  // in time order (stable for equal times)

    // The time of the last event (the end marker when there is one).
    double Length() const;
};

struct ScenarioError {
    int line = 0;
    std::string message;

    std::string Text() const;  // "line N: message"
};

// Parses a scenario. On failure returns nothing and fills the error with the line and cause.
std::optional<Scenario> ParseScenario(std::string_view text, ScenarioError& error);

// Built-in scenarios: "idle" (no finger) and "demo" (tap, drag, hold, pinch, two fingers).
std::optional<Scenario> BuiltinScenario(std::string_view name);

// A file path or a built-in name.
std::optional<Scenario> LoadScenario(const std::string& nameOrPath, ScenarioError& error);

// Event lines written one at a time while the board runs ("down 1 0.3 0.4", "up 1"): the
// verbs and arguments of a scenario's "at" lines, with "at T" optional. The event's time is
// then the delay T in seconds (0 without "at"); lines take effect in the order written.
// "end" lifts every finger and later lines are still taken.
class LiveLineParser {
public:
    // The event of one line; nothing for a blank or comment line (error.message empty) or a
    // malformed one (error says the line's number and why).
    std::optional<ScenarioEvent> Parse(std::string_view line, ScenarioError& error);

private:
    std::array<bool, 16> present_{};  // fingers on the foil after the lines so far
    int line_ = 0;
};

}  // namespace kv::sim
