// The tests' clock: time stands still until a test moves it. A sleep moves it on by the time
// slept, is counted, and runs the test's hook, so that a test can change the world part-way
// through a wait. Safe to read from another thread while the test moves it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "common/clock.h"

namespace kv::test {

class FakeClock final : public Clock {
public:
    explicit FakeClock(int64_t startMs = 1'000'000) : now_(startMs) {}

    int64_t NowMs() const override { return now_.load(); }
    void SleepMs(int ms) const override;

    void Advance(int64_t ms) { now_ += ms; }
    void Set(int64_t ms) { now_ = ms; }
    // Sleeps leave the time where it is (a clock standing still for good).
    void StandStill() { standStill_ = true; }
    // Runs after every sleep, with the milliseconds slept; set it before the clock is shared.
    void OnSleep(std::function<void(int ms)> hook) { onSleep_ = std::move(hook); }
    // Sleeps are not kept (long runs: benchmarks and fuzzing); Sleeps() stays empty.
    void ForgetSleeps() { forgetSleeps_ = true; }

    // Every sleep, in order, and their sum.
    std::vector<int> Sleeps() const;
    int64_t Slept() const;

private:
    mutable std::atomic<int64_t> now_;
    bool standStill_ = false;
    bool forgetSleeps_ = false;
    std::function<void(int)> onSleep_;
    mutable std::mutex mutex_;
    mutable std::vector<int> sleeps_;
};

}  // namespace kv::test
