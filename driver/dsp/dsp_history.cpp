// Per-electrode baseline history of one axis: unwrapped readings, baseline, scaled signal.
#include "driver/dsp/dsp_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "driver/core/unit_range.h"
#include "driver/dsp/touch_detector.h"

namespace kv {

bool ChannelHistory::Accumulate(int32_t input) {
    const int32_t reading = input & 0xFF;
    if (itsFirstPending) {
        itsFirstPending = false;
        itsAccumulator = 0;
    } else {
        // The shorter way round the 8-bit circle, biased so that 127 counts as -129.
        int32_t step = (reading - itsPrevious) & 0xFF;
        if (step >= 127) {
            step -= 256;
        }
        if (step < -kMaxJump || step > kMaxJump) {
            return false;
        }
        const int32_t next = itsAccumulator + step;
        if (next > kAccumulatorLimit || next < -kAccumulatorLimit) {
            return false;
        }
        itsAccumulator = next;
        if (itsBaselineValid) {
            itsPeriodHigh = std::max(itsPeriodHigh, itsAccumulator - itsBaseline);
        }
        // Without housekeeping the period would grow without end; stop counting instead of
        // overflowing.
        if (itsPeriodFrames < std::numeric_limits<int32_t>::max()) {
            itsPeriodSum += itsAccumulator;
            ++itsPeriodFrames;
        }
    }
    itsPrevious = reading;
    return true;
}

int32_t ChannelHistory::EndPeriod(int32_t followBelow) {
    while (itsEntries >= itsCapacity) {
        itsOldestIndex = (itsOldestIndex + 1) % kRingSlots;
        --itsEntries;
    }
    // A period of four frames or fewer is too short to give a trustworthy mean.
    if (itsPeriodFrames > 4) {
        const auto mean = static_cast<int32_t>(itsPeriodSum / itsPeriodFrames);
        if (itsBaselineValid && itsPeriodHigh < followBelow && mean >= itsBaseline &&
            mean - itsBaseline < kFollowRise) {
            // Without this the baseline would rise only as the old lows age out (up to a
            // minute), and a slow rise of the untouched foil would cross the touch threshold:
            // a touch where no finger is. The old lows are lifted to the new mean instead.
            for (int32_t n = 0, slot = itsOldestIndex; n < itsEntries;
                 ++n, slot = (slot + 1) % kRingSlots) {
                int32_t& entry = theBuffer[static_cast<size_t>(slot)];
                entry = std::max(entry, mean);
            }
        }
        theBuffer[static_cast<size_t>(itsWriteIndex)] = mean;
        itsWriteIndex = (itsWriteIndex + 1) % kRingSlots;
        ++itsEntries;
    }
    int32_t activity = kActivityNone;
    if (itsPeriodFrames >= 4) {
        activity = kActivityGood;
    } else if (itsPeriodFrames >= 1) {
        activity = kActivityLow;
    }
    itsPeriodSum = 0;
    itsPeriodFrames = 0;
    itsPeriodHigh = 0;
    itsBaselineValid = false;
    itsBaseline = 0;
    // The lowest recent mean: a touch only ever raises the reading, so the minimum is the
    // untouched foil.
    if (itsEntries > itsMinEntries) {
        int32_t slot = itsOldestIndex;
        int32_t lowest = theBuffer[static_cast<size_t>(slot)];
        for (int32_t n = 1; n < itsEntries; ++n) {
            slot = (slot + 1) % kRingSlots;
            lowest = std::min(lowest, theBuffer[static_cast<size_t>(slot)]);
        }
        itsBaseline = lowest;
        itsBaselineValid = true;
    }
    return activity;
}

void ChannelHistory::Reset() {
    itsPrevious = 0;
    itsAccumulator = 0;
    itsPeriodSum = 0;
    itsPeriodFrames = 0;
    itsPeriodHigh = 0;
    itsWriteIndex = 0;
    itsOldestIndex = 0;
    itsEntries = 0;
    itsBaseline = 0;
    itsBaselineValid = false;
    itsFirstPending = true;
}

DspHistory::DspHistory(Registry& registry, TouchDetector& detector)
    : theRegistry(registry), theDetector(detector), itsCorrelator(registry, detector) {}

void DspHistory::Reset() {
    for (ChannelHistory& channel : itsChannels) {
        channel.Reset();
    }
    itsFineValid.fill(false);
    itsFine.fill(0.0f);
    itsHole.fill(0);
}

float DspHistory::TouchCounts() const {
    return theDetector.PressThreshold() / std::max(itsScale, 0.05f);
}

void DspHistory::FollowFine(int32_t count) {
    // A finger is where the ordinary signal reads more than a third of a touch; the electrodes
    // within kFineNear of one carry its tails and keep their baseline. (The ordinary signal,
    // not this one: an electrode kept still while the foil drifts would come to read high
    // here and hold its neighbours still in turn, across the whole axis.)
    const auto near = static_cast<int32_t>(TouchCounts() / 3.0f);
    int32_t lastHot = -kMaxCount;
    std::array<int32_t, kMaxCount> hotBefore{};
    for (int32_t i = 0; i < count; ++i) {
        if (itsDiff[static_cast<size_t>(i)] > near) {
            lastHot = i;
        }
        hotBefore[static_cast<size_t>(i)] = lastHot;
    }
    int32_t nextHot = 2 * kMaxCount;
    for (int32_t i = count - 1; i >= 0; --i) {
        const auto u = static_cast<size_t>(i);
        const ChannelHistory& channel = itsChannels[u];
        if (itsDiff[u] > near) {
            nextHot = i;
        }
        if (!itsFineValid[u] && channel.BaselineValid()) {
            itsFineBaseline[u] = channel.Baseline();
            itsFineValid[u] = true;
        }
        if (!itsFineValid[u]) {
            itsFine[u] = 0.0f;
            continue;
        }
        const double reading = channel.Accumulator();
        if (i - hotBefore[u] > kFineNear && nextHot - i > kFineNear) {
            itsFineBaseline[u] += kFineRate * (reading - itsFineBaseline[u]);
        }
        itsFine[u] = itsScale * static_cast<float>(reading - itsFineBaseline[u]);
    }
}

void DspHistory::Run(int32_t count, const int32_t* readings, int32_t axis, bool frameComplete) {
    count = std::clamp(count, 0, kMaxCount);
    if (axis >= 0 && axis != itsAxis) {
        itsAxis = axis;
    }
    if (readings == nullptr || count == 0) {
        Reset();
        return;
    }
    if (itsAxis < 0) {
        return;
    }
    if (count != itsCount || itsMode != 1) {
        itsCount = count;
        itsMode = 1;
        Reset();
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!itsChannels[static_cast<size_t>(i)].Accumulate(readings[i])) {
            // A jump no finger can cause (noise burst, reconnect): start the axis afresh.
            Reset();
            break;
        }
    }
    int32_t strongest = 0;
    for (int32_t i = 0; i < count; ++i) {
        itsDiff[static_cast<size_t>(i)] = itsChannels[static_cast<size_t>(i)].Diff();
        if (itsDiff[static_cast<size_t>(i)] > itsDiff[static_cast<size_t>(strongest)]) {
            strongest = i;
        }
    }
    // The signal around the strongest electrode, over a wide finger's reach.
    int32_t size = 0;
    for (int32_t i = std::max(0, strongest - 3); i <= std::min(count - 1, strongest + 3); ++i) {
        size += std::max(0, itsDiff[static_cast<size_t>(i)]);
    }
    theDetector.NoteSpread(itsAxis, Spread(count, strongest), size);
    for (int32_t i = 0; i < count; ++i) {
        itsScaled[static_cast<size_t>(i)] =
            itsScale * static_cast<float>(itsDiff[static_cast<size_t>(i)]);
    }
    const bool precise = theDetector.Path() == TouchPath::Precise;
    if (precise) {
        FollowFine(count);
        FillDead(count);
    }
    itsCorrelator.Correlate(count, itsAxis, frameComplete, itsScaled.data(),
                            precise ? itsFine.data() : nullptr);
}

