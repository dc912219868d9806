// Smoothing across the way of travel.
#include "driver/touch/stroke_smoother.h"

#include <cmath>

namespace kv {

void StrokeSmoother::Step(double& x, double& y) {
    const auto back = [&](int32_t frames) {
        return static_cast<size_t>((write_ - frames + 2 * (kSpan + 1)) % (kSpan + 1));
    };
    bool straight = false;
    double ux = 0.0;
    double uy = 0.0;
    if (count_ >= kSpan) {
        // The chord of the last kSpan frames and its two halves, on the filter's own places.
        const size_t oldest = back(kSpan);
        const size_t middle = back(kSpan / 2);
        const double cx = x - xs_[oldest];
        const double cy = y - ys_[oldest];
        const double length = std::hypot(cx, cy);
        const double ax = xs_[middle] - xs_[oldest];
        const double ay = ys_[middle] - ys_[oldest];
        const double bx = x - xs_[middle];
        const double by = y - ys_[middle];
        const double halves = std::hypot(ax, ay) * std::hypot(bx, by);
        if (length >= kTravel && halves > 0.0 && ax * bx + ay * by >= kStraight * halves) {
            straight = true;
            ux = cx / length;
            uy = cy / length;
        }
    }
    xs_[static_cast<size_t>(write_)] = x;
    ys_[static_cast<size_t>(write_)] = y;
    write_ = (write_ + 1) % (kSpan + 1);
    if (count_ <= kSpan) {
        ++count_;
    }
    if (straight) {
        // The step from the last output to the filter's place: along the way as it is, across
        // by kShare; what is left of it across is the offset from the filter's place.
        const double across = (x - outX_) * -uy + (y - outY_) * ux;
        offsetX_ = (1.0 - kShare) * across * uy;
        offsetY_ = -(1.0 - kShare) * across * ux;
    } else {
        offsetX_ *= 1.0 - kShare;
        offsetY_ *= 1.0 - kShare;
    }
    const double off = std::hypot(offsetX_, offsetY_);
    if (off > kReach) {
        offsetX_ *= kReach / off;
        offsetY_ *= kReach / off;
    }
    x += offsetX_;
    y += offsetY_;
    outX_ = x;
    outY_ = y;
}

}  // namespace kv
