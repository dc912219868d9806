// Real time base for both programs.
#include "common/clock.h"

#include <chrono>
#include <thread>

namespace kv {

int64_t SteadyClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyClock::SleepMs(int ms) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const Clock& DefaultClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace kv
