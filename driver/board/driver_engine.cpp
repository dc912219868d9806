// Wiring of the signal path to the touch output.
#include "driver/board/driver_engine.h"

#include <algorithm>

namespace kv {

void VirtualTouchContacts::SendContact(uint8_t state, uint16_t contactNumber, uint16_t x,
                                       uint16_t y) {
    device_.SetContactState(state);
    device_.SetContactNumber(contactNumber);
    device_.SetX(x);
    device_.SetY(y);
    device_.Send();
}

DriverEngine::DriverEngine(Registry& registry, const DisplayInfo& display,
                           PointerInjector& injector, ContactOutput& contacts, TuioSink& tuio)
    : dsp_(std::make_unique<DspEngine>(registry)),
      calibration_(std::make_unique<CalibrationModel>(registry, display)),
      output_(std::make_unique<TouchOutput>(registry, *calibration_, display, injector, contacts,
                                            tuio)) {
    dsp_->Detector().SetTouchSink(output_.get());
    dsp_->Detector().SetCalibrationCollector(calibration_.get());
}

void DriverEngine::ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) {
    // The frame length is the mux size; never let it reach past the samples there are.
    const auto bounded = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(std::max(muxSize, 0)), available));
    dsp_->ProcessFrame(bounded, samples);
}

}  // namespace kv
