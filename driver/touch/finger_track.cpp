// The recent path of one tracked finger.
#include "driver/touch/finger_track.h"

#include <cmath>

namespace kv {

namespace {

double Distance(const TrackPoint& a, const TrackPoint& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

}  // namespace

const TrackPoint& FingerTrack::Last() const {
    return points_[static_cast<size_t>((write_ + kPoints - 1) % kPoints)];
}

double FingerTrack::Cost(const TrackPoint& p) const {
    const TrackPoint& last = Last();
    const double dx = p.x - last.x;
    const double dy = p.y - last.y;
    return kDistanceWeight * std::hypot(dx, dy) - (dx * directionX_ + dy * directionY_);
}

void FingerTrack::Append(TrackPoint& p) {
    grace_ = secondLimit_;
    if (count_ > 0 && Distance(p, Last()) >= kJump) {
        if (!hasPending_ || Distance(pending_, p) >= kJumpConfirm) {
            pending_ = p;
            hasPending_ = true;
            p.state = 0;
            return;
        }
        // The frame after a jump landed near it: the finger really moved there.
    }
    hasPending_ = false;
    Store(p);
    UpdateDirection(p);
}

void FingerTrack::AppendWithoutDirection(TrackPoint& p) {
    grace_ = secondLimit_;
    if (count_ > 0 && Distance(p, Last()) >= kJump) {
        p.state = 0;
        return;
    }
    hasPending_ = false;
    Store(p);
}

// Empties the path and ends the grace; the direction estimator carries over to the next
// finger on this track.
void FingerTrack::Clear() {
    count_ = 0;
    write_ = 0;
    hasPending_ = false;
    grace_ = 0;
}

void FingerTrack::Store(const TrackPoint& p) {
    points_[static_cast<size_t>(write_)] = p;
    write_ = (write_ + 1) % kPoints;
    if (count_ < kPoints) {
        ++count_;
    }
}

// The direction is measured from the last point it was measured at (the origin before the
// first measurement), once two samples have passed and the finger is more than a step away.
void FingerTrack::UpdateDirection(const TrackPoint& p) {
    const double distance = Distance(p, directionLast_);
    if (distance > kDirectionStep && directionSamples_ >= 2) {
        directionX_ = (p.x - directionLast_.x) / distance;
        directionY_ = (p.y - directionLast_.y) / distance;
        directionValid_ = true;
        directionLast_ = p;
    } else if (directionSamples_ < 2) {
        ++directionSamples_;
    }
}

}  // namespace kv
