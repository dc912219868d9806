// The primary display as X11 reports it: the default screen's size and the XRandR rotation
// of the primary output. Also the small Xlib helpers the X11 backends share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/core/display_info.h"

struct _XDisplay;

namespace kv {

struct XDisplayCloser {
    void operator()(_XDisplay* display) const;
};
using XDisplayPtr = std::unique_ptr<_XDisplay, XDisplayCloser>;

// Opens a connection to the named display (":0"); an empty name means $DISPLAY. Null when
// there is no server to talk to. When the server goes away later, the process goes on, every
// call on the connection returns at once, and *lost (if given) turns true.
XDisplayPtr OpenXDisplay(const std::string& name, bool* lost = nullptr);

// While it lives, a write to a server that has gone away does not end the process: the
// calling thread holds SIGPIPE back, and one raised meanwhile is taken and dropped when it
// ends. The write fails instead and Xlib reports the lost connection. Every Xlib call that
// may send (requests with replies, flushes, closing) sits inside one.
class XWriteGuard {
public:
    XWriteGuard();
    ~XWriteGuard();
    XWriteGuard(const XWriteGuard&) = delete;
    XWriteGuard& operator=(const XWriteGuard&) = delete;

private:
    bool wasPending_ = false;  // a SIGPIPE was already pending: it is not ours to take
    bool wasBlocked_ = false;
};

// Collects the X protocol errors raised while it lives instead of letting Xlib's default
// handler end the process. Main thread only: the handler is process-wide.
class XErrorTrap {
public:
    explicit XErrorTrap(_XDisplay* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; true when any of it failed.
    bool Failed();

private:
    _XDisplay* display_;
    void (*previous_)();  // Xlib's handler type, kept opaque here
};

class X11Display final : public DisplayInfo {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11Display> Open(const std::string& name);
    ~X11Display() override;

    // The default screen's current size (asked of the server, so it follows resizes).
    int32_t Width() const override;
    int32_t Height() const override;
    // The rotation of the primary output (the first active output when none is marked
    // primary) in quarter turns; 0 when the server has no RandR.
    int32_t Orientation() const override;

    // RandR rotation bits (RR_Rotate_0 1, _90 2, _180 4, _270 8, reflections ignored) in
    // quarter turns.
    static int32_t QuarterTurns(uint16_t rotation);

private:
    explicit X11Display(XDisplayPtr display);
    void QuerySize(int32_t& width, int32_t& height) const;

    XDisplayPtr display_;
    bool randr_ = false;    // RandR present at all
    bool randr13_ = false;  // RandR 1.3: primary output and current resources
};

// What the touch output should use for the primary display: X11 when a display name is
// given (the value of $DISPLAY) and can be opened, otherwise the uinput-sized fixed display.
std::unique_ptr<DisplayInfo> MakeDisplayInfo(const char* displayName);

}  // namespace kv
