// The touch mode (Output State Selection) and the click mode (Output State Mode) as the
// programs use them; the records carry them as integers, read through these functions.
#pragma once

#include <cstdint>
#include <optional>

namespace kv {

enum class TouchMode : int32_t {
    SingleTouch = 0,      // "Single Touch and Drag"
    PinchScroll = 1,      // "Single Touch with Zoom in/out"
    TwoFingerTuio = 2,    // two fingers as TUIO cursors
    TwoFingerNative = 3,  // two fingers as contacts of the virtual touch device
};
inline constexpr int32_t kTouchModes = 4;

// The mode of a selection value; none outside 0..3 (no touch engine runs then).
constexpr std::optional<TouchMode> TouchModeOf(int32_t selection) {
    if (selection < 0 || selection >= kTouchModes) {
        return std::nullopt;
    }
    return static_cast<TouchMode>(selection);
}

// The single-finger modes drive the desktop pointer; the two-finger modes send fingers on.
constexpr bool DrivesPointer(TouchMode mode) {
    return mode == TouchMode::SingleTouch || mode == TouchMode::PinchScroll;
}

// How a finger's touches become button presses.
enum class ClickMode : int32_t {
    Off = 0,              // no pointer output (also every value without a meaning)
    MoveOnly = 1,         // "Move only": the pointer follows, no button
    ClickOnLanding = 2,   // one click where the finger lands
    ClickOnLift = 3,      // one click where the finger lifts
    Drag = 4,             // "Select / Move / Release": button held while touching
    HoldWhereLanded = 5,  // "Select / Hold / Release": pressed and held where it landed
};

// Mode 6 behaves as 4; values without a meaning give Off.
constexpr ClickMode ClickModeOf(int32_t mode) {
    switch (mode) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            return static_cast<ClickMode>(mode);
        case 6:
            return ClickMode::Drag;
        default:
            return ClickMode::Off;
    }
}

}  // namespace kv
