#include "tests/support/fake_clock.h"

#include <numeric>

namespace kv::test {

void FakeClock::SleepMs(int ms) const {
    if (!forgetSleeps_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(ms);
    }
    if (!standStill_) {
        now_ += ms;
    }
    if (onSleep_) {
        onSleep_(ms);
    }
}

std::vector<int> FakeClock::Sleeps() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

int64_t FakeClock::Slept() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::accumulate(sleeps_.begin(), sleeps_.end(), int64_t{0});
}

}  // namespace kv::test
