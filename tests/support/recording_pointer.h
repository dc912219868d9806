// A PointerInjector that keeps every event it is given, for tests of the pointer output.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/core/pointer_injector.h"

namespace kv::test {

struct PointerEvent {
    uint32_t flags = 0;
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t data = 0;

    bool operator==(const PointerEvent&) const = default;
};

class RecordingPointer final : public PointerInjector {
public:
    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override {
        events.push_back({flags, dx, dy, data});
    }

    // The events with any of these flags, in order.
    std::vector<PointerEvent> With(uint32_t flags) const {
        std::vector<PointerEvent> matching;
        for (const PointerEvent& event : events) {
            if ((event.flags & flags) != 0) {
                matching.push_back(event);
            }
        }
        return matching;
    }

    // How many events carry exactly these flags.
    int Count(uint32_t flags) const {
        int n = 0;
        for (const PointerEvent& event : events) {
            n += event.flags == flags ? 1 : 0;
        }
        return n;
    }

    void Clear() { events.clear(); }

    std::vector<PointerEvent> events;
};

}  // namespace kv::test
