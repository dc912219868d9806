// Real time base of the TUIO session.
#include "driver/tuio/tuio_clock.h"

#include <chrono>

namespace kv {

int64_t SteadyTuioClock::NowUs() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

const TuioClock& DefaultTuioClock() {
    static const SteadyTuioClock clock;
    return clock;
}

}  // namespace kv
