// The edge enhancement sliders of the "Advanced" page: the left and top sliders run inverted
// (value = 100 - position), "+" always raises the value by 5 and "-" lowers it. The sliders
// show the record whenever it changes (the driver's copy arrived, a reset, another program);
// a slider the user moved writes its position into the record.
#pragma once

#include "protocol/record_ranges.h"
#include "protocol/records.h"

namespace kv::controller {

inline constexpr int kEdgeMin = ranges::kEdge.min;
inline constexpr int kEdgeMax = ranges::kEdge.max;
inline constexpr int kEdgeStep = 5;

// Slider positions, as the user sees them.
struct EdgePositions {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    bool operator==(const EdgePositions&) const = default;
};

// Where the sliders stand for the record's values.
EdgePositions PositionsOf(const EdgeState& state);
// Writes the record's values for these positions.
void WriteEdgeValues(const EdgePositions& positions, EdgeState& state);
// Writes the values of the edges whose positions differ between from and to, leaving the
// others as the record has them; true when that changed the record.
bool WriteMovedEdges(const EdgePositions& from, const EdgePositions& to, EdgeState& state);
// A slider position moved by delta, kept within 0 ... 100.
int StepEdgePosition(int position, int delta);

class EdgeSliders {
public:
    enum class Tick {
        Show,     // the record changed: set the sliders to PositionsOf(state)
        Nothing,  // nothing moved
        Send,     // the user moved a slider: write the positions into the record and send it
    };
    // One refresh tick with the sliders' current positions. The record wins over a move made
    // in the same tick.
    Tick OnTick(const EdgePositions& shown, const EdgeState& state);
    // After Send: the positions before the move.
    const EdgePositions& Before() const { return before_; }

private:
    bool started_ = false;
    EdgePositions last_;  // the positions as last shown or sent
    EdgePositions before_;
    EdgePositions recorded_;  // the record's positions as last seen
};

}  // namespace kv::controller
