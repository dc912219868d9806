// Steady-clock implementation of the driver's time base.
#include "driver/runtime/driver_clock.h"

#include <chrono>
#include <thread>

namespace kv {

int64_t DriverClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void DriverClock::SleepMs(int ms) const {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

}  // namespace kv