namespace {

float Mean(const float* v, int32_t i) {
    return (v[i - 1] + v[i + 1]) / 2.0f;
}

}  // namespace

void DspHistory::FillDead(int32_t count) {
    const auto touch = static_cast<int32_t>(TouchCounts());
    for (int32_t i = 1; i + 1 < count; ++i) {
        const auto u = static_cast<size_t>(i);
        const int32_t neighbours = std::min(itsDiff[u - 1], itsDiff[u + 1]);
        // Each neighbour reads at least what the electrode beyond it reads: a finger's flank on
        // one side and a noisy electrode on the other make no hole between them.
        const auto flank = [&](int32_t n, int32_t beyond) {
            return beyond < 0 || beyond >= count ||
                   itsDiff[static_cast<size_t>(beyond)] <= itsDiff[static_cast<size_t>(n)];
        };
        if (2 * neighbours > touch) {
            if (8 * itsDiff[u] < neighbours && flank(i - 1, i - 2) && flank(i + 1, i + 2)) {
                // The nearer the finger is to one of them, the more this one misses of it.
                const int32_t stronger = std::max(itsDiff[u - 1], itsDiff[u + 1]);
                const int32_t weight = std::clamp(stronger / (2 * neighbours), 1, kDeadStrong);
                itsHole[u] = std::min(itsHole[u] + weight, kDeadFrames);
            } else if (2 * itsDiff[u] > neighbours) {
                itsHole[u] = 0;  // it reads a finger after all
            }
        } else if (HardBeside(i, count, touch)) {
            itsHole[u] = std::min(itsHole[u] + kDeadStrong, kDeadFrames);
        }
        if (itsHole[u] >= kDeadFrames) {
            // Under a finger, what the profile gives between the two neighbours; elsewhere
            // their mean.
            const bool finger = 3 * std::max(itsDiff[u - 1], itsDiff[u + 1]) > touch;
            itsScaled[u] = finger ? Bridge(itsScaled.data(), i, count) : Mean(itsScaled.data(), i);
            itsFine[u] = finger ? Bridge(itsFine.data(), i, count) : Mean(itsFine.data(), i);
        }
    }
}

