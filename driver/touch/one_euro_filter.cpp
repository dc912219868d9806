// The speed-adaptive low-pass filter.
#include "driver/touch/one_euro_filter.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

double OneEuroFilter::Alpha(double cutoffHz, double dt) {
    const double tau = 1.0 / (2.0 * kPi * cutoffHz);
    return 1.0 / (1.0 + tau / dt);
}

double OneEuroFilter::Filter(double value, double dt) {
    if (!started_ || !(dt > 0.0)) {
        started_ = true;
        value_ = value;
        speed_ = 0.0;
        samples_ = 1;
        return value_;
    }
    const double rawSpeed = (value - value_) / dt;
    speed_ += Alpha(tuning_.speedCutoffHz, dt) * (rawSpeed - speed_);
    const double cutoff = tuning_.minCutoffHz + tuning_.speedCoefficient * std::fabs(speed_);
    // Just after landing the filter has one or two samples to go on: it averages them rather
    // than holding on to the first, whose noise would otherwise take a dozen frames to fade.
    double alpha = Alpha(cutoff, dt);
    if (samples_ < kWarmUp) {
        ++samples_;
        alpha = std::max(alpha, 1.0 / samples_);
    }
    value_ += alpha * (value - value_);
    return value_;
}

}  // namespace kv
