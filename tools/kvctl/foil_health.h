// What kvctl health and kvctl metrics say about one foil: the driver's answer, the board's
// link, its frame rate and the quietest signal level seen, judged against the normal ranges,
// and written as a line, as JSON or in the Prometheus text format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::kvctl {

// kvctl health's exit statuses.
constexpr int kHealthOk = 0;
constexpr int kHealthNoDriver = 1;
constexpr int kHealthNoBoard = 2;
constexpr int kHealthOutOfRange = 3;
// The driver answers, but with records as they were: its main loop sent no heartbeat (or,
// with a board, no frame) while kvctl watched.
constexpr int kHealthStuck = 4;

// Below this many frames a second the touch timing suffers (the board's usual rate is 100).
constexpr double kDefaultMinFramesPerSecond = 50.0;
// The board's status period, over which the driver counts frames.
constexpr double kStatusPeriodSeconds = 2.0;

struct FoilState {
    bool driver = false;  // the driver answered with all its records
    std::string peer;     // where it was asked ("127.0.0.1:11249")
    bool board = false;   // Comms/ActStatus Connected
    double framesPerSecond = 0.0;
    // The lowest signal level (Sense/Status) seen while watching: with no finger on the foil,
    // the noise. Nothing when none was seen or it was not a number.
    std::optional<float> quietestLevel;
    int32_t pressThreshold = 0;  // Sense/State: a level at or above it is a touch
    int32_t touchMode = 0;       // Output/State Selection
    bool outputEnabled = false;  // Output/State Enable
    std::string version;         // from the driver's Copyright/State ("10.3.0")
    // What the driver's main loop sent while kvctl watched (watchedSeconds): a heartbeat with
    // a new sequence number, and the frames it processed (a signal level each).
    double watchedSeconds = 0.0;
    bool heartbeatMoved = false;
    int framesHeard = 0;

    // The records describe the driver as it is now, not as its main loop last left them.
    bool Fresh() const { return heartbeatMoved && (!board || framesHeard > 0); }
};

struct HealthVerdict {
    int status = kHealthNoDriver;
    std::string line;  // one line for people and logs, without the newline
};

HealthVerdict Judge(const FoilState& state, double minFramesPerSecond);

// {"status": N, "state": "ok", "message": "...", "driver": ..., ...} on one line.
std::string HealthJson(const FoilState& state, const HealthVerdict& verdict);

// The metrics in the Prometheus text exposition format, ending in a newline.
std::string MetricsText(const FoilState& state);

// The version in a Copyright/State line such as "Kelvarin Driver 10.3.0\n": its last word.
std::string VersionOf(std::string_view line);

}  // namespace kv::kvctl
