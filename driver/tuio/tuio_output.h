// The driver's TUIO sender (selection 2): each of the two tracked fingers is a TUIO cursor
// while it is down, and only then: a touch adds a cursor where the finger is, a lift removes it
// (its id leaves "alive"), and the next touch is a new cursor with a new session id. The
// server and its socket are made on the first frame handed over.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "driver/core/finger_pair_output.h"
#include "driver/core/packet_sender.h"
#include "driver/tuio/tuio_clock.h"
#include "driver/tuio/tuio_server.h"

namespace kv {

class TuioOutput final : public FingerPairOutput {
public:
    using SenderFactory = std::function<std::unique_ptr<TUIO::PacketSender>()>;

    // The sender is made when the first frame comes (the product's is a UDP socket to the
    // --tuio target); a null sender sends nothing. The session time is read from clock.
    TuioOutput(const TuioClock& clock, SenderFactory makeSender);
    // The server's destructor sends the last empty bundles.
    ~TuioOutput() override = default;
    TuioOutput(const TuioOutput&) = delete;
    TuioOutput& operator=(const TuioOutput&) = delete;

    // Cursor A follows the primary finger, cursor B the secondary.
    void SendPair(const PointerSample& primary, const PointerSample& secondary) override {
        SendFrame(primary.state, primary.x, primary.y, secondary.state, secondary.x, secondary.y);
    }
    // States after edge exclusion (0, 1, 2); positions are mapped screen fractions.
    void SendFrame(int32_t stateA, float xA, float yA, int32_t stateB, float xB, float yB);

    // Null until the first frame.
    const TUIO::TuioServer* Server() const { return server_.get(); }

private:
    // Construction of the session: empty bundles, the cursors of fingers A and B (absent),
    // first frame.
    void Start();
    void StepCursor(TUIO::TuioCursor& cursor, int32_t& nextSession, int32_t state, float x,
                    float y);
    // Seconds and microseconds since the session started.
    TUIO::TuioTime SessionTime() const;

    const TuioClock& clock_;
    SenderFactory makeSender_;
    std::unique_ptr<TUIO::TuioServer> server_;
    TUIO::TuioCursor* cursorA_ = nullptr;
    TUIO::TuioCursor* cursorB_ = nullptr;
    // The session id of each finger's next touch: A even, B odd.
    int32_t nextSessionA_ = 0;
    int32_t nextSessionB_ = 1;
    int64_t startUs_ = 0;
};

}  // namespace kv
