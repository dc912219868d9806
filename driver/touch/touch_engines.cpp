// The touch engines and their pipelines, wired to the outputs.
#include "driver/touch/touch_engines.h"

namespace kv {

TouchEngines::TouchEngines(Registry& registry, const CalibrationModel& calibration,
                           const DisplayInfo& display, PointerInjector& injector,
                           ContactOutput& contacts, FingerPairOutput& tuio, TouchPath path)
    : context_{registry, calibration, display, injector},
      nativeTouch_(contacts),
      singlePipeline_(
          context_, PointerPipeline::Wiring{TouchMode::SingleTouch, true, nullptr, nullptr, path}),
      pinchPipeline_(context_,
                     PointerPipeline::Wiring{TouchMode::PinchScroll, true, nullptr, nullptr, path}),
      single_(singlePipeline_, 0),
      pinch_(pinchPipeline_),
      dualTuio_(context_, TouchMode::TwoFingerTuio, trackA_, trackB_, tuio, path),
      dualNative_(context_, TouchMode::TwoFingerNative, trackA_, trackB_, nativeTouch_, path) {}

void TouchEngines::SetGestureLimits(int32_t framesLastPeriod) {
    dualTuio_.SetGestureLimits(framesLastPeriod);  // the tracks are shared
}

void TouchEngines::SetTrackLimits(int32_t first, int32_t second) {
    trackA_.SetLimits(first, second);
    trackB_.SetLimits(first, second);
}

}  // namespace kv
