// The Driver's own input devices as the desktop sees them (uinput), and the settings with which
// each Wayland compositor ties them to one output. The Driver, the Controller and kvctl share
// them, so that what is printed names what is made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct InputDeviceIdentity {
    uint16_t vendor;
    uint16_t product;
    const char* name;
};

// The touchscreen shares the virtual touch endpoint's IDs; both are on the virtual bus.
inline constexpr InputDeviceIdentity kTouchscreenDevice{0xDDDD, 0x0001,
                                                        "Kelvarin Vyren touchscreen"};
inline constexpr InputDeviceIdentity kPointerDevice{0xDDDD, 0x0002, "Kelvarin Vyren pointer"};

// sway's name for a device: decimal vendor and product, and the name with blanks as
// underscores ("56797:1:Kelvarin_Vyren_touchscreen").
std::string SwayIdentifier(const InputDeviceIdentity& device);

// Whether text can stand as an output name in a compositor's settings: an output's connector
// name ("HDMI-A-1", "DP-2", "HEADLESS-1") of letters, digits, '-', '_' and '.', at most 64.
bool IsOutputName(std::string_view text);

enum class Compositor { Sway, Wayfire, Kde, Weston };

struct CompositorSetting {
    Compositor kind;
    std::string compositor;  // "sway"
    std::string where;       // the file or command that takes it
    std::string text;        // the lines, each ending in a newline
};

// sway's commands (and config lines) that tie both devices to the output, or with "*" spread
// them over the whole layout again.
std::vector<std::string> SwayMapCommands(std::string_view output);

// For each compositor that can be told, the settings that map the devices to the output
// (a valid output name); which devices each one maps is said in its text.
std::vector<CompositorSetting> OutputMappingSettings(std::string_view output);

}  // namespace kv
