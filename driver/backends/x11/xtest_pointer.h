// Pointer injection on X11 through the XTest extension (over libxcb), for desktops where
// /dev/uinput is not writable.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/backends/x11/x11_display.h"
#include "driver/core/pointer_injector.h"

namespace kv {

class XTestPointer final : public PointerInjector {
public:
    // Null with a reason in error when the display cannot be opened or has no XTest. An
    // empty name means $DISPLAY. Should the server go away later (a restarted X session), the
    // events meanwhile are dropped and the display is opened again, at most once a second,
    // until it is back.
    static std::unique_ptr<XTestPointer> Create(const std::string& displayName, std::string& error);

    // Absolute moves scale 0..65536 onto the screen; buttons left 1, right 3, middle 2; each
    // wheel notch (120) is a click of button 4 (away from the user) or 5.
    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override;

    // Waits until the server has handled every event sent so far (tests read back after it).
    void Sync();

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // Whether the connection is up (false from a lost server until it is opened again).
    bool Connected() const { return !XConnectionLost(connection_.get()); }

    // The pixel an absolute coordinate (0..65536) lands on, across a screen of size pixels:
    // the inverse of the pointer device's pixel-to-coordinate scaling.
    static int32_t ScaleToPixel(int32_t coordinate, int32_t size);

private:
    using Clock = std::chrono::steady_clock;

    explicit XTestPointer(std::string displayName);
    // Opens the display; false with a reason when it cannot be used.
    bool Connect(std::string& error);
    // Opens the display again after the server went away, unless tried within the last second.
    bool Reconnect();
    void Send(uint32_t flags, int32_t dx, int32_t dy, int32_t data);
    void Click(uint8_t button, bool down);

    std::string displayName_;
    XcbConnection connection_;
    uint32_t root_ = 0;
    Clock::time_point nextAttempt_{};
    int32_t width_ = 0;
    int32_t height_ = 0;
};

}  // namespace kv
