// Selections 2 and 3: the two-finger state machine.
#include "driver/touch/dual_touch_state.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kv {

namespace {

TrackPoint Touching(double x, double y, float strength) {
    return TrackPoint{x, y, touch_state::kTouching, strength};
}

PointerSample ToSample(const TrackPoint& p) {
    return PointerSample{p.state, static_cast<float>(p.x), static_cast<float>(p.y), 0.0f, 0};
}

}  // namespace

void StateNoFingerProcessor::Process(const TrackPoint& fingerA, const TrackPoint& fingerB,
                                     FingerTrack& trackA, FingerTrack& trackB) {
    outputA_ = fingerA;
    outputB_ = fingerB;
    trackA.Clear();
    trackB.Clear();
}

void StateOneFingerProcessor::Process(const TrackPoint& fingerA, const TrackPoint& fingerB,
                                      FingerTrack& trackA, FingerTrack& trackB) {
    TrackPoint finger = fingerA;
    bool onTrackA = true;
    if (trackA.Empty() || trackB.Empty()) {
        onTrackA = trackB.Empty();
    } else {
        // Track B wins ties; the track the finger left is forgotten.
        onTrackA = trackA.Cost(finger) < trackB.Cost(finger);
        (onTrackA ? trackB : trackA).Clear();
    }
    // Outputs follow the tracks, so a lifted second finger never swaps the remaining
    // finger's channel.
    if (onTrackA) {
        trackA.Append(finger);
        outputA_ = finger;
        outputB_ = fingerB;
    } else {
        trackB.Append(finger);
        outputA_ = fingerB;
        outputB_ = finger;
    }
}

void StateDualFingerProcessor::Process(const TrackPoint& fingerA, const TrackPoint& fingerB,
                                       FingerTrack& trackA, FingerTrack& trackB) {
    // The classified pair and the crossed pair (the ghost pairing of the two axes).
    const float crossed = std::min(fingerA.strength, fingerB.strength);
    const std::array<TrackPoint, 4> candidates = {Touching(fingerA.x, fingerA.y, fingerA.strength),
                                                  Touching(fingerB.x, fingerB.y, fingerB.strength),
                                                  Touching(fingerA.x, fingerB.y, crossed),
                                                  Touching(fingerB.x, fingerA.y, crossed)};
    // Each candidate's partner: B for A, S for P and the reverse.
    constexpr std::array<size_t, 4> kPartner = {1, 0, 3, 2};

    size_t forA = 0;
    size_t forB = 1;
    if (!trackA.Empty() && !trackB.Empty()) {
        // (A, B), (B, A), (P, S), (S, P); earlier assignments win ties.
        double best = 0.0;
        for (size_t i = 0; i < candidates.size(); ++i) {
            const double cost = trackA.Cost(candidates[i]) + trackB.Cost(candidates[kPartner[i]]);
            if (i == 0 || cost < best) {
                best = cost;
                forA = i;
            }
        }
        forB = kPartner[forA];
    } else if (!trackA.Empty() || !trackB.Empty()) {
        const FingerTrack& held = trackA.Empty() ? trackB : trackA;
        size_t chosen = 0;
        double best = held.Cost(candidates[0]);
        for (size_t i = 1; i < candidates.size(); ++i) {
            const double cost = held.Cost(candidates[i]);
            if (cost < best) {
                best = cost;
                chosen = i;
            }
        }
        forA = trackA.Empty() ? kPartner[chosen] : chosen;
        forB = kPartner[forA];
    }
    // Two fingers landing in the same frame start both tracks with the classified pair.
    TrackPoint pointA = candidates[forA];
    TrackPoint pointB = candidates[forB];
    trackA.Append(pointA);
    trackB.Append(pointB);
    outputA_ = pointA;
    outputB_ = pointB;
}

