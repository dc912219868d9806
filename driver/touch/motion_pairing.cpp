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

bool MotionPairing::Process(DualState state, const TrackPoint& f, const TrackPoint& g,
                            FingerTrack& trackA, FingerTrack& trackB, TrackPoint& outputA,
                            TrackPoint& outputB) {
    if (trackA.Count() < kMinPoints || trackB.Count() < kMinPoints) {
        mergedFrames_ = 0;
        sinceApart_ = kHoldFrames;
        return false;
    }
    // Fingers that have not been seen apart lately (two side by side since they landed) are
    // the classic machine's: their motion on the merged axis is the merged peak's.
    const bool crossing = state == DualState::DualFinger || sinceApart_ < kHoldFrames;
    sinceApart_ = state == DualState::DualFinger ? 0 : std::min(sinceApart_ + 1, kHoldFrames);
    if (!crossing) {
        mergedFrames_ = 0;
        return false;
    }
    const TrackPoint a = Predicted(trackA, velocity_[0]);
    const TrackPoint b = Predicted(trackB, velocity_[1]);
    switch (state) {
        case DualState::DualFinger: {
            // The classified pair, the other way round, or one of the crossed pairs (the axes'
            // ghost pairing), whichever lies nearest both predictions; earlier ones win ties.
            const std::array<std::array<TrackPoint, 2>, 4> pairings = {
                {{Touching(f.x, f.y), Touching(g.x, g.y)},
                 {Touching(g.x, g.y), Touching(f.x, f.y)},
                 {Touching(f.x, g.y), Touching(g.x, f.y)},
                 {Touching(g.x, f.y), Touching(f.x, g.y)}}};
            size_t best = 0;
            double bestCost = 0.0;
            for (size_t i = 0; i < pairings.size(); ++i) {
                const double cost = Distance(a, pairings[i][0].x, pairings[i][0].y) +
                                    Distance(b, pairings[i][1].x, pairings[i][1].y);
                if (i == 0 || cost < bestCost) {
                    best = i;
                    bestCost = cost;
                }
            }
            mergedFrames_ = 0;
            Commit(pairings[best][0], pairings[best][1], trackA, trackB, outputA, outputB);
            return true;
        }
        case DualState::DualFingerSameLine: {
            // One axis shows both fingers: pair them on it. On the merged one both go where
            // their motion takes them.
            const bool mergedX = f.x == g.x;
            const double fs = mergedX ? f.y : f.x;
            const double gs = mergedX ? g.y : g.x;
            const double as = mergedX ? a.y : a.x;
            const double bs = mergedX ? b.y : b.x;
            const bool straight =
                std::fabs(as - fs) + std::fabs(bs - gs) <= std::fabs(as - gs) + std::fabs(bs - fs);
            const double sepA = straight ? fs : gs;
            const double sepB = straight ? gs : fs;
            const double peak = mergedX ? f.x : f.y;
            const double am = mergedX ? a.x : a.y;
            const double bm = mergedX ? b.x : b.y;
            if (std::fabs(am - peak) >= kReach || std::fabs(bm - peak) >= kReach) {
                break;  // a finger's motion has left the merged peak: not this pair
            }
            const TrackPoint pointA = mergedX ? Touching(am, sepA) : Touching(sepA, am);
            const TrackPoint pointB = mergedX ? Touching(bm, sepB) : Touching(sepB, bm);
            mergedFrames_ = 0;
            Commit(pointA, pointB, trackA, trackB, outputA, outputB);
            return true;
        }
        case DualState::OneFinger: {
            if (mergedFrames_ >= kHoldFrames || !Merged(f, a, b)) {
                break;
            }
            ++mergedFrames_;
            // Both go on along their motion.
            Commit(a, b, trackA, trackB, outputA, outputB);
            return true;
        }
        case DualState::NoFinger:
            break;
    }
    mergedFrames_ = 0;
    return false;
}

void MotionPairing::Commit(TrackPoint a, TrackPoint b, FingerTrack& trackA, FingerTrack& trackB,
                           TrackPoint& outputA, TrackPoint& outputB) {
    const TrackPoint& lastA = trackA.Last();
    const TrackPoint& lastB = trackB.Last();
    velocity_[0].x += kVelocityWeight * (a.x - lastA.x - velocity_[0].x);
    velocity_[0].y += kVelocityWeight * (a.y - lastA.y - velocity_[0].y);
    velocity_[1].x += kVelocityWeight * (b.x - lastB.x - velocity_[1].x);
    velocity_[1].y += kVelocityWeight * (b.y - lastB.y - velocity_[1].y);
    trackA.Append(a);
    trackB.Append(b);
    outputA = a;
    outputB = b;
}

void MotionPairing::Forget(const FingerTrack& trackA, const FingerTrack& trackB) {
    if (trackA.Empty()) {
        velocity_[0] = {};
    }
    if (trackB.Empty()) {
        velocity_[1] = {};
    }
}

}  // namespace kv
