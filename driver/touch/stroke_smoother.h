// Smooths a moving finger across its way of travel, for the precise path.
//
// The position filter works per axis, so while a finger moves straight along an axis the other
// axis rests and is averaged hard, but on a diagonal both axes are open and the placement's
// frame-to-frame noise shows across the line. Along a straight stretch this keeps the filter's
// output along the way of travel as it is (no lag is added) and follows it across by a share a
// frame. The way of travel is the chord of the last kSpan frames, and only taken where both of
// its halves point the same way: at a start, a turn or on a curve nothing is changed, and an
// offset left across the line fades by the same share a frame. Fixed state, nothing allocated.
#pragma once

#include <array>
#include <cstdint>

namespace kv {

class StrokeSmoother {
public:
    static constexpr int32_t kSpan = 16;       // frames the way of travel is taken over
    static constexpr double kTravel = 0.05;    // least chord (of the foil) over kSpan frames
    static constexpr double kStraight = 0.98;  // least cosine between the chord's halves
    static constexpr double kShare = 0.15;     // of the move across the way taken a frame
    // The most the output may stand off the filter's place: on a curve, which a straight
    // stretch's chord cannot tell from noise, the output is drawn no further inwards.
    static constexpr double kReach = 0.001;

    // The smoothed place for the filter's output (x, y) of this frame.
    void Step(double& x, double& y);
    // A finger has landed: its first frame starts afresh.
    void Reset() {
        count_ = 0;
        offsetX_ = offsetY_ = 0.0;
    }

private:
    std::array<double, kSpan + 1> xs_{};
    std::array<double, kSpan + 1> ys_{};
    int32_t count_ = 0;  // frames of this touch in the ring, up to kSpan + 1
    int32_t write_ = 0;
    double offsetX_ = 0.0;  // the output less the filter's, across the way of travel
    double offsetY_ = 0.0;
    double outX_ = 0.0;  // the last output
    double outY_ = 0.0;
};

}  // namespace kv
