// The auto adaption steps.
#include "controller/models/auto_adaption.h"

#include <algorithm>

namespace kv::controller {

void AutoAdaption::Start(int32_t sensitivityBefore, int32_t thresholdBefore) {
    if (Running()) {
        return;
    }
    sensitivityBefore_ = sensitivityBefore;
    thresholdBefore_ = thresholdBefore;
    sensitivity_ = kAdaptionStartSensitivity;
    attempts_ = 0;
    SetProgress(0);
    BeginAttempt();
}

void AutoAdaption::BeginAttempt() {
    tried_ = sensitivity_;
    hooks_.sendSense(sensitivity_, kAdaptionThreshold);
    samples_ = 0;
    maximum_ = 0.0f;
    state_ = State::Settling;
    hooks_.schedule(kAdaptionSettleMs);
}

void AutoAdaption::Cancel() {
    if (state_ != State::Settling && state_ != State::Sampling) {
        return;
    }
    // Nothing of the search was saved; the driver gets back what it had.
    hooks_.sendSense(sensitivityBefore_, thresholdBefore_);
    Finish(Result::Cancelled);
}

void AutoAdaption::Tick() {
    switch (state_) {
        case State::Idle:
            return;
        case State::Settling:
            state_ = State::Sampling;
            [[fallthrough]];
        case State::Sampling: {
            maximum_ = std::max(maximum_, hooks_.level());
            ++samples_;
            if (samples_ % 2 == 0) {
                SetProgress(progress_ + 1);
            }
            if (samples_ < kAdaptionSamples) {
                hooks_.schedule(kAdaptionSampleGapMs);
            } else {
                Evaluate();
            }
            return;
        }
        case State::Enabling:
            SetProgress(98);
            Finish(Result::Success);
            return;
    }
}

void AutoAdaption::Evaluate() {
    ++attempts_;
    const float m = maximum_;
    const auto threshold = static_cast<float>(kAdaptionThreshold);
    if (m < threshold && 1.5f * m > threshold) {
        SetProgress(80);
        hooks_.save();
        // The calibration dialog runs to its end here; the event loop keeps running inside it.
        const bool calibrated = hooks_.calibrate && hooks_.calibrate();
        if (!calibrated) {
            Finish(Result::Failure);
            return;
        }
        SetProgress(95);
        hooks_.enableOutput();
        progress_ = 98;
        state_ = State::Enabling;
        hooks_.schedule(kAdaptionEnableMs);
        return;
    }
    if (m > threshold) {
        --sensitivity_;
    } else if (1.5f * m < threshold) {
        ++sensitivity_;
    }
    if (attempts_ >= kAdaptionAttempts || sensitivity_ < kAdaptionMinSensitivity ||
        sensitivity_ > kAdaptionMaxSensitivity) {
        Finish(Result::Failure);
        return;
    }
    BeginAttempt();
}

void AutoAdaption::Finish(Result result) {
    state_ = State::Idle;
    SetProgress(100);
    hooks_.finished(result);
}

void AutoAdaption::SetProgress(int percent) {
    progress_ = percent;
    hooks_.progress(percent);
}

}  // namespace kv::controller