// Between two neighbours reading a finger, a dead electrode takes kDeadFrames to show: a
// finger crossing it is over it for fewer, and split or thrown off all the while. A finger
// pressing hard on one neighbour (over three touches, and kDeadRatio times what i reads) shows
// it sooner where the other neighbour reads the finger's far tail (the caller has seen it
// read under half a touch): over a quarter of a touch and four times what i reads, with the
// electrode beyond it reading less. The dip between two fingers fails that: the weaker side rises
// towards the other finger, or both fingers' tails fill the dip. How little i reads is judged on
// the fine signal (the ordinary one is whole counts, in which a tail of under two counts often
// reads 1 or 0).
bool DspHistory::HardBeside(int32_t i, int32_t count, int32_t touch) const {
    const auto u = static_cast<size_t>(i);
    const int32_t before = itsDiff[u - 1];
    const int32_t after = itsDiff[u + 1];
    const int32_t stronger = std::max(before, after);
    const int32_t weaker = std::min(before, after);
    const float reads = itsFine[u] / std::max(itsScale, 0.05f);
    // Where a touch is a few counts, whole counts of baseline offset alone can make the weaker
    // neighbour seem to read a tail beside an i that reads nothing: on the fine signal, i must
    // read under a quarter of what that neighbour reads too.
    const float weakerReads = itsFine[before < after ? u - 1 : u + 1] / std::max(itsScale, 0.05f);
    if (stronger <= 3 * touch || !(kDeadRatio * reads < static_cast<float>(stronger)) ||
        4 * weaker <= touch || 4 * itsDiff[u] >= weaker || !(4.0f * reads < weakerReads)) {
        return false;
    }
    const int32_t beyond = before < after ? i - 2 : i + 2;
    return beyond < 0 || beyond >= count || itsDiff[static_cast<size_t>(beyond)] < weaker;
}

