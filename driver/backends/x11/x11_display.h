// The primary display as X11 reports it (over libxcb): the default screen's size and the
// RandR rotation of the primary output. Also the connection helper the X11 backends share.
// libxcb keeps everything per connection: a server that goes away leaves that connection in
// an error state (every later call returns at once) and touches nothing process-wide.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "driver/core/display_info.h"

struct xcb_connection_t;

namespace kv {

struct XcbCloser {
    void operator()(xcb_connection_t* connection) const;
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbCloser>;

// A connection to the named display (":0"); an empty name means $DISPLAY. Null when there is
// no server to talk to or it went away during the set-up; screen is the default screen's
// number.
XcbConnection ConnectX(const std::string& name, int& screen);
// Whether a connection has broken (the server went away); a null one counts as broken.
bool XConnectionLost(xcb_connection_t* connection);

// The root window and size of a screen, as the connection's set-up reply gives them.
struct XScreen {
    uint32_t root = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t widthMm = 0;  // the physical size the server gives; 0 when it does not know
    int32_t heightMm = 0;
};
// Screen number screen of the connection; none when the server has no such screen.
std::optional<XScreen> ScreenOf(xcb_connection_t* connection, int screen);

class X11Display final : public DisplayInfo {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11Display> Open(const std::string& name);
    ~X11Display() override;

    // The default screen's current size (asked of the server, so it follows resizes). After
    // the server went away: the last size known, until a server is back (looked for at most
    // once a second).
    int32_t Width() const override;
    int32_t Height() const override;
    // The rotation of the primary output (the first active output when none is marked
    // primary) in quarter turns; 0 when the server has no RandR.
    int32_t Orientation() const override;
    // The rotation of the CRTC whose picture covers the point (RandR 1.3), else as above.
    int32_t OrientationAt(float x, float y) const override;
    // The default screen's size in millimetres as the server gave it at connection; none
    // when it gave none.
    std::optional<ScreenMillimetres> SizeMm() const override;

    // RandR rotation bits (RR_Rotate_0 1, _90 2, _180 4, _270 8, reflections ignored) in
    // quarter turns.
    static int32_t QuarterTurns(uint16_t rotation);

private:
    using Clock = std::chrono::steady_clock;

    explicit X11Display(std::string name);
    // Opens the connection and asks for RandR; false when no server answers.
    bool Connect() const;
    // A usable connection: the current one, or a new one after a loss (at most once a second).
    xcb_connection_t* Live() const;
    void QuerySize() const;

    std::string name_;
    // The connection is made again by the queries themselves after a loss.
    mutable XcbConnection connection_;
    mutable uint32_t root_ = 0;
    mutable bool randr_ = false;    // RandR present at all
    mutable bool randr13_ = false;  // RandR 1.3: primary output and current resources
    // What the last answers said; kept through a loss of the server.
    mutable int32_t width_ = 0;
    mutable int32_t height_ = 0;
    mutable ScreenMillimetres sizeMm_;
    mutable Clock::time_point nextAttempt_{};
};

// What the touch output should use for the primary display: X11 when a display name is
// given (the value of $DISPLAY) and can be opened, otherwise the uinput-sized fixed display.
std::unique_ptr<DisplayInfo> MakeDisplayInfo(const char* displayName);

}  // namespace kv
