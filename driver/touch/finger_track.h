// The recent path of one tracked finger for the two-finger engines: a ring of points, the
// direction of motion, a pending jump and the grace counter for same-line fingers.
#pragma once

#include <array>
#include <cstdint>

namespace kv {

// A finger position in normalised sensor coordinates with its touch state.
struct TrackPoint {
    double x = 0.0;
    double y = 0.0;
    int32_t state = 0;
    // The weaker of its two peaks' amplitudes, where the classification gave it (0: not known).
    float strength = 0.0f;
};

class FingerTrack {
public:
    static constexpr int32_t kPoints = 128;
    // A step this long in one frame is a jump; a jump is followed only when the next frame
    // confirms it within kJumpConfirm.
    static constexpr double kJump = 0.1;
    static constexpr double kJumpConfirm = 0.07;
    // The direction is re-estimated once the finger has moved this far.
    static constexpr double kDirectionStep = 0.03;
    // Weight of distance against motion in the continuation cost (1 + 1/sqrt(2)).
    static constexpr double kDistanceWeight = 1.7071068;

    bool Empty() const { return count_ == 0; }
    int32_t Count() const { return count_; }
    // The last stored point; only meaningful when the track is not empty.
    const TrackPoint& Last() const;

    // How well p continues this track: lower is better; points ahead of the motion cost less.
    double Cost(const TrackPoint& p) const;
    // Appends p. A jump of kJump or more is held back as pending and p.state becomes 0, so
    // that no touch is reported this frame.
    void Append(TrackPoint& p);
    // Same-line rule: a point kJump or more away is not stored and p.state becomes 0;
    // otherwise it is stored without a direction update.
    void AppendWithoutDirection(TrackPoint& p);
    // Empties the track; the direction estimator is left as it is.
    void Clear();

    // first = frames per two-second period / 19, second = / 13.
    void SetLimits(int32_t first, int32_t second) {
        firstLimit_ = first;
        secondLimit_ = second;
    }
    int32_t FirstLimit() const { return firstLimit_; }
    int32_t SecondLimit() const { return secondLimit_; }

    int32_t Grace() const { return grace_; }
    void SetGrace(int32_t grace) { grace_ = grace; }

    bool HasPending() const { return hasPending_; }
    bool DirectionValid() const { return directionValid_; }
    double DirectionX() const { return directionX_; }
    double DirectionY() const { return directionY_; }

private:
    void Store(const TrackPoint& p);
    void UpdateDirection(const TrackPoint& p);

    std::array<TrackPoint, kPoints> points_{};
    int32_t count_ = 0;
    int32_t write_ = 0;

    TrackPoint directionLast_;
    double directionX_ = 0.0;
    double directionY_ = 0.0;
    int32_t directionSamples_ = 0;
    bool directionValid_ = false;

    TrackPoint pending_;
    bool hasPending_ = false;

    int32_t firstLimit_ = 4;
    int32_t secondLimit_ = 6;
    int32_t grace_ = 0;
};

}  // namespace kv
