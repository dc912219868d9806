// A finger as a TUIO 1.1 cursor of the "/tuio/2Dcur" profile: a container with a cursor id.
#pragma once

#include <cstdint>

#include "driver/tuio/tuio_container.h"

namespace TUIO {

class TuioCursor : public TuioContainer {
public:
    TuioCursor(TuioTime time, int32_t sessionId, int32_t cursorId, float x, float y)
        : TuioContainer(time, sessionId, x, y), cursorId_(cursorId) {}

    int32_t CursorId() const { return cursorId_; }
    // A finger is on the surface: the cursor is in "alive" lists.
    bool Present() const { return present_; }
    void SetPresent(bool present) { present_ = present; }

private:
    int32_t cursorId_;
    bool present_ = true;
};

}  // namespace TUIO
