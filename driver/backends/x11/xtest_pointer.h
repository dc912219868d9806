// Pointer injection on X11 through the XTest extension, for desktops where /dev/uinput is
// not writable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/backends/x11/x11_display.h"
#include "driver/core/pointer_injector.h"

namespace kv {

class XTestPointer final : public PointerInjector {
public:
    // Null with a reason in error when the display cannot be opened or has no XTest. An
    // empty name means $DISPLAY.
    static std::unique_ptr<XTestPointer> Create(const std::string& displayName, std::string& error);

    // Absolute moves scale 0..65536 onto the screen; buttons left 1, right 3, middle 2; each
    // wheel notch (120) is a click of button 4 (away from the user) or 5.
    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override;

    // Waits until the server has handled every event sent so far (tests read back after it).
    void Sync();

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

    // The pixel an absolute coordinate (0..65536) lands on, across a screen of size pixels:
    // the inverse of the pointer device's pixel-to-coordinate scaling.
    static int32_t ScaleToPixel(int32_t coordinate, int32_t size);

private:
    XTestPointer(XDisplayPtr display, int32_t width, int32_t height);
    void Click(unsigned int button, bool down);

    XDisplayPtr display_;
    int32_t width_;
    int32_t height_;
};

}  // namespace kv