void StateDualFingerSameLineProcessor::Process(const TrackPoint& fingerA, const TrackPoint& fingerB,
                                               FingerTrack& trackA, FingerTrack& trackB) {
    TrackPoint pointA = fingerA;
    TrackPoint pointB = fingerB;
    if (!trackA.Empty() && !trackB.Empty()) {
        const double straight = trackA.Cost(pointA) + trackB.Cost(pointB);
        const double swapped = trackA.Cost(pointB) + trackB.Cost(pointA);
        if (swapped < straight) {
            std::swap(pointA, pointB);
        }
        // Two fingers on one line share a peak on one axis, so their direction of motion
        // cannot be told apart: no direction update.
        trackA.AppendWithoutDirection(pointA);
        trackB.AppendWithoutDirection(pointB);
    } else if (!trackA.Empty()) {
        if (trackA.Cost(pointB) < trackA.Cost(pointA)) {
            std::swap(pointA, pointB);
        }
        trackA.Append(pointA);
        trackB.Append(pointB);
    } else if (!trackB.Empty()) {
        if (trackB.Cost(pointA) < trackB.Cost(pointB)) {
            std::swap(pointA, pointB);
        }
        trackB.Append(pointB);
        trackA.Append(pointA);
    } else {
        trackA.Append(pointA);
        trackB.Append(pointB);
    }
    outputA_ = pointA;
    outputB_ = pointB;
}

DualTouchState::DualTouchState(const OutputContext& context, TouchMode mode, FingerTrack& trackA,
                               FingerTrack& trackB, FingerPairOutput& pairOutput, TouchPath path)
    : path_(path),
      processors_{&noFinger_, &oneFinger_, &dualFinger_, &dualFingerSameLine_},
      trackA_(trackA),
      trackB_(trackB),
      // The virtual touch device reports in the panel's own orientation: no rotation.
      pipelineA_(context, PointerPipeline::Wiring{mode, mode != TouchMode::TwoFingerNative, nullptr,
                                                  nullptr, path}),
      pipelineB_(context, PointerPipeline::Wiring{mode, mode != TouchMode::TwoFingerNative,
                                                  &pipelineA_, &pairOutput, path}) {}

void DualTouchState::Refresh() {
    pipelineA_.Refresh();
    pipelineB_.Refresh();
}

void DualTouchState::SetGestureLimits(int32_t framesLastPeriod) {
    // About 105 ms and 154 ms of frames (the period is two seconds).
    trackA_.SetLimits(framesLastPeriod / 19, framesLastPeriod / 13);
    trackB_.SetLimits(framesLastPeriod / 19, framesLastPeriod / 13);
}

void DualTouchState::PeriodicStep(int32_t framesLastPeriod) {
    SetGestureLimits(framesLastPeriod);
    // 30 ms of frames (the period is two seconds), two at the least.
    liftHoldFrames_ = std::max(2, framesLastPeriod * 3 / 200);
    Refresh();
}

void DualTouchState::Feed(const PeakCandidate& first, const PeakCandidate& second,
                          bool frameComplete, float threshold, bool palm) {
    if (!frameComplete) {
        firstX_ = first;
        secondX_ = second;
        thresholdX_ = threshold;
        return;
    }
    palmFrames_ = palm ? palmFrames_ + 1 : 0;
    if (path_ == TouchPath::Precise && palm) {
        // A palm's frame carries no peaks. Two wide fingers close together can look like a
        // palm for a frame or two: the tracks stay as they are, so that the fingers keep
        // their channels, and the outputs drop out for the lift hold to bridge; a palm that
        // stays ends the tracks with its contacts.
        if (palmFrames_ > liftHoldFrames_) {
            trackA_.Clear();
            trackB_.Clear();
            motion_.Follow(trackA_, trackB_);
        }
        state_ = DualState::NoFinger;
        outputA_.state = touch_state::kNone;
        outputB_.state = touch_state::kNone;
        Submit(palm);
        return;
    }
    Classification c = Classify(firstX_, secondX_, thresholdX_, first, second, threshold);
    // Finger A of the classification has the stronger peak of each axis: its share of both.
    const auto share = [](const PeakCandidate& p, const PeakCandidate& q) {
        const double sum = static_cast<double>(p.amplitude) + q.amplitude;
        return sum > 0.0 ? std::max(p.amplitude, q.amplitude) / sum : 0.5;
    };
    // The weaker peak's amplitude over the stronger's.
    const auto weak = [](const PeakCandidate& p, const PeakCandidate& q) {
        const double strong = std::max(p.amplitude, q.amplitude);
        return strong > 0.0 ? std::min(p.amplitude, q.amplitude) / strong : 1.0;
    };
    if (path_ == TouchPath::Precise &&
        (c.state == DualState::DualFinger || c.state == DualState::DualFingerSameLine) &&
        motion_.Unstray(c.fingerA, c.fingerB, trackA_, trackB_, weak(firstX_, secondX_),
                        weak(first, second))) {
        if (c.fingerA.x == c.fingerB.x && c.fingerA.y == c.fingerB.y) {
            c.state = DualState::OneFinger;
            c.fingerB.state = touch_state::kNone;
        } else {
            ResolveSameLine(c);
        }
    }
    state_ = c.state;
    if (path_ == TouchPath::Precise &&
        motion_.Process(c.state, c.fingerA, c.fingerB, trackA_, trackB_, outputA_, outputB_,
                        share(firstX_, secondX_), share(first, second))) {
        // Two fingers kept apart where their peaks merge: both stay touching.
        state_ = DualState::DualFinger;
    } else {
        FingerStateProcessor& processor = *processors_[static_cast<size_t>(c.state)];
        processor.Process(c.fingerA, c.fingerB, trackA_, trackB_);
        outputA_ = processor.OutputA();
        outputB_ = processor.OutputB();
    }
    motion_.Follow(trackA_, trackB_);
    Submit(palm);
}

