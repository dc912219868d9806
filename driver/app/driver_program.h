// The Driver process from start to exit: single instance, engine build, transport, connect,
// main loop, shutdown.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "driver/app/driver_options.h"
#include "driver/core/sensor_link.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"

namespace kv {

struct LinkChoice {
    std::unique_ptr<SensorLink> link;  // null exactly when error is set
    std::string error;                 // a scenario or recording that cannot be used
    // A simulated foil of a fixed model: the driver must read its frames with that layout.
    std::optional<SensorLayout> fixedLayout;
};

// The frame source the options ask for. The simulated board follows the registry's split
// settings and mux size when its scenario has no layout of its own.
LinkChoice MakeSensorLink(const DriverOptions& options, const Clock& clock, Registry& registry);

// Where the pointer output goes: for the note a Wayland session gets.
enum class PointerReach {
    Uinput,      // the uinput pointer: every window
    XTest,       // XTest, as uinput could not be used: X11 windows only
    XTestAsked,  // XTest, as --pointer=xtest asked: X11 windows only
    Nothing,     // no backend could be made
    Off,         // --pointer=none
};

// The note said once at start in a Wayland session (what XTest and the rotation query cannot
// do there, and where touches go); empty when waylandDisplay is empty.
std::string WaylandNote(const std::string& waylandDisplay, PointerReach reach);

// Runs the driver; returns the process exit status (0 after a stop request or the end of the
// --stop-with process, 254 when another Driver runs, 1 when the frame source or the pointer
// output cannot start, 2 when the --stop-with process does not exist). A port that is
// taken is said on stderr and the driver runs on while the transport retries the bind.
int RunDriver(const DriverOptions& options);

// The whole program: command line, then RunDriver.
int DriverMain(int argc, const char* const* argv);

}  // namespace kv
