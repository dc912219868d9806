// The driver's signal processing as one object: frames in, touch candidates out.
#include "driver/dsp/dsp_engine.h"

namespace kv {

DspEngine::DspEngine(Registry& registry)
    : theDetector(registry), theSplitter(registry, theDetector) {}

void DspEngine::Housekeeping() {
    theSplitter.HistoryX().Housekeeping();
    theSplitter.HistoryY().Housekeeping();
}

}  // namespace kv
