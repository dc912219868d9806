// Judging and writing a foil's state.
#include "tools/kvctl/foil_health.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

namespace {

std::string Number(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// A label value: backslash, double quote and newline escaped.
std::string LabelValue(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped.push_back('\\');
            escaped.push_back(c);
        } else if (c == '\n') {
            escaped.append("\\n");
        } else {
            escaped.push_back(c);
        }
    }
    return escaped;
}

void Gauge(std::ostream& out, std::string_view name, std::string_view help,
           const std::string& value, std::string_view labels = {}) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << " gauge\n"
        << name << labels << ' ' << value << '\n';
}

}  // namespace

HealthVerdict Judge(const FoilState& state, double minFramesPerSecond) {
    if (!state.driver) {
        return {kHealthNoDriver, "no driver answering on " + state.peer};
    }
    if (!state.heartbeatMoved) {
        return {kHealthStuck, "driver answering on " + state.peer +
                                  ", but its main loop is stuck: no heartbeat in " +
                                  Number(state.watchedSeconds, 1) +
                                  " s (its answer holds the records as they were)"};
    }
    if (!state.Fresh()) {
        return {kHealthStuck, "driver answering on " + state.peer + ", but no frame processed in " +
                                  Number(state.watchedSeconds, 1) + " s with the board connected"};
    }
    if (!state.board) {
        return {kHealthNoBoard,
                "driver answering on " + state.peer + ", no sensor board connected"};
    }
    const std::string rate = Number(state.framesPerSecond, 0) + " frames/s";
    if (state.framesPerSecond < minFramesPerSecond) {
        return {kHealthOutOfRange, "board connected, but at " + rate + " (normal: at least " +
                                       Number(minFramesPerSecond, 0) + ")"};
    }
    if (!state.quietestLevel) {
        return {kHealthOutOfRange, "board connected at " + rate + ", but no signal level"};
    }
    const float level = *state.quietestLevel;
    const std::string levelText = "signal level " + Number(level, 1);
    // An untouched foil whose level reaches the press threshold reports touches of its own.
    if (level < 0.0f || level >= static_cast<float>(state.pressThreshold)) {
        return {kHealthOutOfRange, "board connected at " + rate + ", but the quietest " +
                                       levelText + " is not below the press threshold " +
                                       std::to_string(state.pressThreshold)};
    }
    return {kHealthOk, "ok: board connected at " + rate + ", " + levelText + " (press threshold " +
                           std::to_string(state.pressThreshold) + ")"};
}

std::string HealthJson(const FoilState& state, const HealthVerdict& verdict) {
    static constexpr const char* kStates[] = {"ok", "no-driver", "no-board", "out-of-range",
                                              "stuck"};
    std::string out = "{\"status\": " + std::to_string(verdict.status) + ", \"state\": \"";
    out.append(kStates[verdict.status]).append("\", \"message\": ");
    AppendJsonString(out, verdict.line);
    out.append(", \"driver\": ").append(state.driver ? "true" : "false");
    out.append(", \"peer\": ");
    AppendJsonString(out, state.peer);
    if (state.driver) {
        out.append(", \"fresh\": ").append(state.Fresh() ? "true" : "false");
        out.append(", \"heartbeat_moved\": ").append(state.heartbeatMoved ? "true" : "false");
        out.append(", \"frames_heard\": ").append(std::to_string(state.framesHeard));
        out.append(", \"watched_seconds\": ").append(Number(state.watchedSeconds, 1));
        // A stuck loop's last measurements are not the foil's: null.
        const bool fresh = state.Fresh();
        out.append(", \"board\": ").append(!fresh ? "null" : state.board ? "true" : "false");
        out.append(", \"frames_per_second\": ")
            .append(fresh ? Number(state.framesPerSecond, 1) : "null");
        out.append(", \"signal_level\": ");
        out.append(fresh && state.quietestLevel ? Number(*state.quietestLevel, 2) : "null");
        out.append(", \"press_threshold\": ").append(std::to_string(state.pressThreshold));
        out.append(", \"touch_mode\": ").append(std::to_string(state.touchMode));
        out.append(", \"output_enabled\": ").append(state.outputEnabled ? "true" : "false");
        out.append(", \"version\": ");
        AppendJsonString(out, state.version);
    }
    out.append("}");
    return out;
}

std::string MetricsText(const FoilState& state) {
    std::ostringstream out;
    Gauge(out, "kelvarin_driver_up",
          "Whether the touch foil driver answered and its main loop runs (1) or not (0).",
          state.driver && state.Fresh() ? "1" : "0");
    if (!state.driver) {
        return out.str();
    }
    Gauge(out, "kelvarin_driver_stale",
          "Whether the driver answered with records its main loop no longer updates (1) or "
          "not (0).",
          state.Fresh() ? "0" : "1");
    Gauge(out, "kelvarin_driver_info", "The answering driver's version.", "1",
          "{version=\"" + LabelValue(state.version) + "\"}");
    if (!state.Fresh()) {
        return out.str();  // the rest would be the last values of a loop that has stopped
    }
    Gauge(out, "kelvarin_board_connected", "Whether the sensor board is connected (1) or not (0).",
          state.board ? "1" : "0");
    Gauge(out, "kelvarin_frames_per_second", "Sensor frames the driver processed per second.",
          Number(state.framesPerSecond, 1));
    if (state.quietestLevel) {
        Gauge(out, "kelvarin_signal_level",
              "The quietest signal level seen while sampling (the untouched foil's noise).",
              Number(*state.quietestLevel, 3));
    }
    Gauge(out, "kelvarin_press_threshold", "The level from which a signal counts as a touch.",
          std::to_string(state.pressThreshold));
    Gauge(out, "kelvarin_touch_mode",
          "The touch mode: 0 single touch, 1 pinch scroll, 2 TUIO, 3 native two-finger touch.",
          std::to_string(state.touchMode));
    Gauge(out, "kelvarin_output_enabled", "Whether touch output is switched on (1) or off (0).",
          state.outputEnabled ? "1" : "0");
    return out.str();
}

std::string VersionOf(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) {
        line.remove_suffix(1);
    }
    const size_t space = line.rfind(' ');
    return std::string(space == std::string_view::npos ? line : line.substr(space + 1));
}

}  // namespace kv::kvctl
