// What the touch detector hands on: the touch engine of the touch mode in force, and the
// calibration collector.
#pragma once

#include <array>
#include <cstdint>

#include "driver/core/peak_candidate.h"
#include "protocol/touch_modes.h"

namespace kv {

// One axis of one frame as the touch detector passes it to an engine. The frame-complete
// call is the Y axis's, the last of the frame.
struct AxisPeaks {
    PeakCandidate first;
    PeakCandidate second;
    int32_t axis = 0;
    int32_t count = 0;  // electrodes on the axis; 0 or less when the axis gave no peaks
    bool frameComplete = false;
    float releaseThreshold = 0.0f;
    float pressThreshold = 0.0f;  // the effective threshold (Y scaled by the axis balance)
    // The frame is a palm's (it carries no peaks): the touches it ends are cancelled.
    bool palm = false;
};

// A touch engine turns peaks into fingers for one touch mode. Only the engine of the mode in
// force is fed, once per axis and frame.
class TouchEngine {
public:
    virtual ~TouchEngine() = default;

    virtual void Feed(const AxisPeaks& peaks) = 0;
    // Once per housekeeping period while the engine's mode is in force: the engine takes the
    // frame rate and refreshes its output settings.
    virtual void PeriodicStep(int32_t framesLastPeriod) = 0;
};

// One engine per touch mode, indexed by the mode's value; a null entry feeds nothing.
using TouchEngineSet = std::array<TouchEngine*, kTouchModes>;

// The calibration capture, fed with every axis's first peak.
class CalibrationCollector {
public:
    virtual ~CalibrationCollector() = default;

    // Per axis and frame; a count of 0 or less empties the collector's history.
    virtual void Collect(int32_t axis, int32_t count, bool frameComplete,
                         const PeakCandidate& first) = 0;
    // Once per housekeeping period: the calibration's own periodic step (event polling).
    virtual void PeriodicStep() = 0;
};

}  // namespace kv
