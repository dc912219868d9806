// The four touch engines of the driver, one per touch mode, with their pointer pipelines; the
// touch detector feeds the one of the mode in force.
#pragma once

#include <cstdint>

#include "driver/calibration/calibration_model.h"
#include "driver/core/contact_output.h"
#include "driver/core/display_info.h"
#include "driver/core/finger_pair_output.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/touch_engine.h"
#include "driver/core/touch_path.h"
#include "driver/touch/dual_touch_state.h"
#include "driver/touch/finger_track.h"
#include "driver/touch/native_touch_output.h"
#include "driver/touch/pinch_scroll_engine.h"
#include "driver/touch/single_touch_engine.h"
#include "protocol/registry.h"

namespace kv {

class TouchEngines final {
public:
    // Everything is borrowed and must outlive the engines. The object is large (the pipelines
    // keep their sample histories): allocate it on the heap.
    TouchEngines(Registry& registry, const CalibrationModel& calibration,
                 const DisplayInfo& display, PointerInjector& injector, ContactOutput& contacts,
                 FingerPairOutput& tuio, TouchPath path = TouchPath::Classic);
    TouchEngines(const TouchEngines&) = delete;
    TouchEngines& operator=(const TouchEngines&) = delete;

    // The engine of each touch mode, for the touch detector.
    TouchEngineSet Set() { return {&single_, &pinch_, &dualTuio_, &dualNative_}; }
    TouchEngine& For(TouchMode mode) { return *Set()[static_cast<size_t>(mode)]; }

    // The gesture timing of both two-finger machines (they share their tracks) from the
    // frames of the last two-second period.
    void SetGestureLimits(int32_t framesLastPeriod);
    // The same with the two limits worked out by the caller.
    void SetTrackLimits(int32_t first, int32_t second);

    const SingleTouchEngine& Single() const { return single_; }
    const PinchScrollEngine& Pinch() const { return pinch_; }
    const DualTouchState& DualTuio() const { return dualTuio_; }
    const DualTouchState& DualNative() const { return dualNative_; }
    const FingerTrack& TrackA() const { return trackA_; }
    const FingerTrack& TrackB() const { return trackB_; }

private:
    const OutputContext context_;
    NativeTouchOutput nativeTouch_;
    FingerTrack trackA_;
    FingerTrack trackB_;
    PointerPipeline singlePipeline_;
    PointerPipeline pinchPipeline_;
    SingleTouchEngine single_;
    PinchScrollEngine pinch_;
    DualTouchState dualTuio_;
    DualTouchState dualNative_;
};

}  // namespace kv