void DualTouchState::Submit(bool palm) {
    // The machine's outputs, as contacts that land and lift cleanly.
    TrackPoint contactA = outputA_;
    TrackPoint contactB = outputB_;
    // A palm's frames are held as any drop-out is, for a few frames (two fingers close
    // together can look like one for a frame or two); a palm that stays cancels the contacts
    // where the hold would have lifted them.
    if (palm && palmFrames_ > liftHoldFrames_) {
        pipelineA_.Submit(Cancel(0), kEngineId, 0);
        pipelineB_.Submit(Cancel(1), kEngineId, 1);
        return;
    }
    HoldLift(0, contactA);
    HoldLift(1, contactB);
    pipelineA_.Submit(ToSample(contactA), kEngineId, 0);
    pipelineB_.Submit(ToSample(contactB), kEngineId, 1);
}

PointerSample DualTouchState::Cancel(size_t channel) {
    LiftHold& hold = liftHolds_[channel];
    PointerSample sample;
    sample.palm = hold.down;
    hold = LiftHold{};
    return sample;
}

void DualTouchState::HoldLift(size_t channel, TrackPoint& output) {
    LiftHold& hold = liftHolds_[channel];
    // A contact held through a drop-out does not resume far from where it was held on a
    // peak much weaker than its finger's: a finger that has lifted leaves noise, which passes
    // a low threshold on both axes now and then, and the contact would jump there before it
    // lifted. (Two fingers whose peaks have merged come back apart at their full strength.)
    if (output.state >= touch_state::kTouching && hold.down && hold.missing > 0 &&
        std::hypot(output.x - hold.last.x, output.y - hold.last.y) > kResumeReach &&
        output.strength > 0.0f && output.strength < kResumeStrength * hold.last.strength) {
        output.state = touch_state::kNone;
    }
    if (output.state >= touch_state::kTouching) {
        if (!hold.down && ++hold.seen < kLandFrames) {
            // Not landed yet. The precise path's filter is given it already (as a finger near,
            // which lands no contact), so that the contact lands at the mean of both frames.
            output.state = path_ == TouchPath::Precise ? touch_state::kHover : touch_state::kNone;
            return;
        }
        hold.down = true;
        const float strength = output.strength > 0.0f ? output.strength : hold.last.strength;
        hold.last = output;
        hold.last.strength = strength;  // the last known, where this frame's is not
        hold.missing = 0;
        return;
    }
    hold.seen = 0;
    if (hold.down && hold.missing < liftHoldFrames_) {
        ++hold.missing;
        output = hold.last;
        return;
    }
    hold.down = false;
}

