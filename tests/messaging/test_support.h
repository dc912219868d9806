// Helpers for the record library tests: a settable clock, a transport that keeps what it is
// given, and a byte builder that spells out expected frames field by field.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/clock.h"
#include "messaging/frame_cutter.h"
#include "messaging/transport.h"

namespace kv::test {

using Bytes = std::vector<uint8_t>;

// Time stands still until a test moves it; sleeping moves it and is counted.
class FakeClock final : public Clock {
public:
    explicit FakeClock(int64_t start = 1'000'000) : now_(start) {}
    int64_t NowMs() const override { return now_; }
    void SleepMs(int ms) const override {
        sleeps_.push_back(ms);
        now_ += ms;
    }
    void Advance(int64_t ms) { now_ += ms; }
    const std::vector<int>& Sleeps() const { return sleeps_; }

private:
    mutable int64_t now_;
    mutable std::vector<int> sleeps_;
};

// Keeps every datagram and the clock reading at which it was handed over.
class RecordingTransport final : public Transport {
public:
    explicit RecordingTransport(const Clock* clock = nullptr) : clock_(clock) {}
    int32_t Send(const uint8_t* bytes, size_t length) override {
        sent.emplace_back(bytes, bytes + length);
        times.push_back(clock_ != nullptr ? clock_->NowMs() : 0);
        return static_cast<int32_t>(length);
    }
    std::vector<Bytes> sent;
    std::vector<int64_t> times;

private:
    const Clock* clock_;
};

// Builds bytes in wire order. Written independently of the library's encoders so that the
// tests compare against the protocol, not against the code under test.
class ByteBuilder {
public:
    ByteBuilder& Int(int32_t value) {
        const auto u = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>((u >> shift) & 0xFF));
        }
        return *this;
    }
    ByteBuilder& Real(float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return Int(static_cast<int32_t>(bits));
    }
    ByteBuilder& Flag(bool value) { return Byte(value ? 0x31 : 0x30); }
    ByteBuilder& Byte(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    // The characters as given (at most n), then NUL bytes up to n. No "ABCD" substitution:
    // tests that expect it say so.
    ByteBuilder& Text(std::string_view text, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            bytes_.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
        return *this;
    }
    ByteBuilder& Zeros(size_t n) {
        bytes_.insert(bytes_.end(), n, 0);
        return *this;
    }
    ByteBuilder& Append(const Bytes& more) {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    const Bytes& Get() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

// The header words of a record frame as the protocol lays them out.
struct HeaderWords {
    int32_t sender = 1234;
    int32_t address = 8;
    int32_t payloadSize = 0;
    std::string kind = "EVENT";
    std::string object = "Driver";
    std::string topic = "DoStop";
    int32_t tag = 0;
    bool settable = false;
    int32_t eventValid = 0;
    int32_t sequence = 0;
    int32_t spare = 0;
};

// Prefix and 80-byte header (91 bytes) of a record frame.
inline ByteBuilder FrameHead(const HeaderWords& h) {
    ByteBuilder b;
    b.Byte(0x00).Byte(0xFF).Byte(0x10).Int(h.sender).Int(h.payloadSize + 91);
    b.Int(h.address).Int(h.payloadSize + 76);
    b.Text(h.kind, 16).Text(h.object, 16).Text(h.topic, 16);
    b.Int(h.payloadSize).Int(h.tag);
    b.Byte(h.settable ? 1 : 0).Byte(0).Byte(0).Byte(0);
    b.Int(h.eventValid).Int(h.sequence).Int(h.spare);
    return b;
}

// What a frame cutter hands on, in order.
class RecordingSink final : public FrameSink {
public:
    struct Frame {
        Bytes bytes;  // the frame as its length field gives it
        int32_t start;
        int32_t validBytes;
    };
    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const int32_t length =
            static_cast<int32_t>(static_cast<uint32_t>(buffer[start + 7]) |
                                 static_cast<uint32_t>(buffer[start + 8]) << 8 |
                                 static_cast<uint32_t>(buffer[start + 9]) << 16 |
                                 static_cast<uint32_t>(buffer[start + 10]) << 24);
        records.push_back({Bytes(buffer + start, buffer + start + length), start, validBytes});
        events.push_back("record");
    }
    void OnHello() override {
        ++hellos;
        events.push_back("hello");
    }
    void OnSkipped(const uint8_t*, int32_t, SkipReason reason) override {
        skipped.push_back(reason);
        events.push_back("skipped");
    }
    void OnOverflow(size_t droppedBytes) override { dropped += droppedBytes; }

    std::vector<Frame> records;
    std::vector<SkipReason> skipped;
    std::vector<std::string> events;
    int hellos = 0;
    size_t dropped = 0;
};

}  // namespace kv::test
