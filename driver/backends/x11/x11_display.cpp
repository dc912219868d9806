// DisplayInfo from the core protocol and RandR over libxcb, and the shared connection helper.
#include "driver/backends/x11/x11_display.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <utility>

namespace kv {

namespace {

// A server that is gone is looked for again this often while the driver asks.
constexpr auto kReconnectInterval = std::chrono::seconds(1);

// Frees what an xcb reply call returns.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Take(T* reply) {
    return Reply<T>(reply, &std::free);
}

// The rotation bits of the output's CRTC, or 0 when it is not shown (or gone meanwhile: each
// request's error comes back with its own reply, as a null one).
uint16_t CrtcRotation(xcb_connection_t* c, xcb_randr_output_t output, xcb_timestamp_t config) {
    const auto info = Take(
        xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, output, config), nullptr));
    if (!info || info->crtc == XCB_NONE) {
        return 0;
    }
    const auto crtc = Take(
        xcb_randr_get_crtc_info_reply(c, xcb_randr_get_crtc_info(c, info->crtc, config), nullptr));
    return crtc ? crtc->rotation : 0;
}

}  // namespace

void XcbCloser::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

XcbConnection ConnectX(const std::string& name, int& screen) {
    screen = 0;
    // xcb_connect always gives a connection object; a failed one is in an error state.
    XcbConnection connection(xcb_connect(name.empty() ? nullptr : name.c_str(), &screen));
    if (XConnectionLost(connection.get())) {
        return nullptr;
    }
    return connection;
}

bool XConnectionLost(xcb_connection_t* connection) {
    return connection == nullptr || xcb_connection_has_error(connection) != 0;
}

std::optional<XScreen> ScreenOf(xcb_connection_t* connection, int screen) {
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int k = 0; k < screen && roots.rem > 0; ++k) {
        xcb_screen_next(&roots);
    }
    if (roots.rem == 0) {
        return std::nullopt;
    }
    return XScreen{roots.data->root, roots.data->width_in_pixels, roots.data->height_in_pixels,
                   roots.data->width_in_millimeters, roots.data->height_in_millimeters};
}

std::optional<ScreenMillimetres> X11Display::SizeMm() const {
    if (sizeMm_.width <= 0 || sizeMm_.height <= 0) {
        return std::nullopt;
    }
    return sizeMm_;
}

std::unique_ptr<X11Display> X11Display::Open(const std::string& name) {
    std::unique_ptr<X11Display> display(new X11Display(name));
    if (!display->Connect()) {
        return nullptr;
    }
    return display;
}

X11Display::X11Display(std::string name) : name_(std::move(name)) {}

X11Display::~X11Display() = default;

bool X11Display::Connect() const {
    int screen = 0;
    XcbConnection connection = ConnectX(name_, screen);
    if (!connection) {
        return false;
    }
    xcb_connection_t* c = connection.get();
    const std::optional<XScreen> found = ScreenOf(c, screen);
    if (!found) {
        return false;
    }
    root_ = found->root;
    width_ = found->width;
    height_ = found->height;
    sizeMm_ = ScreenMillimetres{found->widthMm, found->heightMm};
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    randr_ = randr != nullptr && randr->present != 0;
    randr13_ = false;
    if (randr_) {
        const auto version = Take(xcb_randr_query_version_reply(
            c, xcb_randr_query_version(c, XCB_RANDR_MAJOR_VERSION, XCB_RANDR_MINOR_VERSION),
            nullptr));
        randr13_ = version && (version->major_version > 1 ||
                               (version->major_version == 1 && version->minor_version >= 3));
    }
    connection_ = std::move(connection);
    QuerySize();  // the root may have been resized since the set-up
    if (XConnectionLost(c)) {
        connection_.reset();
        return false;
    }
    return true;
}

