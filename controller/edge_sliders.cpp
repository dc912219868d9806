// The edge slider rules.
#include "controller/edge_sliders.h"

#include <algorithm>

namespace kv::controller {

EdgePositions PositionsOf(const EdgeState& state) {
    EdgePositions p;
    p.left = std::clamp(kEdgeMax - state.Left, kEdgeMin, kEdgeMax);
    p.right = std::clamp<int>(state.Right, kEdgeMin, kEdgeMax);
    p.top = std::clamp(kEdgeMax - state.Top, kEdgeMin, kEdgeMax);
    p.bottom = std::clamp<int>(state.Bottom, kEdgeMin, kEdgeMax);
    return p;
}

void WriteEdgeValues(const EdgePositions& positions, EdgeState& state) {
    state.Left = kEdgeMax - positions.left;
    state.Top = kEdgeMax - positions.top;
    state.Bottom = positions.bottom;
    state.Right = positions.right;
}

int StepEdgePosition(int position, int delta) {
    return std::clamp(position + delta, kEdgeMin, kEdgeMax);
}

EdgeSliders::Tick EdgeSliders::OnTick(const EdgePositions& shown, EdgeState& state) {
    if (ticks_ < kEdgeStartupTicks) {
        // Values the driver sends after start are shown; what the user moved is overwritten.
        ++ticks_;
        last_ = PositionsOf(state);
        return Tick::Show;
    }
    if (shown == last_) {
        return Tick::Nothing;
    }
    last_ = shown;
    WriteEdgeValues(shown, state);
    return Tick::Send;
}

}  // namespace kv::controller
