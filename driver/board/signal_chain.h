// The driver's signal chain: signal processing, calibration and the touch engines joined
// behind the interfaces the main loop calls.
#pragma once

#include <memory>

#include "driver/calibration/calibration_model.h"
#include "driver/core/contact_output.h"
#include "driver/core/finger_pair_output.h"
#include "driver/core/frame_processor.h"
#include "driver/core/touch_path.h"
#include "driver/dsp/dsp_stages.h"
#include "driver/touch/touch_engines.h"

namespace kv {

class SignalChain final : public FrameProcessor, public CalibrationHook {
public:
    // Everything is borrowed and must outlive the chain. Large: keep it on the heap.
    SignalChain(Registry& registry, const DisplayInfo& display, PointerInjector& injector,
                ContactOutput& contacts, FingerPairOutput& tuio,
                TouchPath path = TouchPath::Classic);

    void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override;
    void MaintainHistories() override {
        dsp_->Housekeeping();
        FollowTouchMode();
    }
    void SetGestureLimits(int32_t first, int32_t second) override {
        engines_->SetTrackLimits(first, second);
    }
    void ComputeTransform() override { calibration_->Recompute(); }
    void LiftTouches() override { dsp_->Detector().LiftAll(); }

    // The virtual touch device exists while native touch is the touch mode: at start, and
    // from the periodic step after that mode was chosen or left.
    void FollowTouchMode();

    DspStages& Dsp() { return *dsp_; }
    CalibrationModel& Calibration() { return *calibration_; }
    TouchEngines& Engines() { return *engines_; }

private:
    Registry& registry_;
    ContactOutput& contacts_;
    std::unique_ptr<DspStages> dsp_;
    std::unique_ptr<CalibrationModel> calibration_;
    std::unique_ptr<TouchEngines> engines_;
};

}  // namespace kv
