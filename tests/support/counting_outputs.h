// Outputs that count what reaches them without allocating: for benchmarks of the frame path,
// where a recorder's growing lists would be measured too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/core/contact_output.h"
#include "driver/core/finger_pair_output.h"
#include "driver/core/pointer_injector.h"
#include "protocol/frame_cutter.h"

namespace kv::test {

// Keeps the last 64 pointer events in a ring.
class CountingPointer final : public PointerInjector {
public:
    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override {
        events[count % events.size()] = {flags, dx, dy, data};
        ++count;
    }
    struct Event {
        uint32_t flags;
        int32_t dx, dy, data;
    };
    std::array<Event, 64> events{};
    size_t count = 0;
};

// Sums what the contact reports carry.
class CountingContacts final : public ContactOutput {
public:
    void SendContact(uint8_t state, uint16_t, uint16_t x, uint16_t y) override {
        sum += static_cast<uint64_t>(state) + x + y;
        ++count;
    }
    uint64_t sum = 0;
    size_t count = 0;
};

// Sums the states of the finger pairs.
class CountingPairOutput final : public FingerPairOutput {
public:
    void SendPair(const PointerSample& a, const PointerSample& b) override {
        sum += static_cast<uint64_t>(a.state + b.state);
        ++count;
    }
    uint64_t sum = 0;
    size_t count = 0;
};

// Counts the frames and hellos a frame cutter hands on.
class CountingFrameSink final : public FrameSink {
public:
    void OnRecordFrame(const uint8_t*, int32_t, int32_t) override { ++records; }
    void OnHello() override { ++hellos; }
    int64_t records = 0;
    int64_t hellos = 0;
};

}  // namespace kv::test
