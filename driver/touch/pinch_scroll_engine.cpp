// Selection 1: pinch to wheel notches.
#include "driver/touch/pinch_scroll_engine.h"

#include <algorithm>
#include <cmath>

namespace kv {

void PinchScrollEngine::AfterDecide() {
    wheel_ = 0.0f;
    const int32_t window = std::min(rate_ / 12, 128);
    // The last window frames of the ring, the current one included, whatever came between:
    // a frame without electrodes does not make two fingers that stay on the foil press.
    int32_t twoFingerFrames = 0;
    for (int32_t back = 0; back < window; ++back) {
        if (Back(0, back).peakCount > 1 || Back(1, back).peakCount > 1) {
            ++twoFingerFrames;
        }
    }
    // At least one two-finger frame is needed: at low frame rates the window rounds down to
    // a threshold of 0, which would report a finger on an empty foil.
    const int32_t holdThreshold = std::max(1, static_cast<int32_t>(window * 0.7f));
    const int32_t pinchThreshold = std::max(1, static_cast<int32_t>(window * 0.75f));
    if (twoFingerFrames >= holdThreshold) {
        if (!present_) {
            x_ = Current(0).position;
            y_ = Current(1).position;
        }
        present_ = true;
        pressed_ = false;  // two fingers never press
    }
    if (twoFingerFrames < pinchThreshold) {
        accumulator_ = 0.0f;
        previousSpacingX_ = 0.0f;
        previousSpacingY_ = 0.0f;
        return;
    }
    const AxisFrame& fx = Current(0);
    const AxisFrame& fy = Current(1);
    if (fx.peakCount != 2 && fy.peakCount != 2) {
        return;
    }
    x_ = fx.centre;
    y_ = fy.centre;
    if (previousSpacingX_ != 0.0f && fx.spacing != 0.0f) {
        accumulator_ += fx.spacing - previousSpacingX_;
    }
    if (previousSpacingY_ != 0.0f && fy.spacing != 0.0f) {
        accumulator_ += fy.spacing - previousSpacingY_;
    }
    previousSpacingX_ = fx.spacing;
    previousSpacingY_ = fy.spacing;
    if (std::fabs(accumulator_) > kNotchSpacing) {
        wheel_ = accumulator_ / kNotchSpacing;
        accumulator_ = 0.0f;
    }
}

}  // namespace kv
