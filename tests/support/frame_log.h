// A transport for tests that keeps every frame sent, looked up by the record's address.
#pragma once

#include <cstdint>
#include <vector>

#include "messaging/data_manipulation.h"
#include "messaging/transport.h"
#include "messaging/wire.h"

namespace kv::test {

class FrameLog final : public Transport {
public:
    int32_t Send(const uint8_t* bytes, size_t length) override {
        frames.emplace_back(bytes, bytes + length);
        return static_cast<int32_t>(length);
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

    std::vector<std::vector<uint8_t>> frames;

private:
    static int32_t AddressOf(const std::vector<uint8_t>& frame) {
        return wire::GetInt(frame.data() + wire::kOffAddress);
    }
};

}  // namespace kv::test
