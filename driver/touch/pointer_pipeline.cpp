// The per-finger output chain.
#include "driver/touch/pointer_pipeline.h"

#include <algorithm>
#include <cmath>

#include "driver/core/unit_range.h"

namespace kv {

void HoldDetector::Step(PointerSample& sample) {
    // A float product, as the setting is a float (see the damping count).
    holdLimit = TruncSaturated(holdPeriods * static_cast<float>(rate));
    if (sample.state < 2) {
        count = 0;
        ready = true;
        anchor = PointerSample{0, 0.5f, 0.5f, 0.0f, 0};
        return;
    }
    if (ready) {
        ready = false;
        armed = true;
        anchor = sample;
    }
    if (armed && std::fabs(anchor.x - sample.x) < range && std::fabs(anchor.y - sample.y) < range) {
        ++count;
    } else {
        // Once the finger has slid away the hold cannot fire until it lifts.
        armed = false;
        count = 0;
    }
    if (count > holdLimit) {
        armed = false;
        count = 0;
        sample.rightClick = 1;
    }
}

PointerPipeline::PointerPipeline(const OutputContext& context, const Wiring& wiring)
    : context_(context),
      wiring_(wiring),
      device_(context.injector, context.display, context.registry.outputState,
              context.registry.monitorQueue),
      // No defaults exist for these two copies; the settings in force are the safe start.
      enabled_(context.registry.outputState.Enable) {
    filter_.mode = ClickModeOf(context.registry.outputState.Mode);
    // Until the first refresh a pipeline behaves as its own engine's selection, so a
    // two-finger pipeline can never drive the desktop pointer.
    filter_.selection = wiring.mode;
    output_ = PointerSample{0, 0.5f, 0.5f, 0.0f, 0};
}

void PointerPipeline::Refresh() {
    Registry& registry = context_.registry;
    rate_ = registry.commsActStatus.FramesLastPeriod;
    dampRange_ = registry.mouseDamp.DampRange;
    // A float product, as the setting is a float: in double, 50 x 0.7f comes out just under
    // 35 and one frame of damping would be lost.
    const float dampFrames = static_cast<float>(rate_) * registry.mouseDamp.DampPeriod;
    dampCount_ = TruncSaturated(dampFrames);
    hold_.holdPeriods = registry.mouseDamp.RightClickPeriod;
    hold_.rate = rate_;
    hold_.range = registry.mouseDamp.RightClickRange;
    edge_ = EdgeStretch::FromSettings(registry.edgeState);
    exclusion_ = ExclusionSettings::FromSettings(registry.calibState);
    currentOrientation_ = CalibrationModel::FoilOrientation(context_.display, registry.calibState);
    calibrationOrientation_ = registry.calibState.Angle;
    enabled_ = registry.outputState.Enable;
    filter_.mode = ClickModeOf(registry.outputState.Mode);
    filter_.selection = TouchModeOf(registry.outputState.Selection);
    device_.RefreshAll();
}

PointerSample PointerPipeline::Damp(const PointerSample& raw) {
    if (rate_ <= 8) {
        return raw;
    }
    int32_t n = dampCount_;
    if (n <= 0) {
        n = 1;
    }
    if (n > historyFill_) {
        n = historyFill_;
        dampCount_ = n;
    }
    float sumX = 0.0f;
    float sumY = 0.0f;
    int32_t taken = 0;
    int32_t index = historyWrite_;
    for (int32_t i = 0; i < n; ++i) {
        const PointerSample& entry = history_[static_cast<size_t>(index)];
        if (entry.state == 0 || std::fabs(entry.x - raw.x) > dampRange_ ||
            std::fabs(entry.y - raw.y) > dampRange_) {
            break;
        }
        sumX += entry.x;
        sumY += entry.y;
        ++taken;
        index = (index + kHistory - 1) % kHistory;
    }
    if (taken == 0) {
        return raw;
    }
    PointerSample damped = raw;
    damped.x = sumX / static_cast<float>(taken);
    damped.y = sumY / static_cast<float>(taken);
    return damped;
}

void PointerPipeline::Smooth(const PointerSample& damped) {
    recent_[static_cast<size_t>(recentWrite_)] = damped;
    recentWrite_ = (recentWrite_ + 1) % kRecent;
    // The entry written one call earlier sits one step after the next write position.
    recentRead_ = (recentWrite_ + 1) % kRecent;
    if (recentCount_ < kRecent) {
        output_ = PointerSample{0, 0.5f, 0.5f, 0.0f, 0};
        ++recentCount_;
        return;
    }
    const PointerSample& read = recent_[static_cast<size_t>(recentRead_)];
    const bool allTouching = std::all_of(recent_.begin(), recent_.end(),
                                         [](const PointerSample& s) { return s.state == 2; });
    if (allTouching) {
        output_.state = 2;
        output_.x = (recent_[0].x + recent_[1].x + recent_[2].x) / 3.0f;
        output_.y = (recent_[0].y + recent_[1].y + recent_[2].y) / 3.0f;
    } else {
        output_.state = read.state;
        output_.x = read.x;
        output_.y = read.y;
    }
    output_.wheel = read.wheel;
    output_.rightClick = read.rightClick;
}

void PointerPipeline::Follow(const PointerSample& sample) {
    // The frame period from the frames of the last two-second period; 100 fps until known.
    const double dt = rate_ > 8 ? 2.0 / rate_ : 0.01;
    if (sample.state == touch_state::kNone) {
        followX_.Reset();
        followY_.Reset();
        stroke_.Reset();
        output_ = sample;
        return;
    }
    if (followX_.FarFromFirst(sample.x) || followY_.FarFromFirst(sample.y)) {
        // The touch's first frame was placed off on one axis, so on both: it is dropped.
        followX_.Restart();
        followY_.Restart();
        stroke_.Reset();
    }
    output_ = sample;
    double x = followX_.Filter(sample.x, dt);
    double y = followY_.Filter(sample.y, dt);
    stroke_.Step(x, y);
    output_.x = static_cast<float>(x);
    output_.y = static_cast<float>(y);
}

void PointerPipeline::Map() {
    NormalPoint p = context_.calibration.MapPoint(NormalPoint{output_.x, output_.y});
    p = CalibrationModel::StretchEdges(p, edge_);
    if (wiring_.rotate) {
        p = CalibrationModel::Rotate(
            p, CalibrationModel::RotationTurns(currentOrientation_, calibrationOrientation_));
    }
    const bool excluded = CalibrationModel::Exclude(p, exclusion_);
    mapped_ = output_;
    mapped_.x = p.x;
    mapped_.y = p.y;
    visibleState_ = excluded ? 0 : output_.state;
}

void PointerPipeline::Submit(const PointerSample& sample, int32_t engineId, int32_t channel) {
    if (wiring_.path == TouchPath::Precise) {
        Follow(sample);
    } else {
        history_[static_cast<size_t>(historyWrite_)] = sample;
        const PointerSample damped = Damp(sample);
        historyWrite_ = (historyWrite_ + 1) % kHistory;
        historyFill_ = std::min(historyFill_ + 1, kHistory);
        Smooth(damped);
        output_.palm = sample.palm;
    }
    Map();

    // From here on the state is the one after exclusion: an excluded touch releases.
    PointerSample visible = mapped_;
    visible.state = visibleState_;
    if (channel == 0) {
        published_ = visible;
        hold_.Step(visible);
        filter_.engineId = engineId;
        filter_.Step(visible, [this](const PointerSample& emitted) { Emit(emitted); });
        return;
    }
    if (enabled_ && wiring_.pairOutput != nullptr && wiring_.primary != nullptr) {
        wiring_.pairOutput->SendPair(wiring_.primary->Published(), visible);
    }
}

void PointerPipeline::Emit(const PointerSample& sample) {
    PointerReport& report = filter_.report;
    report = PointerReport{};
    report.engineId = filter_.engineId;
    report.deviceIndex = 1;
    report.wheel = sample.wheel;
    report.rightClick = sample.rightClick;
    report.primaryState = sample.state;
    report.primaryStateAgain = sample.state;
    report.primaryX = sample.x;
    report.primaryY = sample.y;
    device_.HandOff(report, filter_.selection && DrivesPointer(*filter_.selection));
}

}  // namespace kv
