// Device names for the compositors, and their output-mapping settings.
#include "messaging/input_devices.h"

#include <algorithm>

namespace kv {

std::string SwayIdentifier(const InputDeviceIdentity& device) {
    std::string name = device.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    return std::to_string(device.vendor) + ":" + std::to_string(device.product) + ":" + name;
}

bool IsOutputName(std::string_view text) {
    constexpr size_t kLongest = 64;
    return !text.empty() && text.size() <= kLongest &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
           });
}

std::vector<CompositorSetting> OutputMappingSettings(std::string_view output) {
    const std::string out(output);
    std::vector<CompositorSetting> settings;
    // wlroots maps absolute pointers and touchscreens alike.
    std::string sway;
    for (const InputDeviceIdentity& device : {kTouchscreenDevice, kPointerDevice}) {
        sway += "input " + SwayIdentifier(device) + " map_to_output " + out + "\n";
    }
    settings.push_back({"sway", "~/.config/sway/config (or each line after swaymsg)", sway});
    std::string wayfire;
    for (const InputDeviceIdentity& device : {kTouchscreenDevice, kPointerDevice}) {
        wayfire += std::string("[input-device:") + device.name + "]\noutput = " + out + "\n";
    }
    settings.push_back({"wayfire", "~/.config/wayfire.ini", wayfire});
    // KWin maps touchscreens only; an absolute pointer spans the whole desktop there.
    settings.push_back({"KDE Plasma (touchscreen only)", "~/.config/kcminputrc",
                        "[Libinput][" + std::to_string(kTouchscreenDevice.vendor) + "][" +
                            std::to_string(kTouchscreenDevice.product) + "][" +
                            kTouchscreenDevice.name + "]\nOutputName=" + out + "\n"});
    // weston reads the output of a touchscreen from udev.
    settings.push_back({"weston (touchscreen only)", "/etc/udev/rules.d/71-kelvarin-output.rules",
                        "SUBSYSTEM==\"input\", ENV{KELVARIN_VYREN}==\"touchscreen\", "
                        "ENV{WL_OUTPUT}=\"" +
                            out + "\"\n"});
    return settings;
}

}  // namespace kv
