// The touch output of the driver: the four touch engines with their pointer pipelines, fed
// by the touch detector for the selection in force.
#pragma once

#include <cstdint>

#include "driver/calibration/calibration_model.h"
#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/touch_sink.h"
#include "driver/core/tuio_sink.h"
#include "driver/touch/dual_touch_state.h"
#include "driver/touch/finger_track.h"
#include "driver/touch/pinch_scroll_engine.h"
#include "driver/touch/single_touch_engine.h"
#include "driver/touch/virtual_touch_output.h"
#include "messaging/registry.h"

namespace kv {

class TouchOutput final : public TouchSink {
public:
    // Everything is borrowed and must outlive the touch output. The object is large (the
    // pipelines keep their sample histories): allocate it on the heap.
    TouchOutput(Registry& registry, const CalibrationModel& calibration, const DisplayInfo& display,
                PointerInjector& injector, ContactOutput& contacts, TuioSink& tuio);
    TouchOutput(const TouchOutput&) = delete;
    TouchOutput& operator=(const TouchOutput&) = delete;

    void SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float releaseThreshold,
                     float pressThreshold) override;
    void PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float releaseThreshold,
                     float pressThreshold) override;
    void DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second, bool frameComplete,
                       float threshold) override;
    void DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                         bool frameComplete, float threshold) override;
    // Frame rate, gesture limits and output settings of the engine of this selection.
    void PeriodicStep(int32_t selection) override;

    // The two-second task's gesture timing: first limit = frames / 19, second = frames / 13,
    // for both two-finger machines (they share their tracks).
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
    // Hands both fingers of the selection 2 machine to the TUIO sender.
    class TuioHandOff final : public FingerPairSink {
    public:
        explicit TuioHandOff(TuioSink& tuio) : tuio_(tuio) {}
        void SendPair(const PointerSample& primary, const PointerSample& secondary) override {
            tuio_.SendFrame(primary.state, primary.x, primary.y, secondary.state, secondary.x,
                            secondary.y);
        }

    private:
        TuioSink& tuio_;
    };

    Registry& registry_;
    const OutputContext context_;
    TuioHandOff tuioHandOff_;
    VirtualTouchOutput virtualTouch_;
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
