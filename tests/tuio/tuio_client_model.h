// What a TUIO 1.1 client makes of the "/tuio/2Dcur" bundles it receives, by the client rules:
// a "set" for a session id it does not know adds a cursor, a "set" for a known one updates it,
// an id missing from "alive" when the bundle's "fseq" comes removes it, and a bundle whose
// frame is older than the last one taken (by at most 100 frames) is late and dropped whole.
// "fseq -1" is outside the sequence and always taken.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "tuio_test_support.h"

namespace kv::test {

struct CursorEvent {
    enum class Kind { Add, Update, Remove };
    Kind kind;
    int32_t session;
    float x;  // for a removal: where the cursor was last
    float y;
};

class TuioClientModel {
public:
    // One received datagram; other profiles than the cursors' only count towards the frames.
    void Take(const OscBundle& bundle);

    const std::vector<CursorEvent>& Events() const { return events_; }
    size_t AliveCount() const { return cursors_.size(); }
    size_t Removals() const { return removals_; }
    int LateFrames() const { return lateFrames_; }
    // Bundles of one profile whose fseq (not -1) was not above that profile's previous one.
    int FramesOutOfOrder() const { return outOfOrder_; }

private:
    struct Position {
        float x;
        float y;
    };
    static constexpr int32_t kLateWindow = 100;

    std::map<int32_t, Position> cursors_;
    std::vector<CursorEvent> events_;
    int32_t currentFrame_ = 0;
    std::map<std::string, int32_t> lastFrameOf_;
    int lateFrames_ = 0;
    int outOfOrder_ = 0;
    size_t removals_ = 0;
};

}  // namespace kv::test
