// The tests' transport: keeps every frame sent (and, given a clock, the time it was handed
// over), looked up by the record's address.
#pragma once

#include <cstdint>
#include <vector>

#include "common/clock.h"
#include "protocol/data_manipulation.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "protocol/wire.h"

namespace kv::test {

using Bytes = std::vector<uint8_t>;

// The record address in a frame's header.
inline int32_t AddressOf(const Bytes& frame) {
    return wire::GetInt(frame.data() + wire::kOffAddress);
}

class FrameLog final : public Transport {
public:
    explicit FrameLog(const Clock* clock = nullptr) : clock_(clock) {}
    int32_t Send(const uint8_t* bytes, size_t length) override {
        frames.emplace_back(bytes, bytes + length);
        times.push_back(clock_ != nullptr ? clock_->NowMs() : 0);
        return static_cast<int32_t>(length);
    }
    // Record addresses of the frames sent, in order.
    std::vector<int32_t> Addresses() const {
        std::vector<int32_t> addresses;
        for (const Bytes& frame : frames) {
            addresses.push_back(AddressOf(frame));
        }
        return addresses;
    }
    // How many frames were sent for the record.
    int Count(const DataManipulation& record) const {
        int n = 0;
        for (const auto& frame : frames) {
            n += AddressOf(frame) == record.Address() ? 1 : 0;
        }
        return n;
    }
    // The last frame sent for the record, or null if none was sent.
    const std::vector<uint8_t>* Last(const DataManipulation& record) const {
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if (AddressOf(*it) == record.Address()) {
                return &*it;
            }
        }
        return nullptr;
    }
    // The event-valid word of the last frame sent for the record, or -1 if none was sent.
    int32_t LastEventValid(const DataManipulation& record) const {
        const std::vector<uint8_t>* frame = Last(record);
        return frame != nullptr ? wire::GetInt(frame->data() + wire::kOffEventValid) : -1;
    }
    // The payload of the last frame sent for the record (empty if none).
    std::vector<uint8_t> LastPayload(const DataManipulation& record) const {
        const std::vector<uint8_t>* frame = Last(record);
        if (frame == nullptr) {
            return {};
        }
        return std::vector<uint8_t>(frame->begin() + wire::kFrameHeader, frame->end());
    }

    std::vector<Bytes> frames;
    std::vector<int64_t> times;  // the clock at each frame, 0 without a clock

private:
    const Clock* clock_;
};

// The bytes a record puts on the wire from a program of the given registry.
inline Bytes FrameOf(DataManipulation& record, const Registry& from) {
    Bytes frame(static_cast<size_t>(record.FrameSize()));
    record.WriteFrame(frame.data(), from.SenderId());
    return frame;
}

inline Bytes HelloBytes(int32_t sender) {
    const auto hello = wire::HelloDatagram(sender);
    return Bytes(hello.begin(), hello.end());
}

}  // namespace kv::test
