// Microsecond time base of the TUIO session, injected so that tests choose every frame time.
// The driver's millisecond clock is too coarse here: speeds derived over a few milliseconds
// would jump by whole milliseconds of error, and a first frame would share the session start.
#pragma once

#include <cstdint>

namespace kv {

class TuioClock {
public:
    virtual ~TuioClock() = default;
    // Microseconds on a monotonic scale; only differences carry meaning.
    virtual int64_t NowUs() const = 0;
};

// std::chrono::steady_clock, so stepping the wall clock leaves the session time alone.
class SteadyTuioClock final : public TuioClock {
public:
    int64_t NowUs() const override;
};

// The process's real TUIO clock.
const TuioClock& DefaultTuioClock();

}  // namespace kv
