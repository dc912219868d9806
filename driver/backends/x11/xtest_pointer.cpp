// XTest injection over libxcb: fake motion and button events on the default screen.
#include "driver/backends/x11/xtest_pointer.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace kv {

namespace {

constexpr uint8_t kButtonLeft = 1;
constexpr uint8_t kButtonMiddle = 2;
constexpr uint8_t kButtonRight = 3;
constexpr uint8_t kWheelUp = 4;
constexpr uint8_t kWheelDown = 5;
constexpr int32_t kWheelDelta = 120;
constexpr int64_t kAbsoluteRange = 65536;
// A bound on the clicks one wheel event can make, so that no data value can stall the loop.
constexpr int32_t kMaxWheelNotches = 16;

}  // namespace

// A server that is gone is looked for again this often while events come.
constexpr auto kReconnectInterval = std::chrono::seconds(1);

std::unique_ptr<XTestPointer> XTestPointer::Create(const std::string& displayName,
                                                   std::string& error) {
    std::unique_ptr<XTestPointer> pointer(new XTestPointer(displayName));
    if (!pointer->Connect(error)) {
        return nullptr;
    }
    return pointer;
}

XTestPointer::XTestPointer(std::string displayName) : displayName_(std::move(displayName)) {}

bool XTestPointer::Connect(std::string& error) {
    connection_.reset();
    int screen = 0;
    XcbConnection connection = ConnectX(displayName_, screen);
    if (!connection) {
        error = "cannot open X display \"" + displayName_ + "\"";
        return false;
    }
    xcb_connection_t* c = connection.get();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (XConnectionLost(c)) {
        error = "X display \"" + displayName_ + "\" went away while it was opened";
        return false;
    }
    if (xtest == nullptr || xtest->present == 0) {
        error = "X display \"" + displayName_ + "\" has no XTest extension";
        return false;
    }
    const std::optional<XScreen> found = ScreenOf(c, screen);
    if (!found) {
        error = "X display \"" + displayName_ + "\" has no screen " + std::to_string(screen);
        return false;
    }
    // A server started again may have another screen size.
    root_ = found->root;
    width_ = found->width;
    height_ = found->height;
    connection_ = std::move(connection);
    return true;
}

bool XTestPointer::Reconnect() {
    const Clock::time_point now = Clock::now();
    if (now < nextAttempt_) {
        return false;
    }
    nextAttempt_ = now + kReconnectInterval;
    std::string error;
    return Connect(error);
}

int32_t XTestPointer::ScaleToPixel(int32_t coordinate, int32_t size) {
    if (size <= 0) {
        return 0;
    }
    const int64_t clamped = std::clamp<int64_t>(coordinate, 0, kAbsoluteRange);
    // The pointer device made the coordinate as px x 65536 / size, rounded down; rounding
    // back up undoes that exactly for any screen up to 65536 pixels, where rounding down
    // would land one pixel short. 65536 is the far edge itself; the last pixel is the
    // furthest the pointer goes.
    const int64_t pixel = (clamped * size + kAbsoluteRange - 1) / kAbsoluteRange;
    return static_cast<int32_t>(std::min<int64_t>(pixel, size - 1));
}

void XTestPointer::Click(uint8_t button, bool down) {
    xcb_test_fake_input(connection_.get(), down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button,
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void XTestPointer::Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    if (!Connected() && !Reconnect()) {
        return;
    }
    Send(flags, dx, dy, data);
    // The server went away since the last event (found out only now, when the event could
    // not be sent): one more try at once, for a server that is already back.
    if (!Connected()) {
        nextAttempt_ = Clock::time_point{};
        if (Reconnect()) {
            Send(flags, dx, dy, data);
        }
    }
}

void XTestPointer::Send(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    namespace pf = pointer_flags;
    if ((flags & pf::kMove) != 0 && (flags & pf::kAbsolute) != 0) {
        // Detail 0: an absolute position on the given root window.
        xcb_test_fake_input(connection_.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_,
                            static_cast<int16_t>(ScaleToPixel(dx, width_)),
                            static_cast<int16_t>(ScaleToPixel(dy, height_)), 0);
    }
    if ((flags & pf::kLeftDown) != 0) {
        Click(kButtonLeft, true);
    }
    if ((flags & pf::kLeftUp) != 0) {
        Click(kButtonLeft, false);
    }
    if ((flags & pf::kRightDown) != 0) {
        Click(kButtonRight, true);
    }
    if ((flags & pf::kRightUp) != 0) {
        Click(kButtonRight, false);
    }
    if ((flags & pf::kMiddleDown) != 0) {
        Click(kButtonMiddle, true);
    }
    if ((flags & pf::kMiddleUp) != 0) {
        Click(kButtonMiddle, false);
    }
    if ((flags & pf::kWheel) != 0) {
        const uint8_t button = data > 0 ? kWheelUp : kWheelDown;
        for (int32_t notches = std::min(std::abs(data / kWheelDelta), kMaxWheelNotches);
             notches > 0; --notches) {
            Click(button, true);
            Click(button, false);
        }
    }
    // Sent now, without waiting for the server: a busy server must not stall the frame loop.
    xcb_flush(connection_.get());
}

void XTestPointer::Sync() {
    if (Connected()) {
        xcb_connection_t* c = connection_.get();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
}

}  // namespace kv
