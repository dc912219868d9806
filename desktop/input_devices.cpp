// Device names for the compositors, and their output-mapping settings.
#include "desktop/input_devices.h"

#include <algorithm>

namespace kv {

std::string SwayIdentifier(const InputDeviceIdentity& device) {
    std::string name = device.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    std::string id = std::to_string(device.vendor);
    id.append(":").append(std::to_string(device.product)).append(":").append(name);
    return id;
}

bool IsOutputName(std::string_view text) {
    constexpr size_t kLongest = 64;
    return !text.empty() && text.size() <= kLongest &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
           });
}

std::vector<std::string> SwayMapCommands(std::string_view output) {
    std::vector<std::string> commands;
    for (const InputDeviceIdentity& device : {kTouchscreenDevice, kPointerDevice}) {
        std::string command = "input ";
        command.append(SwayIdentifier(device)).append(" map_to_output ").append(output);
        commands.push_back(std::move(command));
    }
    return commands;
}

std::vector<CompositorSetting> OutputMappingSettings(std::string_view output) {
    // Texts are built with append: GCC 12 at -O3 warns falsely about operator+ on literals.
    std::vector<CompositorSetting> settings;
    // wlroots maps absolute pointers and touchscreens alike.
    std::string sway;
    for (const std::string& command : SwayMapCommands(output)) {
        sway.append(command).append("\n");
    }
    settings.push_back(
        {Compositor::Sway, "sway", "~/.config/sway/config (or each line after swaymsg)", sway});
    std::string wayfire;
    for (const InputDeviceIdentity& device : {kTouchscreenDevice, kPointerDevice}) {
        wayfire.append("[input-device:").append(device.name).append("]\noutput = ");
        wayfire.append(output).append("\n");
    }
    settings.push_back({Compositor::Wayfire, "wayfire", "~/.config/wayfire.ini", wayfire});
    // KWin maps touchscreens only; an absolute pointer spans the whole desktop there.
    std::string kde = "[Libinput][";
    kde.append(std::to_string(kTouchscreenDevice.vendor)).append("][");
    kde.append(std::to_string(kTouchscreenDevice.product)).append("][");
    kde.append(kTouchscreenDevice.name).append("]\nOutputName=").append(output).append("\n");
    settings.push_back(
        {Compositor::Kde, "KDE Plasma (touchscreen only)", "~/.config/kcminputrc", kde});
    // weston reads the output of a touchscreen from udev.
    std::string weston =
        "SUBSYSTEM==\"input\", ENV{KELVARIN_VYREN}==\"touchscreen\", ENV{WL_OUTPUT}=\"";
    weston.append(output).append("\"\n");
    settings.push_back({Compositor::Weston, "weston (touchscreen only)",
                        "/etc/udev/rules.d/71-kelvarin-output.rules", weston});
    return settings;
}

}  // namespace kv
