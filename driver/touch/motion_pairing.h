// The precise path's two-finger pairing. On a foil that senses rows and columns, two fingers
// whose rows or columns meet give one peak on that axis (one above the other, side by side)
// or on both (crossing); the classic machine then moves both fingers to the merged peak, or
// drops one and lands it again as a new touch. Here each finger keeps a velocity learnt while
// both are seen apart, and where the peaks merge each goes on where its motion takes it: the
// merged axis from that prediction, the other from the peak it is paired with.
#pragma once

#include <array>
#include <cstdint>

#include "driver/touch/finger_track.h"

namespace kv {

enum class DualState : int32_t;

class MotionPairing {
public:
    // A track must have lasted this many frames before its finger is held through a merge, so
    // that a noise peak beside one finger does not become a second contact.
    static constexpr int32_t kMinPoints = 5;
    // Frames two fingers may stay merged on both axes (at 100 fps, a slow crossing's second).
    static constexpr int32_t kHoldFrames = 100;
    // How near (of the foil, per axis) a merged peak must be to where a finger goes next.
    static constexpr double kReach = 0.08;
    // Weight of the newest step in a finger's velocity.
    static constexpr double kVelocityWeight = 0.3;

    // Pairs the classified fingers of a frame with both tracks, appends them and gives the
    // outputs in track order. False when the frame is not one for it (fewer than two lasting
    // tracks, no finger, or one finger away from where both go): the classic machine takes it.
    bool Process(DualState state, const TrackPoint& f, const TrackPoint& g, FingerTrack& trackA,
                 FingerTrack& trackB, TrackPoint& outputA, TrackPoint& outputB);
    // A track that has ended takes its velocity with it.
    void Forget(const FingerTrack& trackA, const FingerTrack& trackB);

    int32_t MergedFrames() const { return mergedFrames_; }

private:
    struct Velocity {
        double x = 0.0;
        double y = 0.0;
    };

    static TrackPoint Predicted(const FingerTrack& track, const Velocity& v);
    bool Merged(const TrackPoint& finger, const TrackPoint& a, const TrackPoint& b) const;
    // Learns both velocities from the step to a and b, and appends them.
    void Commit(TrackPoint a, TrackPoint b, FingerTrack& trackA, FingerTrack& trackB,
                TrackPoint& outputA, TrackPoint& outputB);

    std::array<Velocity, 2> velocity_{};
    int32_t mergedFrames_ = 0;
    int32_t sinceApart_ = kHoldFrames;  // frames since both fingers were last seen apart
};

}  // namespace kv