Classification DualTouchState::Classify(const PeakCandidate& firstX, const PeakCandidate& secondX,
                                        float thresholdX, const PeakCandidate& firstY,
                                        const PeakCandidate& secondY, float thresholdY) {
    // Finger A takes the stronger peak of each axis; ties give A the second-listed peak.
    const bool firstStrongerX = firstX.amplitude > secondX.amplitude;
    const PeakCandidate& strongX = firstStrongerX ? firstX : secondX;
    const PeakCandidate& weakX = firstStrongerX ? secondX : firstX;
    const bool firstStrongerY = firstY.amplitude > secondY.amplitude;
    const PeakCandidate& strongY = firstStrongerY ? firstY : secondY;
    const PeakCandidate& weakY = firstStrongerY ? secondY : firstY;

    Classification c;
    c.fingerA = TrackPoint{strongX.position, strongY.position, touch_state::kNone,
                           std::min(strongX.amplitude, strongY.amplitude)};
    c.fingerB = TrackPoint{weakX.position, weakY.position, touch_state::kNone,
                           std::min(weakX.amplitude, weakY.amplitude)};
    if (strongX.amplitude <= thresholdX || strongY.amplitude <= thresholdY) {
        c.state = DualState::NoFinger;
        return c;
    }
    // A second finger lands only well above the threshold; once both are tracked the
    // threshold holds it. A side lobe of one finger, or a noisy electrode, crosses the
    // threshold beside a finger now and then and would land as a touch with no finger.
    const bool secondLanding = trackA_.Empty() || trackB_.Empty();
    const float margin = secondLanding ? kSecondLandingMargin : 1.0f;
    const bool twoX = weakX.amplitude > margin * thresholdX;
    const bool twoY = weakY.amplitude > margin * thresholdY;
    if (twoX && twoY) {
        c.state = DualState::DualFinger;
        c.fingerA.state = touch_state::kTouching;
        c.fingerB.state = touch_state::kTouching;
        return c;
    }
    if (twoX) {
        c.fingerB.y = c.fingerA.y;  // one Y peak: both fingers on one horizontal line
        ResolveSameLine(c, weakX.amplitude >= kLandTogether * strongX.amplitude);
        return c;
    }
    if (twoY) {
        c.fingerB.x = c.fingerA.x;
        ResolveSameLine(c, weakY.amplitude >= kLandTogether * strongY.amplitude);
        return c;
    }
    c.state = DualState::OneFinger;
    c.fingerA.state = touch_state::kTouching;
    // A one-finger frame ends any grace period in progress.
    for (FingerTrack* track : {&trackA_, &trackB_}) {
        if (track->Grace() < track->SecondLimit()) {
            track->SetGrace(0);
        }
    }
    return c;
}

void DualTouchState::ResolveSameLine(Classification& c, bool together) {
    // While the grace period runs, a second finger on an occupied line is taken as the
    // existing finger's continuation: the finger that continues best becomes finger A.
    // On a free foil, unless the two land together, the finger of the stronger peaks is taken
    // for the existing one, so that a weak second peak on its line waits out the grace period
    // as well: a noisy electrode on the line of a landing finger otherwise landed as a second
    // contact at once, for a frame or two.
    FingerTrack* held = nullptr;
    FingerTrack* idle = nullptr;
    const bool freeFoil = trackA_.Empty() && trackB_.Empty();
    if (freeFoil && !together) {
        held = &trackA_;
        idle = &trackB_;
    } else if (trackA_.Empty() && !trackB_.Empty() && trackA_.Grace() < trackA_.SecondLimit()) {
        held = &trackB_;
        idle = &trackA_;
    } else if (!trackA_.Empty() && trackB_.Grace() < trackB_.SecondLimit()) {
        held = &trackA_;
        idle = &trackB_;
    }
    if (held == nullptr) {
        c.state = DualState::DualFingerSameLine;
        c.fingerA.state = touch_state::kTouching;
        c.fingerB.state = touch_state::kTouching;
        return;
    }
    if (!freeFoil && held->Cost(c.fingerB) < held->Cost(c.fingerA)) {
        std::swap(c.fingerA, c.fingerB);
    }
    c.state = DualState::OneFinger;
    c.fingerA.state = touch_state::kTouching;
    c.fingerB.state = touch_state::kNone;
    idle->SetGrace(idle->Grace() + 1);
}

}  // namespace kv
