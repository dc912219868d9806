// Cursor bookkeeping and bundle writing of the TUIO server.
#include "driver/tuio/tuio_server.h"

#include <oscpack/osc/OscException.h>

namespace TUIO {

TuioServer::TuioServer(std::unique_ptr<PacketSender> sender)
    : sender_(std::move(sender)),
      cursorPacket_(cursorBuffer_.data(), cursorBuffer_.size()),
      objectPacket_(objectBuffer_.data(), objectBuffer_.size()) {}

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
        try {
            StartCursorBundle();
            for (const auto& cursor : cursors_) {
                if (cursorPacket_.Capacity() - cursorPacket_.Size() < kMessageReserve) {
                    SendCursorBundle(frame_);
                    StartCursorBundle();
                }
                if (cursor->Present() && cursor->Time() == frameTime_) {
                    AddCursorMessage(*cursor);
                }
            }
            SendCursorBundle(frame_);
        } catch (const osc::Exception&) {
            // An "alive" too long for one datagram: this frame's bundle is lost, not the driver.
            cursorPacket_.Clear();
        }
    } else if (KeepAliveDue(cursorKeepAlive_)) {
        cursorKeepAlive_ = frameTime_;
        try {
            StartCursorBundle();
            SendCursorBundle(frame_);
        } catch (const osc::Exception&) {
            cursorPacket_.Clear();
        }
    }
    cursorsChanged_ = false;

    // No objects ever: the object profile only says so, once a second.
    if (KeepAliveDue(objectKeepAlive_)) {
        objectKeepAlive_ = frameTime_;
        try {
            SendObjectBundle(frame_);
        } catch (const osc::Exception&) {
            objectPacket_.Clear();
        }
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
    cursorPacket_ << osc::BeginBundleImmediate << osc::BeginMessage(kCursorProfile) << "alive";
    for (const auto& cursor : cursors_) {
        if (cursor->Present()) {
            cursorPacket_ << static_cast<osc::int32>(cursor->SessionId());
        }
    }
    cursorPacket_ << osc::EndMessage;
}

void TuioServer::AddCursorMessage(const TuioCursor& cursor) {
    cursorPacket_ << osc::BeginMessage(kCursorProfile) << "set"
                  << static_cast<osc::int32>(cursor.SessionId()) << cursor.X() << cursor.Y()
                  << cursor.XSpeed() << cursor.YSpeed() << cursor.MotionAccel() << osc::EndMessage;
}

void TuioServer::SendCursorBundle(int32_t frame) {
    cursorPacket_ << osc::BeginMessage(kCursorProfile) << "fseq" << static_cast<osc::int32>(frame)
                  << osc::EndMessage << osc::EndBundle;
    Flush(cursorPacket_);
}

void TuioServer::SendObjectBundle(int32_t frame) {
    objectPacket_.Clear();
    objectPacket_ << osc::BeginBundleImmediate << osc::BeginMessage(kObjectProfile) << "alive"
                  << osc::EndMessage << osc::BeginMessage(kObjectProfile) << "fseq"
                  << static_cast<osc::int32>(frame) << osc::EndMessage << osc::EndBundle;
    Flush(objectPacket_);
}

void TuioServer::SendEmptyBundle(osc::OutboundPacketStream& packet, const char* profile) {
    try {
        packet.Clear();
        packet << osc::BeginBundleImmediate << osc::BeginMessage(profile) << "alive"
               << osc::EndMessage << osc::BeginMessage(profile) << "fseq"
               << static_cast<osc::int32>(-1) << osc::EndMessage << osc::EndBundle;
        Flush(packet);
    } catch (const osc::Exception&) {
        packet.Clear();
    }
}

void TuioServer::Flush(osc::OutboundPacketStream& packet) {
    if (sender_) {
        sender_->Send(packet.Data(), packet.Size());
    }
    packet.Clear();
}

}  // namespace TUIO
