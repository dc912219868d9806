// The edge slider rules.
#include "controller/models/edge_sliders.h"

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

bool WriteMovedEdges(const EdgePositions& from, const EdgePositions& to, EdgeState& state) {
    const EdgePositions was = PositionsOf(state);
    EdgePositions now = was;
    now.left = to.left != from.left ? to.left : was.left;
    now.right = to.right != from.right ? to.right : was.right;
    now.top = to.top != from.top ? to.top : was.top;
    now.bottom = to.bottom != from.bottom ? to.bottom : was.bottom;
    if (now == was) {
        return false;
    }
    WriteEdgeValues(now, state);
    return true;
}

int StepEdgePosition(int position, int delta) {
    return std::clamp(position + delta, kEdgeMin, kEdgeMax);
}

EdgeSliders::Tick EdgeSliders::OnTick(const EdgePositions& shown, const EdgeState& state) {
    const EdgePositions record = PositionsOf(state);
    if (!started_ || !(record == recorded_)) {
        started_ = true;
        recorded_ = record;
        last_ = record;
        return Tick::Show;
    }
    if (shown == last_) {
        return Tick::Nothing;
    }
    before_ = last_;
    last_ = shown;
    recorded_ = shown;  // what the record holds once the move is written
    return Tick::Send;
}

}  // namespace kv::controller
