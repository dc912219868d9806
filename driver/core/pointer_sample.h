// The samples that flow from the touch engines through the pointer pipelines, and the report
// a pipeline hands to its pointer device.
#pragma once

#include <cstdint>

namespace kv {

// Touch states shared by the engines, the pipelines and the devices.
namespace touch_state {
constexpr int32_t kNone = 0;      // no finger
constexpr int32_t kHover = 1;     // finger near
constexpr int32_t kTouching = 2;  // finger touching
}  // namespace touch_state

// One finger in one frame: normalised sensor coordinates on input, normalised screen
// coordinates after mapping.
struct PointerSample {
    int32_t state = touch_state::kNone;
    float x = 0.0f;
    float y = 0.0f;
    float wheel = 0.0f;      // scroll amount of the pinch engine, 0 otherwise
    uint8_t rightClick = 0;  // 1 in the one sample that issues a right click
    // The touch ends because a palm came down on it: a touchscreen cancels it rather than
    // lifting it (which a desktop takes for the end of a tap).
    bool palm = false;
};

// What a pointer device receives. The secondary channel is never filled by this system.
struct PointerReport {
    int32_t engineId = 0;
    int32_t deviceIndex = 1;
    float wheel = 0.0f;
    uint8_t rightClick = 0;
    int32_t primaryState = 0;
    int32_t primaryStateAgain = 0;
    float primaryX = 0.0f;
    float primaryY = 0.0f;
    int32_t secondaryState = 0;
    float secondaryX = 0.0f;
    float secondaryY = 0.0f;
};

}  // namespace kv
