// The driver's signal processing as one object: frames in, touch candidates out.
#pragma once

#include <cstdint>

#include "driver/dsp/dsp_splitter.h"
#include "driver/dsp/touch_detector.h"
#include "protocol/registry.h"

namespace kv {

// Owns the touch detector and the splitter with its two histories. Large (the histories
// and template matrices take about 200 KB): keep it on the heap or in static storage.
class DspStages {
public:
    explicit DspStages(Registry& registry);
    DspStages(const DspStages&) = delete;
    DspStages& operator=(const DspStages&) = delete;

    // One frame: len samples (the mux size) starting at samples.
    void ProcessFrame(int32_t len, const uint8_t* samples) {
        theSplitter.ProcessFrame(len, samples);
    }
    // The periodic history maintenance of the two-second task: X first, then Y.
    void Housekeeping();

    TouchDetector& Detector() { return theDetector; }
    const TouchDetector& Detector() const { return theDetector; }
    DspSplitter& Splitter() { return theSplitter; }
    const DspSplitter& Splitter() const { return theSplitter; }

private:
    // Declared first: the peak finders inside the splitter hold a reference to it.
    TouchDetector theDetector;
    DspSplitter theSplitter;
};

}  // namespace kv
