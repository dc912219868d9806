// What the main loop hands frames and periodic work to: the signal processing engine and the
// calibration transform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

class FrameProcessor {
public:
    virtual ~FrameProcessor() = default;

    // One acquired frame: samples[0] is channel 1 (report buffer index 1); available bounds
    // every read whatever the mux size says.
    virtual void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) = 0;
    // The two-second maintenance of the sample histories, X stage first, then Y.
    virtual void MaintainHistories() = 0;
    // The gesture state machines' two frame-count limits (about 105 ms and 154 ms of frames).
    virtual void SetGestureLimits(int32_t first, int32_t second) = 0;
    // The board has gone: every touch ends now, as if its finger had lifted.
    virtual void LiftTouches() {}
};

class CalibrationHook {
public:
    virtual ~CalibrationHook() = default;
    // Computes the sensor-to-screen transform from the stored reference points.
    virtual void ComputeTransform() = 0;
};

}  // namespace kv
