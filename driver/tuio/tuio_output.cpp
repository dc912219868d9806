// Fingers to cursors, and when frames are committed.
#include "driver/tuio/tuio_output.h"

#include "driver/core/unit_range.h"

namespace kv {

namespace {
constexpr int32_t kTouching = 2;
// Cursor A takes even session ids and B odd ones: a new session skips the other's id.
constexpr int32_t kSessionStep = 2;
}  // namespace

TuioOutput::TuioOutput(const TuioClock& clock, SenderFactory makeSender)
    : clock_(clock), makeSender_(std::move(makeSender)) {}

void TuioOutput::Start() {
    server_ = std::make_unique<TUIO::TuioServer>(makeSender_ ? makeSender_() : nullptr);
    startUs_ = clock_.NowUs();
    server_->SendEmptyCursorBundle();
    server_->SendEmptyObjectBundle();
    server_->InitFrame(SessionTime());
    cursorA_ = &server_->AddAbsentCursor();
    cursorB_ = &server_->AddAbsentCursor();
    server_->CommitFrame();
}

TUIO::TuioTime TuioOutput::SessionTime() const {
    return TUIO::TuioTime::FromMicroseconds(clock_.NowUs() - startUs_);
}

void TuioOutput::SendFrame(int32_t stateA, float xA, float yA, int32_t stateB, float xB, float yB) {
    if (!server_) {
        Start();
    }
    const TUIO::TuioTime now = SessionTime();
    server_->InitFrame(now);
    StepCursor(*cursorA_, nextSessionA_, stateA, xA, yA);
    server_->InitFrame(now);
    StepCursor(*cursorB_, nextSessionB_, stateB, xB, yB);
    server_->CommitFrame();
}

void TuioOutput::StepCursor(TUIO::TuioCursor& cursor, int32_t& nextSession, int32_t state, float x,
                            float y) {
    // A broken calibration must not put NaN or positions off the screen on the wire.
    if (state >= kTouching && !cursor.Present()) {
        server_->StartSession(cursor, nextSession, Clamp01(x), Clamp01(y));
        nextSession += kSessionStep;
    } else if (state >= kTouching) {
        server_->UpdateCursor(cursor, Clamp01(x), Clamp01(y));
    } else if (cursor.Present()) {
        // Lifted, or hovering: the client removes the cursor in this frame.
        server_->EndSession(cursor);
    }
}

}  // namespace kv
