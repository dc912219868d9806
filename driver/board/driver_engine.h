// The driver's processing engine: signal processing, calibration and touch output joined
// behind the interfaces the main loop calls.
#pragma once

#include <memory>

#include "driver/board/virtual_touch_device.h"
#include "driver/calibration/calibration_model.h"
#include "driver/core/frame_engine.h"
#include "driver/core/tuio_sink.h"
#include "driver/dsp/dsp_engine.h"
#include "driver/touch/touch_output.h"
#include "driver/touch/virtual_touch_output.h"

namespace kv {

// Stages the contact reports of the two-finger native output into the virtual touch device.
class VirtualTouchContacts final : public ContactOutput {
public:
    explicit VirtualTouchContacts(VirtualTouchDevice& device) : device_(device) {}
    void SendContact(uint8_t state, uint16_t contactNumber, uint16_t x, uint16_t y) override;

private:
    VirtualTouchDevice& device_;
};

class DriverEngine final : public FrameEngine, public CalibrationHook {
public:
    // Everything is borrowed and must outlive the engine. Large: keep it on the heap.
    DriverEngine(Registry& registry, const DisplayInfo& display, PointerInjector& injector,
                 ContactOutput& contacts, TuioSink& tuio);

    void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override;
    void MaintainHistories() override { dsp_->Housekeeping(); }
    void SetGestureLimits(int32_t first, int32_t second) override {
        output_->SetTrackLimits(first, second);
    }
    void ComputeTransform() override { calibration_->recompute(); }

    DspEngine& Dsp() { return *dsp_; }
    CalibrationModel& Calibration() { return *calibration_; }
    TouchOutput& Output() { return *output_; }

private:
    std::unique_ptr<DspEngine> dsp_;
    std::unique_ptr<CalibrationModel> calibration_;
    std::unique_ptr<TouchOutput> output_;
};

}  // namespace kv
