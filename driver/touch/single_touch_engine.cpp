// Selection 0: hover and press of one finger.
#include "driver/touch/single_touch_engine.h"

#include <algorithm>
#include <cstdlib>

namespace kv {

namespace {

// Both frames have a peak and its electrode moved by at most maxStep.
bool Near(const AxisFrame& now, const AxisFrame& before, int32_t maxStep) {
    return now.index >= 0 && before.index >= 0 && std::abs(now.index - before.index) <= maxStep;
}

}  // namespace

const AxisFrame& SingleTouchEngine::Back(int32_t axis, int32_t back) const {
    const int32_t slot = ((frameIndex_ - back) % kFrames + kFrames) % kFrames;
    return rings_[static_cast<size_t>(axis)][static_cast<size_t>(slot)];
}

void SingleTouchEngine::Feed(const PeakCandidate& first, int32_t axis, int32_t count,
                             bool frameComplete, const PeakCandidate& second,
                             float releaseThreshold, float pressThreshold) {
    count = std::clamp(count, 0, kMaxElectrodes);
    if (count == 0) {
        fill_ = 0;
        present_ = false;
        pressed_ = false;
        return;
    }
    release_ = releaseThreshold;
    press_ = std::max(releaseThreshold, pressThreshold);
    lowRelease_ = 0.6f * release_;
    lowPress_ = 0.8f * press_;

    // Only X and Y have rings; a further axis would have nowhere to go.
    if (axis == 0 || axis == 1) {
        AxisFrame& f = rings_[static_cast<size_t>(axis)][static_cast<size_t>(frameIndex_)];
        const bool firstPresent = first.index >= 0;
        const bool secondPresent = second.index >= 0;
        f.count = count;
        f.axis = axis;
        f.frameComplete = frameComplete ? 1 : 0;
        f.index = first.index;
        f.amplitude = first.amplitude;
        f.position = first.position;
        f.aboveRelease = firstPresent && first.amplitude > release_;
        bool secondAbove = secondPresent && second.amplitude > release_;
        if (f.aboveRelease && second.amplitude < 0.45f * first.amplitude) {
            secondAbove = false;
        }
        f.belowLow = !firstPresent || first.amplitude < lowRelease_;
        f.abovePress = firstPresent && first.amplitude > press_;
        f.belowPressLow = !firstPresent || first.amplitude < lowPress_;
        f.peakCount = f.aboveRelease + (secondAbove ? 1 : 0);
        if (f.peakCount == 2) {
            f.spacing = std::abs(first.position - second.position);
            f.centre = (first.position + second.position) / 2.0f;
        } else {
            f.spacing = 0.0f;
            f.centre = first.position;
        }
    }
    if (!frameComplete) {
        return;
    }
    Decide();
    frameIndex_ = (frameIndex_ + 1) % kFrames;
    fill_ = std::min(fill_ + 1, kFrames);
    int32_t state = touch_state::kNone;
    if (present_) {
        state = pressed_ ? touch_state::kTouching : touch_state::kHover;
    }
    lastSample_ = PointerSample{state, x_, y_, wheel_, 0};
    pipeline_.Submit(lastSample_, engineId_, 0);
}

void SingleTouchEngine::Decide() {
    wheel_ = 0.0f;
    if (rate_ < kMinRate || fill_ < kMinFill) {
        present_ = false;
        pressed_ = false;
        return;
    }
    const AxisFrame& fx = Current(0);
    const AxisFrame& fy = Current(1);
    const AxisFrame& px = Previous(0);
    const AxisFrame& py = Previous(1);
    // A peak that jumps by more than a quarter of the foil is noise or a second finger.
    const bool nearX = Near(fx, px, fx.count / 4);
    const bool nearY = Near(fy, py, fy.count / 4);
    present_ = fx.aboveRelease && fy.aboveRelease && nearX && nearY;
    // The position follows the finger only while it is present: the frame after a lift
    // reports where the finger left (the place of the lift click of mode 3, and of the
    // trace), not the position of whatever noise peak remains.
    if (present_) {
        x_ = fx.position;
        y_ = fy.position;
    }
    const bool steadyX = Near(fx, px, 1);
    const bool steadyY = Near(fy, py, 1);
    if (pressed_) {
        if (fx.belowPressLow || fy.belowPressLow) {
            pressed_ = false;
        }
    } else if (fx.abovePress && fy.abovePress && steadyX && steadyY) {
        pressed_ = true;
    }
    AfterDecide();
}

}  // namespace kv
