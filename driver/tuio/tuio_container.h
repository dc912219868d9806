// A tracked point with a session id and its motion: velocity, speed and acceleration, as the
// "set" message carries them.
#pragma once

#include <cstdint>

#include "driver/tuio/tuio_point.h"

namespace TUIO {

class TuioContainer : public TuioPoint {
public:
    TuioContainer(TuioTime time, int32_t sessionId, float x, float y)
        : TuioPoint(time, x, y), sessionId_(sessionId) {}

    int32_t SessionId() const { return sessionId_; }
    // A new session for the same container: clients see the old one end and a new one start.
    void SetSessionId(int32_t sessionId) { sessionId_ = sessionId; }

    float XSpeed() const { return xSpeed_; }  // position units per second
    float YSpeed() const { return ySpeed_; }
    float MotionSpeed() const { return motionSpeed_; }
    float MotionAccel() const { return motionAccel_; }  // speed units per second

    // Moves to (x, y) at time and derives the motion from the previous position and time.
    // A time step that is not positive keeps the previous motion, so nothing divides by 0.
    void Update(TuioTime time, float x, float y);

private:
    int32_t sessionId_;
    float xSpeed_ = 0.0f;
    float ySpeed_ = 0.0f;
    float motionSpeed_ = 0.0f;
    float motionAccel_ = 0.0f;
};

}  // namespace TUIO
