// Per-electrode baseline history of one axis: unwrapped readings, baseline, scaled signal.
#pragma once

#include <array>
#include <cstdint>

#include "driver/dsp/dsp_correlator.h"
#include "protocol/registry.h"

namespace kv {

class TouchDetector;

// One electrode: the unwrapped reading, its period means and the baseline taken from them.
class ChannelHistory {
public:
    static constexpr int32_t kRingSlots = 40;
    static constexpr int32_t kCapacity = 30;
    static constexpr int32_t kMinEntries = 1;
    static constexpr int32_t kMaxJump = 120;
    // The unwrapped reading never gets near this on a working foil; a board that streams a
    // steady ramp would otherwise drive the accumulator into overflow within hours.
    static constexpr int32_t kAccumulatorLimit = 1 << 24;
    // On an electrode no finger came near in the period, a period mean less than this many
    // counts above the baseline is the foil drifting (warmth, humidity, the electronics
    // settling): the baseline follows it at once. Anything else (a touch, a finger resting
    // for good) is learnt only as before, once the lower means have aged out.
    static constexpr int32_t kFollowRise = 2;

    // Link activity reported for a period by its frame count.
    static constexpr int32_t kActivityNone = 0;
    static constexpr int32_t kActivityGood = 1;
    static constexpr int32_t kActivityLow = 2;

    // Adds one reading (only its low 8 bits count). False on an impossible jump, after which
    // the caller resets the whole axis.
    bool Accumulate(int32_t input);
    // Ends a housekeeping period: stores the period mean, rebuilds the baseline and returns
    // the link activity seen in the period. A slow rise is followed only on an electrode whose
    // signal stayed below followBelow counts all period (0: never).
    int32_t EndPeriod(int32_t followBelow = 0);
    void Reset();

    int32_t Accumulator() const { return itsAccumulator; }
    int32_t Baseline() const { return itsBaseline; }
    bool BaselineValid() const { return itsBaselineValid; }
    int32_t Entries() const { return itsEntries; }
    int32_t PeriodFrames() const { return itsPeriodFrames; }
    // The signal above the baseline, 0 while the baseline is not valid.
    int32_t Diff() const { return itsBaselineValid ? itsAccumulator - itsBaseline : 0; }

private:
    std::array<int32_t, kRingSlots> theBuffer{};
    int32_t itsWriteIndex = 0;
    int32_t itsOldestIndex = 0;
    int32_t itsEntries = 0;
    int32_t itsCapacity = kCapacity;
    bool itsBaselineValid = false;
    bool itsFirstPending = true;
    int32_t itsPrevious = 0;
    int32_t itsAccumulator = 0;
    int32_t itsBaseline = 0;
    // 64 bits: a long period of large readings must not overflow the sum.
    int64_t itsPeriodSum = 0;
    int32_t itsPeriodFrames = 0;
    // The highest signal above the baseline in the current period.
    int32_t itsPeriodHigh = 0;
    int32_t itsMinEntries = kMinEntries;
};

class DspHistory {
public:
    static constexpr int32_t kMaxCount = 128;

    DspHistory(Registry& registry, TouchDetector& detector);
    DspHistory(const DspHistory&) = delete;
    DspHistory& operator=(const DspHistory&) = delete;

    // Per frame: readings[0 .. count-1] of this axis; the correlator runs on the result.
    void Run(int32_t count, const int32_t* readings, int32_t axis, bool frameComplete);
    // Per period (about 2 s): period means, baselines, link activity, scale, detector refresh.
    void Housekeeping();
    // Every electrode back to its first-sample state.
    void Reset();

    int32_t Axis() const { return itsAxis; }
    int32_t Count() const { return itsCount; }
    float Scale() const { return itsScale; }
    int32_t Diff(int32_t i) const { return itsDiff[static_cast<size_t>(i)]; }
    float Scaled(int32_t i) const { return itsScaled[static_cast<size_t>(i)]; }
    const ChannelHistory& Channel(int32_t i) const { return itsChannels[static_cast<size_t>(i)]; }
    const DspCorrelator& Correlator() const { return itsCorrelator; }

    // The precise path's signal: against a baseline kept to a fraction of a count, which
    // follows the foil's drift up and down on every electrode no finger is near.
    float Fine(int32_t i) const { return itsFine[static_cast<size_t>(i)]; }

    // How fast the fine baseline follows (per frame), and how far from an electrode reading
    // more than a third of a touch it stays still.
    static constexpr float kFineRate = 1.0f / 200.0f;
    static constexpr int32_t kFineNear = 3;
    // Frames an electrode must read next to nothing between two that read a finger before it
    // is taken for dead and filled from them on the precise path.
    static constexpr int32_t kDeadFrames = 20;
    // A frame in which it reads next to nothing beside a finger pressing hard on one
    // neighbour (over three touches, and kDeadRatio times what it reads) while the other reads
    // only the finger's far tail counts as this many (see HardBeside). Between two that read a
    // finger, a frame counts as many times as the stronger reads twice the weaker, up to that.
    static constexpr int32_t kDeadStrong = 5;
    static constexpr float kDeadRatio = 24.0f;
    // How far (a share of the stronger neighbour) the electrodes beyond a dead one's neighbours
    // may read above one finger's profile before the fill takes their mean instead.
    static constexpr float kBridgeSlack = 0.2f;

    // The walk over the electrodes above half the peak stops where the signal rises again by
    // more than 1 / kDipShare of the peak: beyond is another object.
    static constexpr int32_t kDipShare = 8;

private:
    // Electrodes around the strongest one whose signal is above half of its (it included).
    int32_t Spread(int32_t count, int32_t strongest) const;
    // What a touch needs, in counts of this axis at its sensitivity (the press threshold).
    float TouchCounts() const;
    void FollowFine(int32_t count);
    // A dead electrode (a broken trace) would split a finger on it in two or throw it off.
    void FillDead(int32_t count);
    // Whether electrode i reads as dead beside a finger pressing hard on one neighbour, the
    // other reading only its far tail (kDeadStrong frames' worth of evidence).
    bool HardBeside(int32_t i, int32_t count, int32_t touch) const;
    // A dead electrode i's reading under a finger, made up from its neighbours' in v.
    float Bridge(const float* v, int32_t i, int32_t count) const;

    Registry& theRegistry;
    TouchDetector& theDetector;
    int32_t itsAxis = -1;
    int32_t itsCount = 0;
    int32_t itsMode = 1;  // 8-bit differential readings, the only mode there is
    float itsScale = 0.9f;
    std::array<ChannelHistory, kMaxCount> itsChannels{};
    std::array<int32_t, kMaxCount> itsDiff{};
    std::array<float, kMaxCount> itsScaled{};
    std::array<double, kMaxCount> itsFineBaseline{};
    std::array<bool, kMaxCount> itsFineValid{};
    std::array<float, kMaxCount> itsFine{};
    std::array<int32_t, kMaxCount> itsHole{};  // frames each electrode read as dead
    DspCorrelator itsCorrelator;
};

}  // namespace kv
