// The Driver process from start to exit: single instance, engine build, transport, connect,
// main loop, shutdown.
#pragma once

#include <memory>

#include "driver/runtime/driver_options.h"
#include "driver/runtime/sensor_link.h"
#include "messaging/clock.h"

namespace kv {

// The frame source the options ask for.
std::unique_ptr<SensorLink> MakeSensorLink(const DriverOptions& options, const Clock& clock);

// Runs the driver; returns the process exit status (0 after a stop request, 254 when another
// Driver runs, 1 when the transport cannot start).
int RunDriver(const DriverOptions& options);

// The whole program: command line, then RunDriver.
int DriverMain(int argc, const char* const* argv);

}  // namespace kv
