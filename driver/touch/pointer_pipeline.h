// The per-finger output chain: history and damping, the three-entry smoothing ring, the
// mapping onto the screen, press-and-hold right click, the click modes and the hand-off to
// the pointer device (channel 0) or to the two-finger senders (channel 1).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "driver/calibration/calibration_model.h"
#include "driver/core/display_info.h"
#include "driver/core/finger_pair_output.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/pointer_sample.h"
#include "driver/core/touch_path.h"
#include "driver/touch/mouse_device.h"
#include "driver/touch/one_euro_filter.h"
#include "driver/touch/stroke_smoother.h"
#include "protocol/registry.h"
#include "protocol/touch_modes.h"

namespace kv {

// What every pipeline borrows from the driver.
struct OutputContext {
    Registry& registry;
    const CalibrationModel& calibration;
    const DisplayInfo& display;
    PointerInjector& injector;
};

// Press-and-hold: a touch that stays within range of where it landed for more than
// holdLimit frames issues one right click. The hold time is holdPeriods two-second periods
// of frames, not truncated, so that 0.5 gives the one-second long press touch users expect
// while whole values keep their meaning.
class HoldDetector {
public:
    // Marks sample.rightClick when the hold fires. touching: state after exclusion >= 2.
    void Step(PointerSample& sample);

    float holdPeriods = 2.0f;
    int32_t rate = 50;
    int32_t holdLimit = 100;
    float range = 0.07f;
    PointerSample anchor{0, 0.5f, 0.5f, 0.0f, 0};
    int32_t count = 0;
    bool ready = true;
    bool armed = false;
};

// Shapes button behaviour by Output_State_Mode; each emitted sample becomes one report.
class ClickFilter {
public:
    // Emit receives each sample the mode produces, in order.
    template <class Emit>
    void Step(const PointerSample& sample, Emit&& emit);

    ClickMode mode = ClickMode::Drag;
    std::optional<TouchMode> selection = TouchMode::SingleTouch;
    int32_t engineId = 0;
    PointerSample pending;
    PointerSample emitted;
    int32_t previousState = 0;
    PointerReport report;
};

class PointerPipeline {
public:
    static constexpr int32_t kHistory = 256;
    static constexpr int32_t kRecent = 3;

    struct Wiring {
        TouchMode mode = TouchMode::SingleTouch;   // the engine this pipeline belongs to
        bool rotate = true;                        // the virtual-touch engine skips rotation
        const PointerPipeline* primary = nullptr;  // channel 1: the channel 0 pipeline
        FingerPairOutput* pairOutput = nullptr;    // channel 1: where both fingers go
        // Precise: a speed-adaptive filter smooths the finger instead of the damping and the
        // three-sample ring, which trail a moving finger by a fixed range.
        TouchPath path = TouchPath::Classic;
    };

    PointerPipeline(const OutputContext& context, const Wiring& wiring);
    PointerPipeline(const PointerPipeline&) = delete;
    PointerPipeline& operator=(const PointerPipeline&) = delete;

    // One finger per completed frame. channel 0 drives the pointer; channel 1 is the second
    // finger of the two-finger engines.
    void Submit(const PointerSample& sample, int32_t engineId, int32_t channel);
    // Copies the output settings and the frame rate; refreshes every device slot.
    void Refresh();

    // The mapped primary finger of the last channel 0 submit (state after exclusion).
    const PointerSample& Published() const { return published_; }
    const PointerSample& Output() const { return output_; }
    int32_t Rate() const { return rate_; }
    int32_t DampCount() const { return dampCount_; }
    const HoldDetector& Hold() const { return hold_; }
    const MouseDevice& Device() const { return device_; }

private:
    PointerSample Damp(const PointerSample& raw);
    void Smooth(const PointerSample& damped);
    // The precise path's smoothing: output_ from the sample through the speed-adaptive filter.
    void Follow(const PointerSample& sample);
    void Map();
    void Emit(const PointerSample& sample);

    const OutputContext context_;
    const Wiring wiring_;

    PointerSample output_;
    std::array<PointerSample, kRecent> recent_{};
    std::array<PointerSample, kHistory> history_{};
    int32_t recentCount_ = 0;
    int32_t recentWrite_ = 0;
    int32_t recentRead_ = 0;
    int32_t historyWrite_ = 0;
    int32_t historyFill_ = 0;
    OneEuroFilter followX_;
    OneEuroFilter followY_;
    StrokeSmoother stroke_;
    HoldDetector hold_;
    ClickFilter filter_;
    MouseDevice device_;
    bool enabled_;
    int32_t rate_ = 50;
    float dampRange_ = 0.02f;
    int32_t dampCount_ = 5;
    // The sample after mapping; visibleState is the state that exclusion may clear.
    PointerSample mapped_;
    int32_t visibleState_ = 0;
    EdgeStretch edge_;
    int32_t currentOrientation_ = 0;
    int32_t calibrationOrientation_ = 0;
    ExclusionSettings exclusion_;
    PointerSample published_;
};

template <class Emit>
void ClickFilter::Step(const PointerSample& sample, Emit&& emit) {
    pending = sample;
    const int32_t h = sample.state;
    auto emitWith = [&](const PointerSample& base, int32_t state) {
        emitted = base;
        emitted.state = state;
        emit(emitted);
    };
    auto capped = [](int32_t state) { return state < 1 ? state : 1; };
    switch (mode) {
        case ClickMode::MoveOnly:
            emitWith(pending, capped(h));
            previousState = emitted.state;
            return;
        case ClickMode::ClickOnLanding:
        case ClickMode::ClickOnLift: {
            // One whole click as the press lands, or as it ends; moves in between.
            const bool landing = previousState != 2 && h == 2;
            const bool lifting = previousState == 2 && h != 2;
            if (mode == ClickMode::ClickOnLanding ? landing : lifting) {
                emitWith(pending, 1);
                emitWith(pending, 2);
                emitWith(pending, 1);
            } else {
                emitWith(pending, capped(h));
            }
            break;
        }
        case ClickMode::Drag:
            emitWith(pending, h);
            break;
        case ClickMode::HoldWhereLanded:
            if (previousState != 2 && h == 2) {
                emitWith(pending, 1);
                emitWith(pending, 2);
            } else if (previousState != 2) {
                emitWith(pending, h);
            } else if (h == 2) {
                // The pointer stays where the finger landed.
                const PointerSample last = emitted;
                emitWith(last, last.state);
            } else {
                // Release where it was pressed, then follow the finger again.
                const PointerSample last = emitted;
                emitWith(last, 1);
                emitWith(pending, h);
            }
            break;
        case ClickMode::Off:
            emitWith(pending, 0);
            previousState = emitted.state;
            return;
    }
    previousState = h;
}

}  // namespace kv
