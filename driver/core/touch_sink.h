// What the touch detector hands on: the touch engines and the calibration collector.
#pragma once

#include <cstdint>

#include "driver/core/peak_candidate.h"

namespace kv {

// The four touch engines, one call per selection (Output_State_Selection). Only the engine
// of the current selection is fed, once per axis and frame; the Y call carries the
// frame-complete flag.
class TouchSink {
public:
    virtual ~TouchSink() = default;

    // Selection 0, "Single Touch and Drag".
    virtual void SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count,
                             bool frameComplete, const PeakCandidate& second,
                             float releaseThreshold, float pressThreshold) = 0;
    // Selection 1, "Single Touch with Zoom in/out".
    virtual void PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count,
                             bool frameComplete, const PeakCandidate& second,
                             float releaseThreshold, float pressThreshold) = 0;
    // Selection 2, two fingers as TUIO cursors.
    virtual void DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second,
                               bool frameComplete, float threshold) = 0;
    // Selection 3, two fingers as contacts of the virtual touch device.
    virtual void DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                                 bool frameComplete, float threshold) = 0;

    // Once per housekeeping period, for the engine of the current selection (0..3): the
    // engine refreshes its output settings and frame rate.
    virtual void PeriodicStep(int32_t selection) = 0;
};

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
