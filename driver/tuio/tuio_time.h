// Session time of the TUIO server: whole seconds and microseconds since the session started.
#pragma once

#include <cstdint>

namespace TUIO {

class TuioTime {
public:
    TuioTime() = default;
    TuioTime(int64_t seconds, int64_t microseconds)
        : seconds_(seconds + microseconds / kMicroPerSecond),
          micro_(microseconds % kMicroPerSecond) {
        if (micro_ < 0) {
            micro_ += kMicroPerSecond;
            --seconds_;
        }
    }
    static TuioTime FromMicroseconds(int64_t us) { return TuioTime(0, us); }
    static TuioTime FromMilliseconds(int64_t ms) { return TuioTime(0, ms * 1000); }

    int64_t Seconds() const { return seconds_; }
    int64_t Microseconds() const { return micro_; }
    int64_t TotalMicroseconds() const { return seconds_ * kMicroPerSecond + micro_; }

    friend TuioTime operator-(const TuioTime& a, const TuioTime& b) {
        return TuioTime(a.seconds_ - b.seconds_, a.micro_ - b.micro_);
    }
    friend bool operator==(const TuioTime&, const TuioTime&) = default;

private:
    static constexpr int64_t kMicroPerSecond = 1'000'000;
    int64_t seconds_ = 0;
    int64_t micro_ = 0;  // 0 .. 999999
};

}  // namespace TUIO
