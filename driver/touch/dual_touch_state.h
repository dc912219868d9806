// Selections 2 and 3: two tracked fingers from the two peaks of each axis. Each frame is
// classified (no finger, one, two, two on one line) and the processor of that state pairs
// the peaks with the two finger tracks.
#pragma once

#include <array>
#include <cstdint>

#include "driver/core/peak_candidate.h"
#include "driver/core/touch_engine.h"
#include "driver/core/touch_path.h"
#include "driver/touch/finger_track.h"
#include "driver/touch/motion_pairing.h"
#include "driver/touch/pointer_pipeline.h"

namespace kv {

enum class DualState : int32_t {
    NoFinger = 0,
    OneFinger = 1,
    DualFinger = 2,
    DualFingerSameLine = 3,
};

// One state of the two-finger machine: pairs the classified fingers with the tracks.
class FingerStateProcessor {
public:
    virtual ~FingerStateProcessor() = default;
    virtual void Process(const TrackPoint& fingerA, const TrackPoint& fingerB, FingerTrack& trackA,
                         FingerTrack& trackB) = 0;
    // Outputs in track order: A continues track A, B continues track B.
    const TrackPoint& OutputA() const { return outputA_; }
    const TrackPoint& OutputB() const { return outputB_; }

protected:
    TrackPoint outputA_;
    TrackPoint outputB_;
};

class StateNoFingerProcessor final : public FingerStateProcessor {
public:
    void Process(const TrackPoint& fingerA, const TrackPoint& fingerB, FingerTrack& trackA,
                 FingerTrack& trackB) override;
};

class StateOneFingerProcessor final : public FingerStateProcessor {
public:
    void Process(const TrackPoint& fingerA, const TrackPoint& fingerB, FingerTrack& trackA,
                 FingerTrack& trackB) override;
};

class StateDualFingerProcessor final : public FingerStateProcessor {
public:
    void Process(const TrackPoint& fingerA, const TrackPoint& fingerB, FingerTrack& trackA,
                 FingerTrack& trackB) override;
};

class StateDualFingerSameLineProcessor final : public FingerStateProcessor {
public:
    void Process(const TrackPoint& fingerA, const TrackPoint& fingerB, FingerTrack& trackA,
                 FingerTrack& trackB) override;
};

// The result of classifying one frame.
struct Classification {
    DualState state = DualState::NoFinger;
    TrackPoint fingerA;
    TrackPoint fingerB;
};

class DualTouchState final : public TouchEngine {
public:
    static constexpr int32_t kEngineId = 2;

    // The two-finger TUIO or native mode; the tracks are shared by both instances.
    DualTouchState(const OutputContext& context, TouchMode mode, FingerTrack& trackA,
                   FingerTrack& trackB, FingerPairOutput& pairOutput,
                   TouchPath path = TouchPath::Classic);
    DualTouchState(const DualTouchState&) = delete;
    DualTouchState& operator=(const DualTouchState&) = delete;

    // Per axis: the X call stores its peaks; the Y call (frame complete) runs the machine.
    // Palm frames that go on past the lift hold cancel the contacts that are down.
    void Feed(const PeakCandidate& first, const PeakCandidate& second, bool frameComplete,
              float threshold, bool palm = false);
    // Rate and output settings of both pipelines.
    void Refresh();

    void Feed(const AxisPeaks& peaks) override {
        Feed(peaks.first, peaks.second, peaks.frameComplete, peaks.pressThreshold, peaks.palm);
    }
    // The gesture limits of both tracks from the frames of the last two-second period.
    void SetGestureLimits(int32_t framesLastPeriod);
    // SetGestureLimits, then Refresh.
    void PeriodicStep(int32_t framesLastPeriod) override;

    DualState State() const { return state_; }
    const TrackPoint& OutputA() const { return outputA_; }
    const TrackPoint& OutputB() const { return outputB_; }
    const PointerPipeline& PipelineA() const { return pipelineA_; }
    const PointerPipeline& PipelineB() const { return pipelineB_; }

private:
    // Classification of a frame; may count grace frames on the tracks.
    Classification Classify(const PeakCandidate& firstX, const PeakCandidate& secondX,
                            float thresholdX, const PeakCandidate& firstY,
                            const PeakCandidate& secondY, float thresholdY);
    // together: the weaker peak on the doubled axis is strong enough to land with the other
    // on a free foil (see kLandTogether).
    void ResolveSameLine(Classification& c, bool together = true);
    // Lands an output's contact once it has touched for kLandFrames frames, and holds it when
    // it drops out while its finger is likely still there.
    void HoldLift(size_t channel, TrackPoint& output);
    // The outputs of the frame to the pipelines, as contacts (a palm's, cancelled, once it
    // outlasts the lift hold).
    void Submit(bool palm);
    // A palm's frame: the channel's sample, no finger, and its contact, if down, ends as a
    // palm's.
    PointerSample Cancel(size_t channel);

    const TouchPath path_;
    MotionPairing motion_;  // the precise path's pairing of the classified fingers
    StateNoFingerProcessor noFinger_;
    StateOneFingerProcessor oneFinger_;
    StateDualFingerProcessor dualFinger_;
    StateDualFingerSameLineProcessor dualFingerSameLine_;
    std::array<FingerStateProcessor*, 4> processors_;
    FingerTrack& trackA_;
    FingerTrack& trackB_;
    DualState state_ = DualState::NoFinger;
    PeakCandidate firstX_;
    PeakCandidate secondX_;
    float thresholdX_ = 9.0f;
    TrackPoint outputA_;
    TrackPoint outputB_;
    // A finger's output that stops touching for a frame or two while the finger stays (peaks
    // merging where fingers meet or cross, a suppressed jump, a weak frame) would lift the
    // contact and land it again as a new touch, which breaks a pinch. Such a drop-out is held
    // where the finger last was for up to liftHoldFrames_ frames (about 30 ms), so a real
    // lift is reported that much later. Likewise a contact lands only on its second touching
    // frame in a row, so that noise crossing the threshold on both axes for one frame is no
    // touch.
    static constexpr int32_t kLandFrames = 2;
    static constexpr double kResumeReach = FingerTrack::kJump;
    static constexpr float kResumeStrength = 0.5f;
    static constexpr float kSecondLandingMargin = 1.5f;
    // Two fingers landing together on one line of a free foil land together when the weaker
    // peak on the doubled axis reads at least this share of the stronger; a weaker one waits
    // out the grace period (a noisy electrode on a landing finger's line reads far less).
    static constexpr float kLandTogether = 0.5f;
    struct LiftHold {
        TrackPoint last;
        bool down = false;
        int32_t seen = 0;  // touching frames in a row before landing
        int32_t missing = 0;
    };
    std::array<LiftHold, 2> liftHolds_{};
    int32_t palmFrames_ = 0;  // palm frames in a row
    int32_t liftHoldFrames_ = 3;
    PointerPipeline pipelineA_;
    PointerPipeline pipelineB_;
};

}  // namespace kv
