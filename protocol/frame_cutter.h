// Cuts a stream of received datagrams into frames. Frames may share a datagram or span two;
// bytes before a sync pair are skipped. The buffer never grows beyond its fixed capacity.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

enum class SkipReason {
    UnknownCommand,  // a whole frame with a command byte other than record or hello
    BadLength,       // a frame length below 11 (91 for a record) or above the buffer
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A complete record frame starts at buffer[start]; validBytes are valid in buffer.
    virtual void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) = 0;
    virtual void OnHello() = 0;
    // Only the 11-byte prefix at buffer[start] was consumed; the search resumes behind it.
    virtual void OnSkipped(const uint8_t* buffer, int32_t start, SkipReason reason) {
        (void)buffer, (void)start, (void)reason;
    }
    // Bytes that were dropped unseen to make room (the oldest first), or an unfinished frame
    // given up because a new frame began.
    virtual void OnOverflow(size_t droppedBytes) { (void)droppedBytes; }
};

class FrameCutter {
public:
    static constexpr int32_t kCapacity = 30000;

    // Appends the bytes and hands every complete frame to the sink, in order. Our programs
    // send every frame whole in one datagram, so a datagram that begins with a well-formed
    // frame start ends whatever unfinished frame was waiting: a stray prefix announcing a long
    // frame cannot swallow the datagrams after it. Anything else still joins the waiting bytes.
    void Append(const uint8_t* bytes, size_t length, FrameSink& sink);
    // Whether bytes begin with a hello or with a record frame's prefix and a header that agrees
    // with it (the remaining length is the frame length less 15).
    static bool BeginsFrame(const uint8_t* bytes, size_t length);
    // Bytes waiting for the rest of a frame (or for a sync pair).
    size_t Buffered() const { return valid_; }
    void Clear() { valid_ = 0; }

private:
    // Adds the bytes behind those waiting, dropping the oldest (said to the sink) to fit.
    void Store(const uint8_t* bytes, size_t length, FrameSink& sink);
    // Hands every complete frame in the buffer to the sink; keeps what is left at the front.
    void HandOnFrames(FrameSink& sink);
    // Moves i to the next sync pair at or after it with a whole prefix behind it; false when
    // there is none.
    bool FindSync(size_t& i) const;

    std::array<uint8_t, kCapacity> buffer_{};
    size_t valid_ = 0;
};

}  // namespace kv
