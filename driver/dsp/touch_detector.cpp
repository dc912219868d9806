// The touch detector: signal level, X/Y balance, thresholds and dispatch to the engines.
#include "driver/dsp/touch_detector.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {

namespace {

// Integer part of a threshold, saturated: a threshold beyond int32 from the network must not
// make the conversion undefined.
int32_t IntegerPart(float value) {
    constexpr float kMax = 2147483520.0f;  // the largest float below 2^31
    if (std::isnan(value)) {
        return 0;
    }
    if (value < -kMax) {
        return std::numeric_limits<int32_t>::min();
    }
    if (value > kMax) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

}  // namespace

void AxisRatioTracker::Update(float threshold, const PeakCandidate& first, bool lastAxis) {
    const int32_t whole = IntegerPart(threshold);
    if (whole != thresholdSnapshot) {
        active = true;
        thresholdSnapshot = whole;
        xSum = ySum = 0.0f;
        xHits = yHits = 0;
    } else if (!active) {
        return;
    }
    if (first.amplitude > threshold) {
        if (lastAxis) {
            if (yHits < kHitsNeeded) {
                ySum += first.amplitude;
                ++yHits;
            }
        } else if (xHits < kHitsNeeded) {
            xSum += first.amplitude;
            ++xHits;
        }
    }
    if (xHits >= kHitsNeeded && yHits >= kHitsNeeded) {
        // Only sums of positive amplitudes give a meaningful balance; with a threshold at or
        // below zero they need not be, and the previous ratio stays.
        if (xSum > 0.0f && ySum > 0.0f) {
            ratio = std::clamp(ySum / xSum, kRatioMin, kRatioMax);
        }
        active = false;
    }
}

TouchDetector::TouchDetector(Registry& registry) : theRegistry(registry) {
    theRegistry.senseStatus.Value = 0.0f;
    theRegistry.senseStatus.Publish();
}

void TouchDetector::Intake(int32_t count, int32_t axis, bool frameComplete,
                           const PeakCandidate& first, const PeakCandidate& second) {
    if (count > 0) {
        if (axis >= 0 && axis < kAxes) {
            itsLevel[static_cast<size_t>(axis)] = first.amplitude;
            itsCount[static_cast<size_t>(axis)] = count;
        }
        if (axis == 0 || axis == 1) {
            itsStrongest[static_cast<size_t>(axis)] =
                second.amplitude > first.amplitude ? second : first;
        }
        if (frameComplete) {
            theRegistry.senseStatus.Value = itsLevel[1] < itsLevel[0] ? itsLevel[0] : itsLevel[1];
            theRegistry.senseStatus.Publish();
        }
    }
    if (theCollector != nullptr) {
        theCollector->Collect(axis, count, frameComplete, first);
    }
    itsRatio.Update(itsPressThreshold, first, frameComplete);
    // The ratio scales Y against X, so only the last axis of a frame uses it.
    itsEffectiveThreshold =
        frameComplete ? itsPressThreshold * itsRatio.Ratio() : itsPressThreshold;
    bool held = false;
    if (frameComplete) {
        itsPalm = Palm();
        held = HoldLanding();
        LearnSize();
    }
    if (frameComplete && (itsPalm || held)) {
        // What the X call handed on is taken back: the engine sees a frame without a peak, and
        // whether it is a palm's.
        Dispatch(0, itsCount[0], false, PeakCandidate{}, PeakCandidate{});
        Dispatch(axis, count, true, PeakCandidate{}, PeakCandidate{}, itsPalm);
        return;
    }
    Dispatch(axis, count, frameComplete, first, second);
}

void TouchDetector::NoteSpread(int32_t axis, int32_t electrodes, int32_t size) {
    if (axis >= 0 && axis < kAxes) {
        itsSpread[static_cast<size_t>(axis)] = electrodes;
    }
    if (axis == 0 || axis == 1) {
        itsSize[static_cast<size_t>(axis)] = size;
    }
}

bool TouchDetector::Palm() const {
    if (itsPath != TouchPath::Precise) {
        return false;
    }
    // A palm's flanks read near half its peak on some boards, so once seen it stays a palm
    // while both axes spread over one electrode fewer.
    const int32_t spread = itsPalm ? kPalmSpread - 1 : kPalmSpread;
    return (itsSpread[0] >= spread && itsSpread[1] >= spread) ||
           Large(itsPalm ? kPalmSize - 1.0f : kPalmSize);
}

bool TouchDetector::Large(float times) const {
    return itsSizeTouches > 0 && static_cast<float>(itsSize[0]) > times * itsFingerSize[0] &&
           static_cast<float>(itsSize[1]) > times * itsFingerSize[1];
}

void TouchDetector::LearnSize() {
    const bool touching = itsStrongest[0].amplitude > itsPressThreshold &&
                          itsStrongest[1].amplitude > itsEffectiveThreshold;
    if (!touching) {
        // The touch has ended: its mean sums join the ring if it lasted as one firm finger.
        if (itsSizeFrames >= kSizeFrames) {
            const size_t slot = static_cast<size_t>(itsSizeTouches % kSizeTouches);
            ++itsSizeTouches;
            const size_t n = static_cast<size_t>(std::min(itsSizeTouches, kSizeTouches));
            for (size_t axis = 0; axis < 2; ++axis) {
                itsTouchSizes[axis][slot] =
                    static_cast<float>(itsSizeSum[axis] / static_cast<double>(itsSizeFrames));
                std::array<float, kSizeTouches> sorted = itsTouchSizes[axis];
                std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>((n - 1) / 2),
                                 sorted.begin() + static_cast<long>(n));
                itsFingerSize[axis] = sorted[(n - 1) / 2];
            }
        }
        itsSizeSum = {};
        itsSizeFrames = 0;
        return;
    }
    const bool firm = itsStrongest[0].amplitude > kSureLanding * itsPressThreshold &&
                      itsStrongest[1].amplitude > kSureLanding * itsEffectiveThreshold;
    if (firm && !itsPalm && itsSpread[0] <= 2 && itsSpread[1] <= 2 && itsSize[0] > 0 &&
        itsSize[1] > 0) {
        ++itsSizeFrames;
        for (size_t axis = 0; axis < 2; ++axis) {
            itsSizeSum[axis] += itsSize[axis];
        }
    }
}

