// Cursor bookkeeping and bundle writing of the TUIO server.
#include "driver/tuio/tuio_server.h"

namespace TUIO {

TuioServer::TuioServer(std::unique_ptr<PacketSender> sender) : sender_(std::move(sender)) {}

TuioServer::~TuioServer() {
    SendEmptyCursorBundle();
    SendEmptyObjectBundle();
}

void TuioServer::InitFrame(TuioTime time) {
    frameTime_ = time;
    // Wraps after months of frames instead of overflowing; clients take a far lower fseq as a
    // restart.
    frame_ = static_cast<int32_t>(static_cast<uint32_t>(frame_) + 1u);
}

TuioCursor& TuioServer::AddCursor(float x, float y) {
    ++sessionCounter_;
    const auto cursorId = static_cast<int32_t>(cursors_.size());
    cursors_.push_back(std::make_unique<TuioCursor>(frameTime_, sessionCounter_, cursorId, x, y));
    cursorsChanged_ = true;
    return *cursors_.back();
}

TuioCursor& TuioServer::AddAbsentCursor() {
    const auto cursorId = static_cast<int32_t>(cursors_.size());
    cursors_.push_back(std::make_unique<TuioCursor>(frameTime_, -1, cursorId, 0.0f, 0.0f));
    cursors_.back()->SetPresent(false);
    return *cursors_.back();
}

void TuioServer::StartSession(TuioCursor& cursor, int32_t sessionId, float x, float y) {
    cursor = TuioCursor(frameTime_, sessionId, cursor.CursorId(), x, y);
    cursorsChanged_ = true;
}

void TuioServer::EndSession(TuioCursor& cursor) {
    cursor.SetPresent(false);
    cursorsChanged_ = true;
}

bool TuioServer::UpdateCursor(TuioCursor& cursor, float x, float y) {
    if (cursor.Time() == frameTime_) {
        return false;
    }
    cursor.Update(frameTime_, x, y);
    cursorsChanged_ = true;
    return true;
}

void TuioServer::CommitFrame() {
    if (cursorsChanged_) {
        StartCursorBundle();
        for (const auto& cursor : cursors_) {
            // An "alive" too long for one datagram leaves the writer failed: that frame's
            // bundles are lost, not the driver.
            if (cursorPacket_.Ok() &&
                cursorPacket_.Capacity() - cursorPacket_.Size() < kMessageReserve) {
                SendCursorBundle(frame_);
                StartCursorBundle();
            }
            if (cursor->Present() && cursor->Time() == frameTime_) {
                AddCursorMessage(*cursor);
            }
        }
        SendCursorBundle(frame_);
    } else if (KeepAliveDue(cursorKeepAlive_)) {
        cursorKeepAlive_ = frameTime_;
        StartCursorBundle();
        SendCursorBundle(frame_);
    }
    cursorsChanged_ = false;

    // No objects ever: the object profile only says so, once a second.
    if (KeepAliveDue(objectKeepAlive_)) {
        objectKeepAlive_ = frameTime_;
        SendObjectBundle(frame_);
    }
}

void TuioServer::SendEmptyCursorBundle() {
    SendEmptyBundle(cursorPacket_, kCursorProfile);
}

void TuioServer::SendEmptyObjectBundle() {
    SendEmptyBundle(objectPacket_, kObjectProfile);
}

void TuioServer::StartCursorBundle() {
    cursorPacket_.Clear();
    cursorPacket_.BeginBundleImmediate();
    cursorPacket_.BeginMessage(kCursorProfile);
    cursorPacket_.String("alive");
    for (const auto& cursor : cursors_) {
        if (cursor->Present()) {
            cursorPacket_.Int32(cursor->SessionId());
        }
    }
    cursorPacket_.EndMessage();
}

void TuioServer::AddCursorMessage(const TuioCursor& cursor) {
    cursorPacket_.BeginMessage(kCursorProfile);
    cursorPacket_.String("set");
    cursorPacket_.Int32(cursor.SessionId());
    for (const float value :
         {cursor.X(), cursor.Y(), cursor.XSpeed(), cursor.YSpeed(), cursor.MotionAccel()}) {
        cursorPacket_.Float(value);
    }
    cursorPacket_.EndMessage();
}

void TuioServer::SendCursorBundle(int32_t frame) {
    cursorPacket_.BeginMessage(kCursorProfile);
    cursorPacket_.String("fseq");
    cursorPacket_.Int32(frame);
    cursorPacket_.EndMessage();
    Flush(cursorPacket_);
}

// "alive" with no ids and "fseq".
void TuioServer::SendObjectBundle(int32_t frame) {
    objectPacket_.Clear();
    objectPacket_.BeginBundleImmediate();
    objectPacket_.BeginMessage(kObjectProfile);
    objectPacket_.String("alive");
    objectPacket_.EndMessage();
    objectPacket_.BeginMessage(kObjectProfile);
    objectPacket_.String("fseq");
    objectPacket_.Int32(frame);
    objectPacket_.EndMessage();
    Flush(objectPacket_);
}

void TuioServer::SendEmptyBundle(OscWriter& packet, const char* profile) {
    packet.Clear();
    packet.BeginBundleImmediate();
    packet.BeginMessage(profile);
    packet.String("alive");
    packet.EndMessage();
    packet.BeginMessage(profile);
    packet.String("fseq");
    packet.Int32(-1);
    packet.EndMessage();
    Flush(packet);
}

void TuioServer::Flush(OscWriter& packet) {
    if (sender_ && packet.Ok()) {
        sender_->Send(packet.Data(), packet.Size());
    }
    packet.Clear();
}

}  // namespace TUIO
