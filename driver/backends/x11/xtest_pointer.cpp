// XTest injection: fake motion and button events on the default screen.
#include "driver/backends/x11/xtest_pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace kv {

namespace {

constexpr unsigned int kButtonLeft = 1;
constexpr unsigned int kButtonMiddle = 2;
constexpr unsigned int kButtonRight = 3;
constexpr unsigned int kWheelUp = 4;
constexpr unsigned int kWheelDown = 5;
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
    display_.reset();
    lost_ = false;
    // The handler keeps a pointer to lost_: this object is never moved (Create hands it out
    // on the heap), so it stays valid for the connection's life.
    XDisplayPtr display = OpenXDisplay(displayName_, &lost_);
    if (!display) {
        error = "cannot open X display \"" + displayName_ + "\"";
        return false;
    }
    const XWriteGuard guard;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)) {
        error = "X display \"" + displayName_ + "\" has no XTest extension";
        return false;
    }
    // A server started again may have another screen size.
    const int screen = DefaultScreen(display.get());
    width_ = DisplayWidth(display.get(), screen);
    height_ = DisplayHeight(display.get(), screen);
    display_ = std::move(display);
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

void XTestPointer::Click(unsigned int button, bool down) {
    XTestFakeButtonEvent(display_.get(), button, down ? True : False, CurrentTime);
}

void XTestPointer::Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    if (!Connected() && !Reconnect()) {
        return;
    }
    Send(flags, dx, dy, data);
    // The server went away since the last event (found out only now, when the event could
    // not be sent): one more try at once, for a server that is already back.
    if (lost_) {
        nextAttempt_ = Clock::time_point{};
        if (Reconnect()) {
            Send(flags, dx, dy, data);
        }
    }
}

void XTestPointer::Send(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    namespace pf = pointer_flags;
    const XWriteGuard guard;
    Display* display = display_.get();
    if ((flags & pf::kMove) != 0 && (flags & pf::kAbsolute) != 0) {
        XTestFakeMotionEvent(display, DefaultScreen(display), ScaleToPixel(dx, width_),
                             ScaleToPixel(dy, height_), CurrentTime);
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
        const unsigned int button = data > 0 ? kWheelUp : kWheelDown;
        for (int32_t notches = std::min(std::abs(data / kWheelDelta), kMaxWheelNotches);
             notches > 0; --notches) {
            Click(button, true);
            Click(button, false);
        }
    }
    // Sent now, without waiting for the server: a busy server must not stall the frame loop.
    XFlush(display);
}

void XTestPointer::Sync() {
    if (Connected()) {
        const XWriteGuard guard;
        XSync(display_.get(), False);
    }
}

}  // namespace kv
