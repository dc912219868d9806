// Motion of a tracked point between two updates.
#include "driver/tuio/tuio_container.h"

#include <cmath>

namespace TUIO {

void TuioContainer::Update(TuioTime time, float x, float y) {
    const float dt = static_cast<float>((time - time_).TotalMicroseconds()) / 1e6f;
    const float dx = x - x_;
    const float dy = y - y_;
    TuioPoint::Update(time, x, y);
    if (!(dt > 0.0f)) {
        return;
    }
    const float xSpeed = dx / dt;
    const float ySpeed = dy / dt;
    const float speed = std::sqrt(dx * dx + dy * dy) / dt;
    const float accel = (speed - motionSpeed_) / dt;
    // Positions far outside 0..1 over a tiny step could overflow a float: keep the last
    // finite motion rather than put infinity on the wire.
    if (std::isfinite(xSpeed) && std::isfinite(ySpeed) && std::isfinite(speed) &&
        std::isfinite(accel)) {
        xSpeed_ = xSpeed;
        ySpeed_ = ySpeed;
        motionSpeed_ = speed;
        motionAccel_ = accel;
    }
}

}  // namespace TUIO
