// Desktop pointer input, as the pointer device emits it: absolute moves, buttons and wheel
// notches. Backends: a uinput absolute pointer, XTest on X11, a recorder for tests, none.
#pragma once

#include <cstdint>

namespace kv {

// Event flags, combinable as the pointer device sends them.
namespace pointer_flags {
constexpr uint32_t kMove = 0x0001;
constexpr uint32_t kLeftDown = 0x0002;
constexpr uint32_t kLeftUp = 0x0004;
constexpr uint32_t kRightDown = 0x0008;
constexpr uint32_t kRightUp = 0x0010;
constexpr uint32_t kMiddleDown = 0x0020;
constexpr uint32_t kMiddleUp = 0x0040;
constexpr uint32_t kWheel = 0x0800;
constexpr uint32_t kAbsolute = 0x8000;
}  // namespace pointer_flags

class PointerInjector {
public:
    virtual ~PointerInjector() = default;
    // One pointer event. With kMove | kAbsolute, dx and dy run 0..65536 across the screen;
    // with kWheel, data is +120 or -120 per notch; buttons carry zero coordinates and data.
    virtual void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) = 0;
};

// Drops every event (no desktop, or output deliberately off).
class NullPointerInjector final : public PointerInjector {
public:
    void Inject(uint32_t, int32_t, int32_t, int32_t) override {}
};

}  // namespace kv
