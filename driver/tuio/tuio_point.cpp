// Plain point bookkeeping.
#include "driver/tuio/tuio_point.h"

namespace TUIO {

void TuioPoint::Update(TuioTime time, float x, float y) {
    time_ = time;
    x_ = x;
    y_ = y;
}

}  // namespace TUIO
