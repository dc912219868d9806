// A position in normalised coordinates (0..1) with the session time it was last set.
#pragma once

#include "driver/tuio/tuio_time.h"

namespace TUIO {

class TuioPoint {
public:
    TuioPoint(TuioTime time, float x, float y) : time_(time), x_(x), y_(y) {}

    float X() const { return x_; }
    float Y() const { return y_; }
    TuioTime Time() const { return time_; }

    // Moves the point; derived classes work out the motion from the previous position.
    void Update(TuioTime time, float x, float y);

protected:
    TuioTime time_;
    float x_;
    float y_;
};

}  // namespace TUIO