bool TouchDetector::HoldLanding() {
    // Where the frame's strongest peaks lie, in electrodes, and whether the frame before had
    // them there too.
    std::array<float, 2> peaks{};
    bool inPlace = true;
    for (size_t axis = 0; axis < 2; ++axis) {
        peaks[axis] =
            itsStrongest[axis].position * static_cast<float>(std::max(itsCount[axis] - 1, 1));
        inPlace = inPlace && itsLastPeaks[axis] >= 0.0f &&
                  std::fabs(peaks[axis] - itsLastPeaks[axis]) <= kLandingReach;
    }
    itsLastPeaks = peaks;
    const float x = itsStrongest[0].amplitude;
    const float y = itsStrongest[1].amplitude;
    if (x <= itsPressThreshold || y <= itsEffectiveThreshold) {
        itsLanding = 0;
        return false;
    }
    if (itsPalm || itsLanding < 0) {
        return false;
    }
    if (itsPath == TouchPath::Precise && itsLanding < kPalmWait &&
        itsSpread[0] >= kPalmSpread - 1 && itsSpread[1] >= kPalmSpread - 1) {
        ++itsLanding;
        return true;
    }
    const bool faint =
        x < kSureLanding * itsPressThreshold || y < kSureLanding * itsEffectiveThreshold;
    if (faint && !inPlace) {
        return true;
    }
    itsLanding = -1;
    return false;
}

void TouchDetector::Dispatch(int32_t axis, int32_t count, bool frameComplete,
                             const PeakCandidate& first, const PeakCandidate& second, bool palm) {
    TouchEngine* engine = EngineInForce();
    if (engine == nullptr) {
        return;
    }
    engine->Feed(AxisPeaks{first, second, axis, count, frameComplete,
                           kReleaseFactor * itsEffectiveThreshold, itsEffectiveThreshold, palm});
}

void TouchDetector::LiftAll() {
    // More than the longest lift any engine waits for (a few frames).
    constexpr int kLiftFrames = 32;
    for (int frame = 0; frame < kLiftFrames; ++frame) {
        Dispatch(0, itsCount[0], false, PeakCandidate{}, PeakCandidate{});
        Dispatch(1, itsCount[1], true, PeakCandidate{}, PeakCandidate{});
    }
}

TouchEngine* TouchDetector::EngineInForce() const {
    return itsMode ? theEngines[static_cast<size_t>(*itsMode)] : nullptr;
}

void TouchDetector::PeriodicRefresh() {
    // Both axes call in every period; letting every other call through runs this once per
    // period, on the X call.
    itsRefreshToggle = (itsRefreshToggle - 1) & 1;
    if (itsRefreshToggle != 1) {
        return;
    }
    itsMode = TouchModeOf(theRegistry.outputState.Selection);
    itsPressThreshold = static_cast<float>(theRegistry.senseState.PressThreshold);
    if (theCollector != nullptr) {
        theCollector->PeriodicStep();
    }
    if (TouchEngine* engine = EngineInForce()) {
        engine->PeriodicStep(theRegistry.commsActStatus.FramesLastPeriod);
    }
}

}  // namespace kv
