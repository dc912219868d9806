// Rendering a scenario into the hid-recorder file the simulated board would have produced,
// and the command line of scenario-record.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/sim/scenario.h"
#include "protocol/sensor_layout.h"

namespace kv::sim {

// The sensor model used for a scenario that names none: the driver's default settings.
constexpr std::string_view kDefaultRenderModel = "B64";

struct RenderRequest {
    std::string scenario;  // file path or built-in name
    std::string out;       // file path, "-" for standard output
    std::optional<double> seconds;
    std::string layout;  // sensor model for scenarios without one; empty: B64
};

// Parses the command line (without the program name). On failure returns nothing and says
// why in error; help is set (and nothing returned) for --help.
std::optional<RenderRequest> ParseRenderArguments(const std::vector<std::string_view>& arguments,
                                                  bool& help, std::string& error);

// How long a render runs when no duration is given: up to the end marker, or one second past
// the last event so that its effect is in the file. Empty (with the reason) for a scenario
// that loops or has no events, where only the caller can say how long.
std::optional<double> DefaultRenderSeconds(const Scenario& scenario, std::string& error);

// The layout a scenario renders with: its own model, else the named one (B64 when empty).
// Empty (with the reason) for an unknown name or one that contradicts the scenario's model.
std::optional<SensorLayout> RenderLayout(const Scenario& scenario, std::string_view model,
                                         std::string& error);

// Writes the header (the simulated board's identity and descriptor) and every report of the
// frames at the scenario's rate from time 0 up to, not including, seconds. Frames while the
// board is unplugged are left out. Returns the number of reports written.
size_t RenderScenario(const Scenario& scenario, const SensorLayout& layout, double seconds,
                      std::ostream& out);

// The whole command: load, check, render, write. Returns the exit status (0, 1 on a failed
// render, 2 on a usage error); messages go to err.
int RunScenarioRecord(const std::vector<std::string_view>& arguments, std::ostream& out,
                      std::ostream& err);

}  // namespace kv::sim
