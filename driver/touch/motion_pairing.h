// The precise path's two-finger pairing. On a foil that senses rows and columns, two fingers
// whose rows or columns meet give one peak on that axis (one above the other, side by side)
// or on both (crossing); the classic machine then moves both fingers to the merged peak, or
// drops one and lands it again as a new touch. Here each finger keeps a velocity (the median
// of its recent steps), and where the peaks merge each goes on where its motion takes it: the
// merged axis from that prediction (never farther from the merged peak than a finger can be),
// the other from the peak it is paired with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/touch/finger_track.h"

namespace kv {

enum class DualState : int32_t;

class MotionPairing {
public:
    // A track must have lasted this many frames before its finger is held through a merge, so
    // that a noise peak beside one finger does not become a second contact.
    static constexpr int32_t kMinPoints = 5;
    // Frames two fingers may stay merged on both axes (at 100 fps, a slow crossing's second),
    // and frames the pairing by motion goes on without seeing them apart on both axes at once:
    // wide fingers crossing diagonally stay merged on one axis for about a second.
    static constexpr int32_t kHoldFrames = 100;
    static constexpr int32_t kLineHoldFrames = 2 * kHoldFrames;
    // How near (of the foil, per axis) a merged peak must be to where a finger goes next; on
    // an axis that merges while the other still shows both, the farther of two fingers may be
    // two pitches or more from the one peak (it lies nearer the stronger finger).
    static constexpr double kReach = 0.08;
    static constexpr double kLineReach = 0.12;
    // Frames over which a finger's velocity is measured: the median of its steps over them,
    // not its last steps, so that a resting finger's placement noise, or the one step its peak
    // makes as the other finger's pulls on it, does not become a drift that a long merge
    // carries it away on.
    static constexpr int32_t kVelocityFrames = 16;
    // A finger that has moved less than this (of the foil) along an axis over those frames is
    // at rest on it: its placement noise is no velocity, and a merge holds it where it is.
    static constexpr double kStill = 0.006;
    // On an axis where the fingers are this near (of the foil), a finger at rest while the
    // other moves is held where it rests: the other's peak pulls on its own, or merges with it.
    // A held finger whose own peak stays this far from where it is held for more than
    // kReleaseFrames has moved itself.
    static constexpr double kNear = 0.15;
    static constexpr double kRelease = 0.03;
    static constexpr int32_t kReleaseFrames = 10;
    static constexpr double kMoving = 0.025;
    // Where a resting finger is held is where it rested while the other was at least this far
    // (of the foil) on that axis: nearer, the other's tail already pulls on its placement
    // before the hold takes it (a wide finger's by a twentieth of a pitch and more). The mean
    // weighs about its last kCalmFrames such frames.
    static constexpr double kFar = 2.0 * kNear;
    static constexpr int32_t kCalmFrames = 64;

    // A frame whose weaker peak on an axis lies far from where both fingers go while the
    // stronger lies near one of them, and is well under the stronger's amplitude: that peak is
    // no finger (noise or a side lobe crossing the threshold), and g is given f's place on that
    // axis. weakX and weakY: the weaker peak's amplitude over the stronger's on each axis.
    // True when it did on either axis; the frame is then one of fingers on one line, or of one
    // peak where it did on both (noise crossing the threshold while the fingers' peaks have
    // merged on both axes).
    static constexpr double kNoiseShare = 0.5;
    bool Unstray(TrackPoint& f, TrackPoint& g, const FingerTrack& trackA, const FingerTrack& trackB,
                 double weakX, double weakY) const;
    // Pairs the classified fingers of a frame with both tracks, appends them and gives the
    // outputs in track order. False when the frame is not one for it (fewer than two lasting
    // tracks, no finger, or one finger away from where both go): the classic machine takes it.
    // shareX and shareY: f's share of the two peaks' amplitudes on each axis that shows both.
    bool Process(DualState state, const TrackPoint& f, const TrackPoint& g, FingerTrack& trackA,
                 FingerTrack& trackB, TrackPoint& outputA, TrackPoint& outputB, double shareX = 0.5,
                 double shareY = 0.5);
    // After every frame, whichever machine took it: the tracks' newest points are kept for
    // the velocities, and a track that has ended takes its velocity with it.
    void Follow(const FingerTrack& trackA, const FingerTrack& trackB);

    int32_t MergedFrames() const { return mergedFrames_; }

private:
    struct Velocity {
        double x = 0.0;
        double y = 0.0;
    };

