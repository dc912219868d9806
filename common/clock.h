// Millisecond time base with sleeping, injected so that tests can run minutes in microseconds.
#pragma once

#include <cstdint>

namespace kv {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale; only differences carry meaning.
    virtual int64_t NowMs() const = 0;
    virtual void SleepMs(int ms) const = 0;
};

// The real clock: std::chrono::steady_clock, so stepping the wall clock changes nothing.
class SteadyClock final : public Clock {
public:
    int64_t NowMs() const override;
    void SleepMs(int ms) const override;
};

// The process's real clock.
const Clock& DefaultClock();

}  // namespace kv