// A finger at d from the dead electrode (towards the next one) has its neighbours read
// Model(1 + d) and Model(1 - d) of its height: their ratio gives d, the stronger one the
// height, and the profile the reading between them. (A mean of the two would read a finger
// right on the electrode at a third of its height, and split it in two.) Where the electrodes
// beyond the neighbours read well above what that finger gives them, the signal is not one
// finger's (two fingers either side, a palm) and the mean is kept.
float DspHistory::Bridge(const float* v, int32_t i, int32_t count) const {
    const float before = v[i - 1];
    const float after = v[i + 1];
    const float mean = Mean(v, i);
    if (!(before > 0.0f) || !(after > 0.0f)) {
        return mean;
    }
    const ProfileFit& profile = itsCorrelator.PeakFinder().Profile();
    const auto model = [&](float x) { return std::max(profile.Model(x), 1e-6f); };
    const float ratio = before / after;
    float low = -1.0f;
    float high = 1.0f;
    for (int32_t step = 0; step < 16; ++step) {
        const float d = (low + high) / 2.0f;
        (model(1.0f + d) / model(1.0f - d) > ratio ? low : high) = d;
    }
    const float d = (low + high) / 2.0f;
    const float height = before > after ? before / model(1.0f + d) : after / model(1.0f - d);
    const float slack = kBridgeSlack * std::max(before, after);
    if ((i >= 2 && v[i - 2] > height * model(2.0f + d) + slack) ||
        (i + 2 < count && v[i + 2] > height * model(2.0f - d) + slack)) {
        return mean;
    }
    return std::max(mean, height * model(d));
}

int32_t DspHistory::Spread(int32_t count, int32_t strongest) const {
    const int32_t peak = itsDiff[static_cast<size_t>(strongest)];
    if (peak <= 0) {
        return 0;
    }
    const auto above = [&](int32_t i) {
        return i >= 0 && i < count && 2 * itsDiff[static_cast<size_t>(i)] > peak;
    };
    // An electrode that reads next to nothing between two above half is a dead one under the
    // object, not its edge: the walk steps over it, once on each side. (The dip between two
    // fingers side by side reads far more, and still ends the walk.)
    const auto dead = [&](int32_t i) {
        return i >= 0 && i < count && 8 * itsDiff[static_cast<size_t>(i)] <= peak;
    };
    // Nor does the walk go on over a dip and up again by more than 1 / kDipShare of the peak:
    // two wide fingers a few pitches apart stay above half between them, a palm's signal
    // falls from its middle (noise aside) all the way out.
    const auto rises = [&](int32_t i, int32_t low) {
        return kDipShare * (itsDiff[static_cast<size_t>(i)] - low) > peak;
    };
    const auto walk = [&](int32_t step) {
        int32_t at = strongest;
        int32_t low = peak;
        bool stepped = false;
        while (true) {
            if (above(at + step) && !rises(at + step, low)) {
                at += step;
            } else if (!stepped && dead(at + step) && above(at + 2 * step) &&
                       !rises(at + 2 * step, low)) {
                stepped = true;
                at += 2 * step;
            } else {
                return at;
            }
            low = std::min(low, itsDiff[static_cast<size_t>(at)]);
        }
    };
    return walk(1) - walk(-1) + 1;
}

void DspHistory::Housekeeping() {
    if (itsAxis >= 0) {
        // An electrode whose signal stayed below what a touch needs (the press threshold in
        // counts at this sensitivity) had no finger on or next to it.
        const int32_t followBelow = TruncSaturated(std::ceil(TouchCounts()));
        CommsStatus& status = theRegistry.commsActStatus;
        for (int32_t i = 0; i < itsCount; ++i) {
            const int32_t activity = itsChannels[static_cast<size_t>(i)].EndPeriod(followBelow);
            if (status.StatusCode != activity) {
                status.StatusCode = activity;
                status.Publish();
            }
        }
    }
    itsScale = static_cast<float>((theRegistry.senseState.CoarseRange + 5.0) / 20.0);
    theDetector.PeriodicRefresh();
}

}  // namespace kv