    // A finger's last kVelocityFrames + 1 points, one a frame.
    struct Recent {
        std::array<TrackPoint, kVelocityFrames + 1> points{};
        int32_t count = 0;
        int32_t write = 0;
        // The point `back` frames before the newest (0: the newest).
        const TrackPoint& Back(int32_t back) const {
            constexpr int32_t size = kVelocityFrames + 1;
            return points[static_cast<size_t>((write - 1 - back + 2 * size) % size)];
        }
    };

    // The pairing of two peaks per axis with the predictions a and b, and the axes on which
    // it lies farther from them than a finger can be.
    struct Pairing {
        TrackPoint a;
        TrackPoint b;
        bool strayX = false;
        bool strayY = false;
        bool crossed = false;  // a and b take one axis from f and the other from g
        bool swapped = false;  // a is g
    };

    static TrackPoint Predicted(const FingerTrack& track, const Velocity& v);
    // anchor: a finger (0: a, 1: b) whose nearness alone decides, and whose being near its
    // prediction makes the pairing stand; -1: both decide.
    static Pairing Pair(const TrackPoint& f, const TrackPoint& g, const TrackPoint& a,
                        const TrackPoint& b, int32_t anchor = -1);
    static Velocity VelocityOf(const Recent& recent);
    // The velocity a finger goes on with: its own while the fingers are apart, the one it had
    // when they merged while they stay merged (the points since are predictions, not steps).
    Velocity Motion(std::size_t finger) const;
    bool Merged(const TrackPoint& finger, const TrackPoint& a, const TrackPoint& b) const;
    // f and g share one axis's peak (the merged axis); the other pairs them with a and b.
    // shareF: f's share of the amplitudes on the other.
    void OnOneLine(const TrackPoint& f, const TrackPoint& g, const TrackPoint& a,
                   const TrackPoint& b, FingerTrack& trackA, FingerTrack& trackB,
                   TrackPoint& outputA, TrackPoint& outputB, double shareF);
    // Appends a and b, a finger held at rest where it rests, to the tracks and gives them as
    // the outputs; seen says per axis whether a and b are the fingers' own peaks on it.
    void Commit(TrackPoint a, TrackPoint b, FingerTrack& trackA, FingerTrack& trackB,
                TrackPoint& outputA, TrackPoint& outputB, bool seenX = true, bool seenY = true);
    // The hold of one axis (0: x, 1: y) on the coordinates pa and pb of the two fingers. On a
    // merged axis (not seen) where one is held, the other is placed from the merged peak less
    // the held finger's share of it.
    void HoldStill(std::size_t axis, double& pa, double& pb, bool seen, double peak);
    // Learns track A's share of the two fingers' amplitudes on an axis.
    void LearnShare(std::size_t axis, double shareA);
    // How far a finger has gone along an axis over its recent frames; negative while it has
    // fewer.
    static double MovedOn(const Recent& recent, std::size_t axis);
    static double MeanOn(const Recent& recent, std::size_t axis);
    // After a frame: the finger's rest while the other is far, given the other's track.
    void FollowCalm(std::size_t finger, const FingerTrack& other);

    std::array<Recent, 2> recent_{};
    std::array<Velocity, 2> held_{};
    bool merging_ = false;  // the last frame was committed as merged
    // Per finger and axis: held at rest, and where.
    struct Rest {
        bool held = false;
        double at = 0.0;
        int32_t away = 0;  // frames in a row its own peak has been kRelease or more away
    };
    std::array<std::array<Rest, 2>, 2> rest_{};
    // Per finger and axis: where it has rested while the other was far (or none), and over how
    // many frames; cleared once it moves.
    struct Calm {
        double mean = 0.0;
        int32_t frames = 0;
    };
    std::array<std::array<Calm, 2>, 2> calm_{};
    // Per axis: frames (up to kMinPoints) it has shown both fingers apart. Only fingers seen
    // apart on an axis are held on it: two on one line since they landed have no place apart.
    std::array<int32_t, 2> apart_{};
    // Per axis: the fingers have shown apart on it for kMinPoints frames since both lasted. Two
    // side by side on one line whose peak splits for a frame or two (a dead electrode under
    // it) are not fingers crossing there: the merged peak is both their place on it.
    std::array<bool, 2> seenApart_{};
    // Per axis: track A's share of the amplitude of a merged peak, as seen while the fingers were
    // apart on it. The axes differ: a finger between two electrodes on one reads less there.
    static constexpr double kShareKeep = 0.9;
    std::array<double, 2> shareA_{0.5, 0.5};
    TrackPoint peak_;  // the frame's first finger: on a merged axis, the one peak
    int32_t mergedFrames_ = 0;
    int32_t sinceApart_ = kLineHoldFrames;  // frames since both fingers were last seen apart
};

}  // namespace kv
