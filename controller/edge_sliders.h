// The edge enhancement sliders of the "Advanced" page: the left and top sliders run inverted
// (value = 100 - position), "+" always raises the value by 5 and "-" lowers it, and for the
// first 50 refresh ticks after start the sliders follow the driver's values instead of sending.
#pragma once

#include "messaging/records.h"

namespace kv::controller {

inline constexpr int kEdgeMin = 0;
inline constexpr int kEdgeMax = 100;
inline constexpr int kEdgeStep = 5;
// Refresh ticks during which the sliders show what the driver sends (about 6 s at 120 ms).
inline constexpr int kEdgeStartupTicks = 50;

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
// A slider position moved by delta, kept within 0 ... 100.
int StepEdgePosition(int position, int delta);

class EdgeSliders {
public:
    enum class Tick {
        Show,     // start-up: set the sliders to PositionsOf(state)
        Nothing,  // nothing moved
        Send,     // the record now holds the moved values: send it and the save request
    };
    // One refresh tick with the sliders' current positions.
    Tick OnTick(const EdgePositions& shown, EdgeState& state);
    int Ticks() const { return ticks_; }

private:
    int ticks_ = 0;
    EdgePositions last_;
};

}  // namespace kv::controller
