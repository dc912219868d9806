// Where contact reports go: the virtual touch device, or a recorder in tests.
#pragma once

#include <cstdint>

namespace kv {

class ContactOutput {
public:
    virtual ~ContactOutput() = default;
    // state 2 lands or lifts at a position, 3 touches, 0 is up; x and y run 0..32767.
    virtual void SendContact(uint8_t state, uint16_t contactNumber, uint16_t x, uint16_t y) = 0;
    // Whether the device should be there now: native touch is the touch mode. A desktop sees
    // a touchscreen only while it exists, so it is made when that mode starts (not at the
    // first contact, which would be lost while the desktop takes the new device in) and
    // removed when another mode is chosen.
    virtual void Keep(bool /*wanted*/) {}
};

}  // namespace kv
