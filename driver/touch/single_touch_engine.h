// Selection 0: one finger from the strongest peak of each axis, hover and press with
// hysteresis, fed to one pointer pipeline.
#pragma once

#include <array>
#include <cstdint>

#include "driver/core/peak_candidate.h"
#include "driver/core/touch_engine.h"
#include "driver/touch/pointer_pipeline.h"

namespace kv {

// One axis of one frame as the single-finger engines keep it.
struct AxisFrame {
    int32_t count = 0;
    int32_t axis = 0;
    uint8_t frameComplete = 0;
    int32_t index = -1;
    float amplitude = 0.0f;
    float position = 0.0f;
    uint8_t aboveRelease = 0;
    uint8_t belowLow = 0;
    uint8_t abovePress = 0;
    uint8_t belowPressLow = 0;
    int32_t peakCount = 0;
    float spacing = 0.0f;  // selection 1: distance of two peaks
    float centre = 0.0f;   // selection 1: their midpoint, else the first peak
};

// A ring of 256 frames per axis, indexed by the engine's frame index.
using AxisRing = std::array<AxisFrame, 256>;

class SingleTouchEngine : public TouchEngine {
public:
    static constexpr int32_t kFrames = 256;
    static constexpr int32_t kMaxElectrodes = 128;
    static constexpr int32_t kMinRate = 8;
    static constexpr int32_t kMinFill = 4;

    explicit SingleTouchEngine(PointerPipeline& pipeline, int32_t engineId = 0)
        : pipeline_(pipeline), engineId_(engineId) {}
    ~SingleTouchEngine() override = default;
    SingleTouchEngine(const SingleTouchEngine&) = delete;
    SingleTouchEngine& operator=(const SingleTouchEngine&) = delete;

    // Per axis and frame; the frame-complete call decides and submits one sample.
    void Feed(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
              const PeakCandidate& second, float releaseThreshold, float pressThreshold);
    // Frames counted in the last two-second period.
    void SetRate(int32_t rate) { rate_ = rate; }

    void Feed(const AxisPeaks& peaks) override {
        Feed(peaks.first, peaks.axis, peaks.count, peaks.frameComplete, peaks.second,
             peaks.releaseThreshold, peaks.pressThreshold);
    }
    // The frame rate, then the pipeline's output settings.
    void PeriodicStep(int32_t framesLastPeriod) override {
        SetRate(framesLastPeriod);
        pipeline_.Refresh();
    }

    bool Present() const { return present_; }
    bool Pressed() const { return pressed_; }
    int32_t Fill() const { return fill_; }
    const PointerSample& LastSample() const { return lastSample_; }

protected:
    // The frame `back` frames before the current one (0 is the current frame).
    const AxisFrame& Back(int32_t axis, int32_t back) const;
    const AxisFrame& Current(int32_t axis) const { return Back(axis, 0); }
    const AxisFrame& Previous(int32_t axis) const { return Back(axis, 1); }
    // Selection 1 adds its two-finger step after a decide that got past the rate check.
    virtual void AfterDecide() {}

    int32_t rate_ = 50;
    int32_t frameIndex_ = 0;
    int32_t fill_ = 0;
    bool present_ = false;
    bool pressed_ = false;
    float x_ = 0.5f;
    float y_ = 0.5f;
    float wheel_ = 0.0f;

private:
    void Decide();

    PointerPipeline& pipeline_;
    const int32_t engineId_;
    float release_ = 0.0f;
    float lowRelease_ = 0.0f;
    float press_ = 0.0f;
    float lowPress_ = 0.0f;
    std::array<AxisRing, 2> rings_{};
    PointerSample lastSample_;
};

}  // namespace kv
