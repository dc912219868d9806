// A transport that drops every frame after reading it to its last byte, as a fast loopback
// socket would take it: for benchmarks and fuzzing, where nothing may pile up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/transport.h"

namespace kv::test {

class DiscardTransport final : public Transport {
public:
    int32_t Send(const uint8_t* bytes, size_t length) override {
        if (length > 0) {
            lastByte = bytes[length - 1];
        }
        ++frames;
        return static_cast<int32_t>(length);
    }

    volatile uint8_t lastByte = 0;  // keeps the read from being optimised away
    int64_t frames = 0;
};

}  // namespace kv::test
