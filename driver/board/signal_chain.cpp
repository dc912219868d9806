// Wiring of the signal processing to the calibration and the touch engines.
#include "driver/board/signal_chain.h"

#include <algorithm>

namespace kv {

SignalChain::SignalChain(Registry& registry, const DisplayInfo& display, PointerInjector& injector,
                         ContactOutput& contacts, FingerPairOutput& tuio, TouchPath path)
    : registry_(registry),
      contacts_(contacts),
      dsp_(std::make_unique<DspStages>(registry)),
      calibration_(std::make_unique<CalibrationModel>(registry, display)),
      engines_(std::make_unique<TouchEngines>(registry, *calibration_, display, injector, contacts,
                                              tuio, path)) {
    dsp_->Detector().SetTouchEngines(engines_->Set());
    dsp_->Detector().SetPath(path);
    dsp_->Detector().SetCalibrationCollector(calibration_.get());
}

void SignalChain::FollowTouchMode() {
    contacts_.Keep(TouchModeOf(registry_.outputState.Selection) == TouchMode::TwoFingerNative);
}

void SignalChain::ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) {
    // The frame length is the mux size; never let it reach past the samples there are.
    const auto bounded = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(std::max(muxSize, 0)), available));
    dsp_->ProcessFrame(bounded, samples);
}

}  // namespace kv