xcb_connection_t* X11Display::Live() const {
    if (!XConnectionLost(connection_.get())) {
        return connection_.get();
    }
    const Clock::time_point now = Clock::now();
    if (now < nextAttempt_) {
        return nullptr;
    }
    nextAttempt_ = now + kReconnectInterval;
    return Connect() ? connection_.get() : nullptr;
}

void X11Display::QuerySize() const {
    xcb_connection_t* c = connection_.get();
    const auto geometry = Take(xcb_get_geometry_reply(c, xcb_get_geometry(c, root_), nullptr));
    if (geometry) {
        width_ = geometry->width;
        height_ = geometry->height;
    }
}

int32_t X11Display::Width() const {
    if (Live() != nullptr) {
        QuerySize();
    }
    return width_;
}

int32_t X11Display::Height() const {
    if (Live() != nullptr) {
        QuerySize();
    }
    return height_;
}

int32_t X11Display::Orientation() const {
    xcb_connection_t* c = Live();
    if (c == nullptr || !randr_) {
        return 0;
    }
    uint16_t rotation = 0;
    if (randr13_) {
        const auto resources = Take(xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root_), nullptr));
        if (resources) {
            const xcb_timestamp_t config = resources->config_timestamp;
            const auto primary = Take(xcb_randr_get_output_primary_reply(
                c, xcb_randr_get_output_primary(c, root_), nullptr));
            if (primary && primary->output != XCB_NONE) {
                rotation = CrtcRotation(c, primary->output, config);
            }
            const xcb_randr_output_t* outputs =
                xcb_randr_get_screen_resources_current_outputs(resources.get());
            const int count =
                xcb_randr_get_screen_resources_current_outputs_length(resources.get());
            for (int k = 0; rotation == 0 && k < count; ++k) {
                rotation = CrtcRotation(c, outputs[k], config);
            }
        }
    }
    if (rotation == 0) {
        const auto info =
            Take(xcb_randr_get_screen_info_reply(c, xcb_randr_get_screen_info(c, root_), nullptr));
        rotation = info ? info->rotation : 0;
    }
    return QuarterTurns(rotation);
}

int32_t X11Display::OrientationAt(float x, float y) const {
    xcb_connection_t* c = Live();
    if (c == nullptr || !randr13_) {
        return Orientation();
    }
    QuerySize();
    const float px = x * static_cast<float>(width_);
    const float py = y * static_cast<float>(height_);
    const auto resources = Take(xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, root_), nullptr));
    if (resources) {
        const xcb_randr_crtc_t* crtcs =
            xcb_randr_get_screen_resources_current_crtcs(resources.get());
        const int count = xcb_randr_get_screen_resources_current_crtcs_length(resources.get());
        for (int k = 0; k < count; ++k) {
            // A CRTC's size is that of its picture on the screen, after the rotation.
            const auto crtc = Take(xcb_randr_get_crtc_info_reply(
                c, xcb_randr_get_crtc_info(c, crtcs[k], resources->config_timestamp), nullptr));
            if (crtc && crtc->mode != XCB_NONE && px >= crtc->x && py >= crtc->y &&
                px < static_cast<float>(crtc->x + crtc->width) &&
                py < static_cast<float>(crtc->y + crtc->height)) {
                return QuarterTurns(crtc->rotation);
            }
        }
    }
    return Orientation();
}

int32_t X11Display::QuarterTurns(uint16_t rotation) {
    if ((rotation & XCB_RANDR_ROTATION_ROTATE_90) != 0) {
        return 1;
    }
    if ((rotation & XCB_RANDR_ROTATION_ROTATE_180) != 0) {
        return 2;
    }
    if ((rotation & XCB_RANDR_ROTATION_ROTATE_270) != 0) {
        return 3;
    }
    return 0;
}

std::unique_ptr<DisplayInfo> MakeDisplayInfo(const char* displayName) {
    if (displayName != nullptr && displayName[0] != '\0') {
        if (std::unique_ptr<X11Display> x11 = X11Display::Open(displayName)) {
            return x11;
        }
    }
    return std::make_unique<FixedDisplay>();
}

}  // namespace kv
