// Helpers for the TUIO tests: a sender that keeps every datagram, a clock the test moves, and
// bundles decoded with oscpack's own reader into plain messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/tuio/packet_sender.h"
#include "messaging/clock.h"

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

class ManualClock final : public Clock {
public:
    int64_t NowMs() const override { return now_; }
    void SleepMs(int ms) const override { now_ += ms; }
    void Advance(int64_t ms) { now_ += ms; }

private:
    mutable int64_t now_ = 5'000'000;
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

// Decodes a datagram with osc::ReceivedPacket; ok is false for anything else than a bundle of
// TUIO messages.
OscBundle Decode(const Datagram& datagram);

}  // namespace kv::test
