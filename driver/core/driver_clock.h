// The driver's millisecond time base for the main loop, the pointer output and the transport.
#pragma once

#include "common/clock.h"

namespace kv {

// Monotonic milliseconds: stepping the wall clock or crossing midnight changes nothing, so
// the two-second task and the liveness rule never stall or fire early. The steady clock both
// programs share already is exactly that.
using DriverClock = SteadyClock;

}  // namespace kv
