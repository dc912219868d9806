// Helpers for the TUIO tests: a sender that keeps every datagram, a clock the test moves, and
// bundles decoded into plain messages, each message by liblo's parser (an OSC implementation
// independent of ours).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/core/packet_sender.h"
#include "driver/tuio/tuio_clock.h"

namespace kv::test {

using Datagram = std::vector<char>;

class CapturingSender final : public TUIO::PacketSender {
public:
    explicit CapturingSender(std::vector<Datagram>& sent) : sent_(sent) {}
    void Send(const char* data, std::size_t size) override {
        sent_.emplace_back(data, data + size);
    }

private:
    std::vector<Datagram>& sent_;
};

// A TUIO clock the test moves. It can also tick a little on every reading, as a real clock
// moves on between two readings.
class ManualTuioClock final : public TuioClock {
public:
    int64_t NowUs() const override {
        const int64_t now = now_;
        now_ += tickPerReadingUs_;
        return now;
    }
    void Advance(int64_t ms) { now_ += ms * 1000; }
    void AdvanceUs(int64_t us) { now_ += us; }
    void TickOnEachReading(int64_t us) { tickPerReadingUs_ = us; }

private:
    mutable int64_t now_ = 5'000'000'000;
    int64_t tickPerReadingUs_ = 0;
};

// One OSC message of a TUIO bundle: "/tuio/2Dcur" "set" 3 0.25 ...
struct OscMessage {
    std::string profile;
    std::string command;        // alive, set, fseq
    std::vector<int32_t> ints;  // alive: session ids; set: session id; fseq: frame
    std::vector<float> floats;  // set: x, y, X, Y, m
};

struct OscBundle {
    bool ok = false;      // a bundle of messages that all start with a string
    std::string profile;  // of the first message
    std::vector<OscMessage> messages;

    const OscMessage* Find(const std::string& command) const;
    std::vector<const OscMessage*> All(const std::string& command) const;
    // Only "alive" and "fseq": the keep-alive form.
    bool IsKeepAlive() const;
};

// Decodes a datagram; ok is false for anything else than a bundle of TUIO messages.
OscBundle Decode(const Datagram& datagram);

}  // namespace kv::test
