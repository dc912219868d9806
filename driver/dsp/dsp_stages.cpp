// The driver's signal processing as one object: frames in, touch candidates out.
#include "driver/dsp/dsp_stages.h"

namespace kv {

DspStages::DspStages(Registry& registry)
    : theDetector(registry), theSplitter(registry, theDetector) {}

void DspStages::Housekeeping() {
    theSplitter.HistoryX().Housekeeping();
    theSplitter.HistoryY().Housekeeping();
}

}  // namespace kv
