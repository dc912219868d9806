// The contact sequence of the virtual touch device (selection 3): each frame, both fingers
// become down, move and up reports of contacts 1 and 2.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/core/contact_output.h"
#include "driver/core/finger_pair_output.h"

namespace kv {

class NativeTouchOutput final : public FingerPairOutput {
public:
    static constexpr float kContactRange = 32767.0f;
    static constexpr uint8_t kContactUp = 0;
    static constexpr uint8_t kContactEdge = 2;
    static constexpr uint8_t kContactTouching = 3;
    // In range, no tip, and no finger: a palm came down on the contact, which ends with it.
    static constexpr uint8_t kContactPalm = 6;

    explicit NativeTouchOutput(ContactOutput& output) : output_(output) {}

    // Contact 1 is the primary finger, contact 2 the secondary.
    void SendPair(const PointerSample& primary, const PointerSample& secondary) override;

    bool Down(int contact) const { return contacts_[static_cast<size_t>(contact - 1)].down; }

private:
    struct Contact {
        bool down = false;
        uint16_t lastX = 0;
        uint16_t lastY = 0;
    };

    void Step(Contact& contact, uint16_t number, const PointerSample& finger);

    ContactOutput& output_;
    std::array<Contact, 2> contacts_{};
};

}  // namespace kv
