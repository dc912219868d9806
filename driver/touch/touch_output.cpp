// The touch output: engines, pipelines and their periodic refresh.
#include "driver/touch/touch_output.h"

namespace kv {

TouchOutput::TouchOutput(Registry& registry, const CalibrationModel& calibration,
                         const DisplayInfo& display, PointerInjector& injector,
                         ContactOutput& contacts, TuioSink& tuio)
    : registry_(registry),
      context_{registry, calibration, display, injector},
      tuioHandOff_(tuio),
      virtualTouch_(contacts),
      singlePipeline_(context_, PointerPipeline::Wiring{0, true, nullptr, nullptr}),
      pinchPipeline_(context_, PointerPipeline::Wiring{1, true, nullptr, nullptr}),
      single_(singlePipeline_, 0),
      pinch_(pinchPipeline_),
      dualTuio_(context_, 2, trackA_, trackB_, tuioHandOff_),
      dualNative_(context_, 3, trackA_, trackB_, virtualTouch_) {}

void TouchOutput::SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count,
                              bool frameComplete, const PeakCandidate& second,
                              float releaseThreshold, float pressThreshold) {
    single_.Feed(first, axis, count, frameComplete, second, releaseThreshold, pressThreshold);
}

void TouchOutput::PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count,
                              bool frameComplete, const PeakCandidate& second,
                              float releaseThreshold, float pressThreshold) {
    pinch_.Feed(first, axis, count, frameComplete, second, releaseThreshold, pressThreshold);
}

void TouchOutput::DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second,
                                bool frameComplete, float threshold) {
    dualTuio_.Feed(first, second, frameComplete, threshold);
}

void TouchOutput::DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                                  bool frameComplete, float threshold) {
    dualNative_.Feed(first, second, frameComplete, threshold);
}

void TouchOutput::PeriodicStep(int32_t selection) {
    const int32_t frames = registry_.commsActStatus.FramesLastPeriod;
    switch (selection) {
        case 0:
            single_.SetRate(frames);
            singlePipeline_.Refresh();
            break;
        case 1:
            pinch_.SetRate(frames);
            pinchPipeline_.Refresh();
            break;
        case 2:
            SetGestureLimits(frames);
            dualTuio_.Refresh();
            break;
        case 3:
            SetGestureLimits(frames);
            dualNative_.Refresh();
            break;
        default:
            break;
    }
}

void TouchOutput::SetGestureLimits(int32_t framesLastPeriod) {
    SetTrackLimits(framesLastPeriod / 19, framesLastPeriod / 13);
}

void TouchOutput::SetTrackLimits(int32_t first, int32_t second) {
    trackA_.SetLimits(first, second);
    trackB_.SetLimits(first, second);
}

}  // namespace kv
