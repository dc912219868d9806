// The calibration dialog's step machine.
#include "controller/models/calibration_steps.h"

#include <algorithm>
#include <cmath>

namespace kv::controller {

namespace {

int Percent(float fraction) {
    const float clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0f, 1.0f) : 0.0f;
    return static_cast<int>(std::lround(clamped * 100.0f));
}

}  // namespace

CalibrationSteps::CalibrationSteps(Registry& registry, int screenWidth, int screenHeight)
    : registry_(registry), width_(screenWidth), height_(screenHeight) {
    const CalibrationState& state = registry_.calibState;
    regionMode_ = state.exclude_edge_flag;
    region_ = {Percent(state.exclude_edge_left), Percent(state.exclude_edge_top),
               Percent(state.exclude_edge_right), Percent(state.exclude_edge_bottom)};
    published_ = region_;
    initial_ = region_;
    // Whole percent as such; a single-precision 0.2 is not quite a fifth of the screen.
    const auto exact = [](float fraction, int percent) {
        const double whole = percent / 100.0;
        if (!std::isfinite(fraction) || std::fabs(fraction - whole) < 1e-6) {
            return whole;
        }
        return std::clamp(static_cast<double>(fraction), 0.0, 1.0);
    };
    initialExact_ = {exact(state.exclude_edge_left, region_.left),
                     exact(state.exclude_edge_top, region_.top),
                     exact(state.exclude_edge_right, region_.right),
                     exact(state.exclude_edge_bottom, region_.bottom)};
    // Until the driver says otherwise, a capture starts at the top-left corner.
    registry_.calibRefTL.RefFlag0 = true;
    registry_.calibRefTR.RefFlag0 = false;
    registry_.calibRefBL.RefFlag0 = false;
}

void CalibrationSteps::SetScreenSize(int width, int height) {
    width_ = width;
    height_ = height;
}

bool CalibrationSteps::Tick() {
    if (!running_) {
        return false;
    }
    // Consistent first, so the driver never sees a region with left past right.
    KeepRegionConsistent();
    PublishRegionIfChanged();
    if (registry_.calibDoComplete.ConsumeAcknowledged()) {
        step_ = kCompleted;
    }
    target_ = {};
    if (advanced_) {
        // No capture may run while the region is being edited: its corners would belong to
        // the region being replaced.
        registry_.calibDoStop.RaiseAcknowledged();
        return true;
    }
    Advance();
    return true;
}

void CalibrationSteps::Advance() {
    switch (step_) {
        case kRequest:
            // While the driver is capturing it ignores this and the dialog simply moves on to
            // the corner the driver now wants.
            registry_.calibDoStart.RaiseAcknowledged();
            step_ = kAwaitCapture;
            break;
        case kAwaitCapture:
            if (registry_.calibState.Active) {
                step_ = kPickCorner;
            }
            break;
        case kPickCorner:
            if (registry_.calibRefTL.RefFlag0) {
                step_ = kTopLeft;
            } else if (registry_.calibRefTR.RefFlag0) {
                // Once a corner is taken the region can no longer change under the capture.
                advancedEnabled_ = false;
                step_ = kTopRight;
            } else if (registry_.calibRefBL.RefFlag0) {
                advancedEnabled_ = false;
                step_ = kBottomLeft;
            } else {
                step_ = kFinished;
            }
            break;
        case kTopLeft:
            ShowCorner(Corner::TopLeft, registry_.calibRefTL);
            break;
        case kTopRight:
            ShowCorner(Corner::TopRight, registry_.calibRefTR);
            break;
        case kBottomLeft:
            ShowCorner(Corner::BottomLeft, registry_.calibRefBL);
            break;
        case kCompleted:
            completed_ = true;
            hintShown_ = false;
            running_ = false;
            break;
        case kFinished:
        default:
            running_ = false;
            break;
    }
}

void CalibrationSteps::ShowCorner(Corner corner, const CalibrationData& ref) {
    if (!ref.RefFlag0) {
        // The driver has taken this corner and moved on: ask again, which leads through the
        // capturing check to the next active corner.
        step_ = kRequest;
        return;
    }
    const PixelRect area = TargetArea();
    const double dx = 0.1 * (area.right - area.left);
    const double dy = 0.1 * (area.bottom - area.top);
    target_.corner = corner;
    target_.progress = ref.RefValue;
    target_.x = corner == Corner::TopRight ? area.right - dx : area.left + dx;
    target_.y = corner == Corner::BottomLeft ? area.bottom - dy : area.top + dy;
    hintShown_ = true;
}

void CalibrationSteps::PressAdvanced() {
    if (!advanced_) {
        if (advancedEnabled_) {
            advanced_ = true;
        }
        return;
    }
    regionMode_ = (regionMode_ + 1) % 3;
    registry_.calibState.exclude_edge_flag = regionMode_;
    registry_.calibState.Publish();
    registry_.storeDoSave.RaiseCounted();
}

void CalibrationSteps::PressCancel() {
    if (advanced_) {
        advanced_ = false;
        registry_.storeDoSave.RaiseCounted();
        return;
    }
    hintShown_ = false;
    // The driver puts back the calibration in force before the dialog opened.
    registry_.calibDoStop.RaiseAcknowledged();
    running_ = false;
}

void CalibrationSteps::KeepRegionConsistent() {
    RegionPercent& r = region_;
    r.left = std::clamp(r.left, 0, 100);
    r.top = std::clamp(r.top, 0, 100);
    r.right = std::clamp(r.right, 0, 100);
    r.bottom = std::clamp(r.bottom, 0, 100);
    if (r.left > r.right - kRegionMinimumGap) {
        r.left = r.right - kRegionMinimumGap;
        if (r.left < 0) {
            r.left = 0;
            r.right = kRegionMinimumGap;
        }
    }
    if (r.top > r.bottom - kRegionMinimumGap) {
        r.top = r.bottom - kRegionMinimumGap;
        if (r.top < 0) {
            r.top = 0;
            r.bottom = kRegionMinimumGap;
        }
    }
}

void CalibrationSteps::PublishRegionIfChanged() {
    if (region_ == published_) {
        return;
    }
    CalibrationState& state = registry_.calibState;
    state.exclude_edge_left = static_cast<float>(region_.left) / 100.0f;
    state.exclude_edge_top = static_cast<float>(region_.top) / 100.0f;
    state.exclude_edge_right = static_cast<float>(region_.right) / 100.0f;
    state.exclude_edge_bottom = static_cast<float>(region_.bottom) / 100.0f;
    state.Publish();
    published_ = region_;
}

PixelRect CalibrationSteps::RegionPixels() const {
    if (region_ == initial_) {
        const PixelRect& r = initialExact_;
        return {width_ * r.left, height_ * r.top, width_ * r.right, height_ * r.bottom};
    }
    return {width_ * region_.left / 100.0, height_ * region_.top / 100.0,
            width_ * region_.right / 100.0, height_ * region_.bottom / 100.0};
}

PixelRect CalibrationSteps::TargetArea() const {
    if (regionMode_ == 0) {
        return {0.0, 0.0, static_cast<double>(width_), static_cast<double>(height_)};
    }
    return RegionPixels();
}

}  // namespace kv::controller
