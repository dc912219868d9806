// Our TUIO 1.1 server: keeps the cursor list, the frame time and sequence, and writes the
// "/tuio/2Dcur" bundles (alive, set, fseq) and the keep-alive of the empty "/tuio/2Dobj"
// profile as OSC 1.0 bundles (OscWriter). Time comes in with each frame; datagrams leave
// through a PacketSender.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver/core/packet_sender.h"
#include "driver/tuio/osc_writer.h"
#include "driver/tuio/tuio_cursor.h"
#include "driver/tuio/tuio_time.h"

namespace TUIO {

class TuioServer {
public:
    static constexpr std::size_t kPacketCapacity = OscWriter::kCapacity;
    // Room kept for one "set" (56 bytes) and the closing "fseq" (32 bytes): a bundle with less
    // left is sent and a new one started before the next cursor.
    static constexpr std::size_t kMessageReserve = 88;
    static constexpr const char* kCursorProfile = "/tuio/2Dcur";
    static constexpr const char* kObjectProfile = "/tuio/2Dobj";

    explicit TuioServer(std::unique_ptr<PacketSender> sender);
    // Tells the client the session is over: an empty bundle for each profile.
    ~TuioServer();
    TuioServer(const TuioServer&) = delete;
    TuioServer& operator=(const TuioServer&) = delete;

    // Starts a frame at the session time given; the frame sequence number rises by one.
    void InitFrame(TuioTime time);
    // Adds a cursor at the current frame time with the next session id; the server owns it and
    // the reference stays valid for the server's life.
    TuioCursor& AddCursor(float x, float y);
    // A cursor kept for a finger that is not down yet: in no "alive" list, with no "set", until
    // StartSession; the server owns it.
    TuioCursor& AddAbsentCursor();
    // The finger touches: a new session at (x, y) from this frame on, with no motion yet. A
    // client sees a "set" for an id it does not know and adds a cursor there.
    void StartSession(TuioCursor& cursor, int32_t sessionId, float x, float y);
    // The finger lifted: the cursor leaves the "alive" list, so clients remove it.
    void EndSession(TuioCursor& cursor);
    // Moves a cursor unless it was already updated at this frame time; true when it moved.
    bool UpdateCursor(TuioCursor& cursor, float x, float y);
    // Ends the frame: a cursor bundle when the list changed, else a keep-alive in the first
    // frame of each new second of session time; the same keep-alive for the object profile.
    void CommitFrame();

    // An empty "alive" with "fseq" -1 for one profile, as at start and end of a session.
    void SendEmptyCursorBundle();
    void SendEmptyObjectBundle();

    int32_t FrameSequence() const { return frame_; }
    TuioTime FrameTime() const { return frameTime_; }
    std::size_t CursorCount() const { return cursors_.size(); }
    const TuioCursor& CursorAt(std::size_t index) const { return *cursors_[index]; }

private:
    void StartCursorBundle();
    void AddCursorMessage(const TuioCursor& cursor);
    void SendCursorBundle(int32_t frame);
    void SendObjectBundle(int32_t frame);
    void SendEmptyBundle(OscWriter& packet, const char* profile);
    // Sends the bundle if it was written whole; a bundle that did not fit is dropped.
    void Flush(OscWriter& packet);
    // The frame time has entered a new second since the last keep-alive of a profile: one
    // keep-alive per second of session time, that does not drift later by a frame each second.
    bool KeepAliveDue(TuioTime last) const { return frameTime_.Seconds() > last.Seconds(); }

    std::unique_ptr<PacketSender> sender_;
    std::vector<std::unique_ptr<TuioCursor>> cursors_;
    int32_t sessionCounter_ = -1;
    int32_t frame_ = -1;
    TuioTime frameTime_;
    bool cursorsChanged_ = false;
    TuioTime cursorKeepAlive_;
    TuioTime objectKeepAlive_;
    OscWriter cursorPacket_;
    OscWriter objectPacket_;
};

}  // namespace TUIO
