// The speed-adaptive low-pass filter.
#include "driver/touch/one_euro_filter.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {
constexpr double kPi = 3.14159265358979323846;
double Square(double v) {
    return v * v;
}
}  // namespace

double OneEuroFilter::Alpha(double cutoffHz, double dt) {
    const double tau = 1.0 / (2.0 * kPi * cutoffHz);
    return 1.0 / (1.0 + tau / dt);
}

bool OneEuroFilter::FarFromFirst(double value) const {
    const double reach =
        std::max(kLandingReach * kLandingReach, kLandingJump * kLandingJump * noise_);
    return started_ && taken_ == 1 && Square(value - value_) > reach;
}

double OneEuroFilter::Filter(double value, double dt) {
    taken_ = std::min(taken_ + 1, 2);
    if (!started_ || !(dt > 0.0)) {
        started_ = true;
        value_ = value;
        speed_ = 0.0;
        samples_ = 1;
        last_ = value;
        history_ = 0;
        seconds_ = 0;
        return value_;
    }
    if (history_ >= 1) {
        const double second = value - 2.0 * last_ + before_;
        // A touch's first second differences are averaged with what the last touches left.
        seconds_ = std::min(seconds_ + 1, kNoiseOwn + 1);
        const double rate = seconds_ <= kNoiseOwn ? 1.0 / (seconds_ + 1) : kNoiseRate;
        noise_ += rate * (second * second / 6.0 - noise_);
    }
    before_ = last_;
    last_ = value;
    history_ = std::min(history_ + 1, 2);
    const double rawSpeed = (value - value_) / dt;
    const double speedAlpha = Alpha(tuning_.speedCutoffHz, dt);
    speed_ += speedAlpha * (rawSpeed - speed_);
    // At rest the speed estimate is the smoothed difference between the sample and the output,
    // which the input's noise alone keeps at about this deviation; the cutoff opens only for a
    // speed beyond that, or the placement's noise would open it on a resting finger (the more,
    // the noisier the foil).
    const double noiseSpeed = std::sqrt(speedAlpha / (2.0 - speedAlpha) * noise_) / dt;
    const double speed = std::max(0.0, std::fabs(speed_) - kNoiseDeviations * noiseSpeed);
    const double cutoff = tuning_.minCutoffHz + tuning_.speedCoefficient * speed;
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
