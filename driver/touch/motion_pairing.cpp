// The precise path's two-finger pairing by motion.
#include "driver/touch/motion_pairing.h"

#include <algorithm>
#include <cmath>

#include "driver/core/pointer_sample.h"
#include "driver/touch/dual_touch_state.h"

namespace kv {

namespace {

TrackPoint Touching(double x, double y) {
    return TrackPoint{std::clamp(x, 0.0, 1.0), std::clamp(y, 0.0, 1.0), touch_state::kTouching};
}

double Distance(const TrackPoint& p, double x, double y) {
    return std::hypot(p.x - x, p.y - y);
}

}  // namespace

TrackPoint MotionPairing::Predicted(const FingerTrack& track, const Velocity& v) {
    const TrackPoint& last = track.Last();
    return Touching(last.x + v.x, last.y + v.y);
}

bool MotionPairing::Merged(const TrackPoint& finger, const TrackPoint& a,
                           const TrackPoint& b) const {
    auto near = [&finger](const TrackPoint& p) {
        return std::fabs(p.x - finger.x) < kReach && std::fabs(p.y - finger.y) < kReach;
    };
    // Once merged, the one peak may lie nearer the stronger finger while the other moves on.
    return mergedFrames_ > 0 ? near(a) || near(b) : near(a) && near(b);
}

MotionPairing::Pairing MotionPairing::Pair(const TrackPoint& f, const TrackPoint& g,
                                           const TrackPoint& a, const TrackPoint& b,
                                           int32_t anchor) {
    // The classified pair, the other way round, or one of the crossed pairs (the axes' ghost
    // pairing), whichever lies nearest both predictions; earlier ones win ties.
    const std::array<std::array<TrackPoint, 2>, 4> pairings = {
        {{Touching(f.x, f.y), Touching(g.x, g.y)},
         {Touching(g.x, g.y), Touching(f.x, f.y)},
         {Touching(f.x, g.y), Touching(g.x, f.y)},
         {Touching(g.x, f.y), Touching(f.x, g.y)}}};
    size_t best = 0;
    double bestCost = 0.0;
    for (size_t i = 0; i < pairings.size(); ++i) {
        const double costA = Distance(a, pairings[i][0].x, pairings[i][0].y);
        const double costB = Distance(b, pairings[i][1].x, pairings[i][1].y);
        const double cost = anchor == 0 ? costA : anchor == 1 ? costB : costA + costB;
        if (i == 0 || cost < bestCost) {
            best = i;
            bestCost = cost;
        }
    }
    Pairing pairing{pairings[best][0], pairings[best][1]};
    pairing.crossed = best >= 2;
    pairing.swapped = best == 1;
    pairing.strayX =
        std::fabs(pairing.a.x - a.x) > kLineReach || std::fabs(pairing.b.x - b.x) > kLineReach;
    pairing.strayY =
        std::fabs(pairing.a.y - a.y) > kLineReach || std::fabs(pairing.b.y - b.y) > kLineReach;
    const TrackPoint& held = anchor == 0 ? pairing.a : pairing.b;
    const TrackPoint& at = anchor == 0 ? a : b;
    if (anchor >= 0 && std::fabs(held.x - at.x) <= kLineReach &&
        std::fabs(held.y - at.y) <= kLineReach) {
        pairing.strayX = pairing.strayY = false;  // the other goes to its peaks, far or not
    }
    return pairing;
}

bool MotionPairing::Unstray(TrackPoint& f, TrackPoint& g, const FingerTrack& trackA,
                            const FingerTrack& trackB, double weakX, double weakY) const {
    if (trackA.Count() < kMinPoints || trackB.Count() < kMinPoints) {
        // Without both fingers' motion: two fingers read alike on both axes, so a second peak
        // far from the first and much weaker beside it than the other axis's second is beside
        // its first is noise (a noisy electrode), where the fingers share one peak.
        const auto noise = [](double fs, double gs, double weak, double otherWeak) {
            return fs != gs && std::fabs(gs - fs) > kLineReach && weak < kNoiseShare * otherWeak;
        };
        const bool noiseX = noise(f.x, g.x, weakX, weakY);
        const bool noiseY = noise(f.y, g.y, weakY, weakX);
        g.x = noiseX ? f.x : g.x;
        g.y = noiseY ? f.y : g.y;
        return noiseX || noiseY;
    }
    const TrackPoint a = Predicted(trackA, Motion(0));
    const TrackPoint b = Predicted(trackB, Motion(1));
    const auto far = [](double p, double u, double v) {
        return std::fabs(p - u) > kLineReach && std::fabs(p - v) > kLineReach;
    };
    // On an axis that shows one peak, f and g already share it.
    const auto stray = [&](double fs, double gs, double as, double bs, double weak) {
        return fs != gs && weak < kNoiseShare && far(gs, as, bs) && !far(fs, as, bs);
    };
    const bool strayX = stray(f.x, g.x, a.x, b.x, weakX);
    const bool strayY = stray(f.y, g.y, a.y, b.y, weakY);
    g.x = strayX ? f.x : g.x;
    g.y = strayY ? f.y : g.y;
    return strayX || strayY;
}

bool MotionPairing::Process(DualState state, const TrackPoint& f, const TrackPoint& g,
                            FingerTrack& trackA, FingerTrack& trackB, TrackPoint& outputA,
                            TrackPoint& outputB, double shareX, double shareY) {
    peak_ = f;
    const bool wasMerging = merging_;
    merging_ = false;
    if (trackA.Count() < kMinPoints || trackB.Count() < kMinPoints) {
        mergedFrames_ = 0;
        sinceApart_ = kLineHoldFrames;
        rest_ = {};
        apart_ = {};
        seenApart_ = {};
        return false;
    }
    if (!wasMerging) {
        held_ = {VelocityOf(recent_[0]), VelocityOf(recent_[1])};
    }
    const TrackPoint a = Predicted(trackA, held_[0]);
    const TrackPoint b = Predicted(trackB, held_[1]);
    // A finger held at rest takes the peaks nearest where it rests, the other the others: its
    // place is known, the other's may have gone astray while their peaks merged (its own peak
    // lost under the resting one's as it left).
    const auto resting = [this](size_t i) { return rest_[i][0].held || rest_[i][1].held; };
    const int32_t anchor = resting(0) == resting(1) ? -1 : resting(0) ? 0 : 1;
    const Pairing pairing = state == DualState::DualFinger ? Pair(f, g, a, b, anchor) : Pairing{};
    // Fingers that have not been seen apart lately (two side by side since they landed) are
    // the classic machine's: their motion on the merged axis is the merged peak's.
    const bool apart = state == DualState::DualFinger && !pairing.strayX && !pairing.strayY;
    const bool crossing = apart || sinceApart_ < kLineHoldFrames;
    sinceApart_ = apart ? 0 : std::min(sinceApart_ + 1, kLineHoldFrames);
    if (!crossing) {
        mergedFrames_ = 0;
        rest_ = {};
        apart_ = {};
        return false;
    }
    switch (state) {
        case DualState::DualFinger:
            if (!apart) {
                break;  // both far from where the fingers go: the classic machine's jump rules
            }
            mergedFrames_ = 0;
            if (!pairing.crossed) {
                LearnShare(0, pairing.swapped ? 1.0 - shareX : shareX);
                LearnShare(1, pairing.swapped ? 1.0 - shareY : shareY);
            }
            Commit(pairing.a, pairing.b, trackA, trackB, outputA, outputB);
            return true;
        case DualState::DualFingerSameLine:
            if (!seenApart_[f.x == g.x ? 0 : 1]) {
                break;  // never apart on the merged axis: side by side, the classic machine's
            }
            OnOneLine(f, g, a, b, trackA, trackB, outputA, outputB, f.x == g.x ? shareY : shareX);
            merging_ = true;
            return true;
        case DualState::OneFinger: {
            if (mergedFrames_ >= kHoldFrames || !Merged(f, a, b)) {
                break;
            }
            ++mergedFrames_;
            // Both go on along their motion.
            Commit(a, b, trackA, trackB, outputA, outputB, false, false);
            merging_ = true;
            return true;
        }
        case DualState::NoFinger:
            break;
    }
    mergedFrames_ = 0;
    rest_ = {};
    apart_ = {};
    return false;
}

void MotionPairing::OnOneLine(const TrackPoint& f, const TrackPoint& g, const TrackPoint& a,
                              const TrackPoint& b, FingerTrack& trackA, FingerTrack& trackB,
                              TrackPoint& outputA, TrackPoint& outputB, double shareF) {
    // One axis shows both fingers: pair them on it. On the merged one both go where their
    // motion takes them.
    const bool mergedX = f.x == g.x;
    const double fs = mergedX ? f.y : f.x;
    const double gs = mergedX ? g.y : g.x;
    const double as = mergedX ? a.y : a.x;
    const double bs = mergedX ? b.y : b.x;
    const bool straight =
        std::fabs(as - fs) + std::fabs(bs - gs) <= std::fabs(as - gs) + std::fabs(bs - fs);
    const double sepA = straight ? fs : gs;
    const double sepB = straight ? gs : fs;
    LearnShare(mergedX ? 1 : 0, straight ? shareF : 1.0 - shareF);
    const double peak = mergedX ? f.x : f.y;
    // On the merged axis each goes where its motion takes it, but never farther from the one
    // peak than a finger can be: a velocity learnt as the peaks pulled on each other would
    // otherwise carry it away, and the contact would lift while its finger stays.
    const double am = std::clamp(mergedX ? a.x : a.y, peak - kLineReach, peak + kLineReach);
    const double bm = std::clamp(mergedX ? b.x : b.y, peak - kLineReach, peak + kLineReach);
    const TrackPoint pointA = mergedX ? Touching(am, sepA) : Touching(sepA, am);
    const TrackPoint pointB = mergedX ? Touching(bm, sepB) : Touching(sepB, bm);
    mergedFrames_ = 0;
    Commit(pointA, pointB, trackA, trackB, outputA, outputB, !mergedX, mergedX);
}

MotionPairing::Velocity MotionPairing::Motion(size_t finger) const {
    return merging_ ? held_[finger] : VelocityOf(recent_[finger]);
}

MotionPairing::Velocity MotionPairing::VelocityOf(const Recent& recent) {
    if (recent.count < 2) {
        return {};
    }
    // The median step of each axis: one step that a near finger's pull on the peak put in
    // (a jump of a resting finger as the other comes close) does not become a drift.
    const auto at = [&](int32_t back) { return recent.Back(back); };
    std::array<double, kVelocityFrames> steps{};
    const auto median = [&](auto coordinate) {
        const int32_t n = recent.count - 1;
        for (int32_t i = 0; i < n; ++i) {
            steps[static_cast<size_t>(i)] = coordinate(at(i)) - coordinate(at(i + 1));
        }
        const auto middle = steps.begin() + n / 2;
        std::nth_element(steps.begin(), middle, steps.begin() + n);
        return *middle;
    };
    // At rest on an axis: no velocity along it.
    const TrackPoint& newest = at(0);
    const TrackPoint& oldest = at(recent.count - 1);
    const bool stillX = std::fabs(newest.x - oldest.x) < kStill;
    const bool stillY = std::fabs(newest.y - oldest.y) < kStill;
    return {stillX ? 0.0 : median([](const TrackPoint& p) { return p.x; }),
            stillY ? 0.0 : median([](const TrackPoint& p) { return p.y; })};
}

double MotionPairing::MovedOn(const Recent& recent, size_t axis) {
    if (recent.count < kVelocityFrames + 1) {
        return -1.0;  // not known yet
    }
    const auto at = [&](int32_t back) {
        const TrackPoint& p = recent.Back(back);
        return axis == 0 ? p.x : p.y;
    };
    return std::fabs(at(0) - at(recent.count - 1));
}

double MotionPairing::MeanOn(const Recent& recent, size_t axis) {
    double sum = 0.0;
    for (int32_t i = 0; i < recent.count; ++i) {
        const TrackPoint& p = recent.points[static_cast<size_t>(i)];
        sum += axis == 0 ? p.x : p.y;
    }
    return recent.count > 0 ? sum / recent.count : 0.0;
}

void MotionPairing::LearnShare(size_t axis, double shareA) {
    shareA_[axis] = kShareKeep * shareA_[axis] + (1.0 - kShareKeep) * std::clamp(shareA, 0.2, 0.8);
}

void MotionPairing::HoldStill(size_t axis, double& pa, double& pb, bool seen, double peak) {
    double* const coordinate[2] = {&pa, &pb};
    const TrackPoint& lastA = recent_[0].Back(0);
    const TrackPoint& lastB = recent_[1].Back(0);
    apart_[axis] = seen ? std::min(apart_[axis] + 1, kMinPoints) : apart_[axis];
    seenApart_[axis] = seenApart_[axis] || apart_[axis] >= kMinPoints;
    const bool near =
        axis == 0 ? std::fabs(lastA.x - lastB.x) < kNear : std::fabs(lastA.y - lastB.y) < kNear;
    const double moved[2] = {MovedOn(recent_[0], axis), MovedOn(recent_[1], axis)};
    for (size_t i = 0; i < 2; ++i) {
        Rest& rest = rest_[i][axis];
        // A peak away from where a finger rests for a frame or a few is the two peaks'
        // placement failing as they part, not the finger moving off.
        const bool away = seen && rest.held && std::fabs(*coordinate[i] - rest.at) > kRelease;
        rest.away = away ? rest.away + 1 : 0;
        if (!near || rest.away > kReleaseFrames) {
            rest = {};
            continue;
        }
        // Held once it has rested over all its recent frames while the other has clearly been
        // moving (two fingers that set off together are both moving).
        if (!rest.held && apart_[axis] >= kMinPoints && moved[i] >= 0.0 && moved[i] < kStill &&
            moved[1 - i] > kMoving) {
            rest.held = true;
            const Calm& calm = calm_[i][axis];
            // Where it rested before the other came near, unless it has since moved off it.
            const double recent = MeanOn(recent_[i], axis);
            rest.at = calm.frames >= kMinPoints && std::fabs(calm.mean - recent) < kRelease
                          ? calm.mean
                          : recent;
        }
        if (rest.held) {
            *coordinate[i] = rest.at;
        }
    }
    const bool heldA = rest_[0][axis].held;
    if (seen || heldA == rest_[1][axis].held) {
        return;
    }
    // The merged peak lies at about the mean of the two places, each by its finger's share
    // of the amplitude: the moving finger is where that puts it, given the held one.
    const double held = heldA ? pa : pb;
    const double share = heldA ? shareA_[axis] : 1.0 - shareA_[axis];
    const double moving = peak + (peak - held) * share / (1.0 - share);
    *(heldA ? &pb : &pa) = std::clamp(moving, peak - kLineReach, peak + kLineReach);
}

void MotionPairing::Commit(TrackPoint a, TrackPoint b, FingerTrack& trackA, FingerTrack& trackB,
                           TrackPoint& outputA, TrackPoint& outputB, bool seenX, bool seenY) {
    HoldStill(0, a.x, b.x, seenX, peak_.x);
    HoldStill(1, a.y, b.y, seenY, peak_.y);
    trackA.Append(a);
    trackB.Append(b);
    outputA = a;
    outputB = b;
}

void MotionPairing::Follow(const FingerTrack& trackA, const FingerTrack& trackB) {
    const FingerTrack* tracks[2] = {&trackA, &trackB};
    for (size_t i = 0; i < 2; ++i) {
        Recent& recent = recent_[i];
        if (tracks[i]->Empty()) {
            recent = {};
            rest_[i] = {};
            calm_[i] = {};
            continue;
        }
        recent.points[static_cast<size_t>(recent.write)] = tracks[i]->Last();
        recent.write = (recent.write + 1) % (kVelocityFrames + 1);
        recent.count = std::min(recent.count + 1, kVelocityFrames + 1);
        FollowCalm(i, *tracks[1 - i]);
    }
}

void MotionPairing::FollowCalm(size_t finger, const FingerTrack& other) {
    const Recent& recent = recent_[finger];
    const TrackPoint& at = recent.Back(0);
    for (size_t axis = 0; axis < 2; ++axis) {
        const double p = axis == 0 ? at.x : at.y;
        const bool far =
            other.Empty() || std::fabs((axis == 0 ? other.Last().x : other.Last().y) - p) >= kFar;
        Calm& calm = calm_[finger][axis];
        // Nearer, its placement moves with the other's pull: neither rest nor a move of its own.
        if (!far || recent.count < kVelocityFrames + 1) {
            continue;
        }
        // Its recent frames' mean away from where it rested: it has moved (one frame's
        // placement noise, a wide finger's a tenth of a pitch, is no move).
        if (calm.frames > 0 && std::fabs(MeanOn(recent, axis) - calm.mean) >= kStill) {
            calm = {};
        }
        calm.frames = std::min(calm.frames + 1, kCalmFrames);
        calm.mean += (p - calm.mean) / calm.frames;
    }
}

}  // namespace kv
