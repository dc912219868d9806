// Where contact reports go: the virtual touch device, or a recorder in tests.
#pragma once

#include <cstdint>

namespace kv {

class ContactOutput {
public:
    virtual ~ContactOutput() = default;
    // state 2 lands or lifts at a position, 3 touches, 0 is up; x and y run 0..32767.
    virtual void SendContact(uint8_t state, uint16_t contactNumber, uint16_t x, uint16_t y) = 0;
};

}  // namespace kv
