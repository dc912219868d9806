// The contact sequence of the virtual touch device.
#include "driver/touch/native_touch_output.h"

#include "driver/core/unit_range.h"

namespace kv {

namespace {

// Positions are clamped first: regional mapping with odd bounds can leave [0, 1], and a
// wrapped 16-bit coordinate would land the contact on the wrong side of the screen.
uint16_t ContactUnits(float value) {
    return static_cast<uint16_t>(Clamp01(value) * NativeTouchOutput::kContactRange);
}

}  // namespace

void NativeTouchOutput::SendPair(const PointerSample& primary, const PointerSample& secondary) {
    Step(contacts_[0], 1, primary);
    Step(contacts_[1], 2, secondary);
}

void NativeTouchOutput::Step(Contact& contact, uint16_t number, const PointerSample& finger) {
    const bool touching = finger.state > 1;
    if (touching) {
        const uint16_t x = ContactUnits(finger.x);
        const uint16_t y = ContactUnits(finger.y);
        if (!contact.down) {
            output_.SendContact(kContactEdge, number, x, y);
            contact.down = true;
        }
        output_.SendContact(kContactTouching, number, x, y);
        // Remembered on the landing frame too, so that a touch lasting one frame lifts
        // where it landed rather than where an earlier touch lifted.
        contact.lastX = x;
        contact.lastY = y;
    } else if (contact.down) {
        output_.SendContact(finger.palm ? kContactPalm : kContactEdge, number, contact.lastX,
                            contact.lastY);
        output_.SendContact(kContactUp, number, contact.lastX, contact.lastY);
        contact.down = false;
    }
}

}  // namespace kv
