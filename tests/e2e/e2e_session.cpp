// Starting, watching and stopping one end-to-end run of the Driver on a private X server.
#include "tests/e2e/e2e_session.h"

#include <X11/Xlib.h>

#include <chrono>
#include <filesystem>

namespace kv::test {

namespace {

// Generous: this bounds only a failure on a slow, shared machine, it times nothing.
constexpr int kHelloWaitMs = 60000;
// The Driver talks only while it has heard from the controller in the last five seconds.
constexpr int64_t kPresencePeriodMs = 1000;

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool PointerSeen::LeftDown() const {
    return (buttons & Button1Mask) != 0;
}

struct EndToEndSession::XState {
    Display* display = nullptr;
    Window root = 0;
    Window cover = 0;

    ~XState() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
};

EndToEndSession::EndToEndSession(const SessionOptions& options)
    : options_(options), xvfb_(options.width, options.height) {
    controller_.SetTransport(&transport_);
    if (!Start() && error_.empty()) {
        error_ = "the session did not start";
    }
}

EndToEndSession::~EndToEndSession() = default;

bool EndToEndSession::Start() {
    if (!xvfb_.Running()) {
        error_ = xvfb_.Error();
        return false;
    }
    if (install_.Path().empty() || runtime_.Path().empty() || peer_.Port() == 0) {
        error_ = "no temporary folder or no UDP port";
        return false;
    }

    x_ = std::make_unique<XState>();
    x_->display = XOpenDisplay(xvfb_.Name().c_str());
    if (x_->display == nullptr) {
        error_ = "cannot open " + xvfb_.Name();
        return false;
    }
    Display* display = x_->display;
    x_->root = DefaultRootWindow(display);
    if (options_.coverScreen) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = ButtonPressMask | ButtonReleaseMask;
        x_->cover =
            XCreateWindow(display, x_->root, 0, 0, static_cast<unsigned>(options_.width),
                          static_cast<unsigned>(options_.height), 0, CopyFromParent, InputOnly,
                          CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XSelectInput(display, x_->cover, ButtonPressMask | ButtonReleaseMask);
        XMapRaised(display, x_->cover);
    }
    XWarpPointer(display, None, x_->root, 0, 0, 0, 0, options_.startX, options_.startY);
    XSync(display, False);

    // The Driver reads DRIVER.INI beside its executable, so each run gets its own copy.
    const std::string program = install_.File("Driver");
    std::error_code copyError;
    std::filesystem::copy_file(KV_DRIVER_PATH, program, copyError);
    if (copyError) {
        error_ = "cannot copy the Driver: " + copyError.message();
        return false;
    }
    WriteFile(install_.File("DRIVER.INI"),
              std::string("Output_State_Enable=") + (options_.outputEnabled ? "true" : "false") +
                  "\r\nOutput_State_Mode=" + std::to_string(options_.mode) +
                  "\r\nOutput_State_Selection=0\r\n");

    driver_ = std::make_unique<Process>(
        program,
        std::vector<std::string>{"--port", "0", "--peer-port", std::to_string(peer_.Port()),
                                 "--simulate=" + options_.scenario, "--pointer=xtest", "--verbose"},
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime_.Path()},
                                           {"DISPLAY", xvfb_.Name()}},
        install_.File("stdout"), install_.File("stderr"));
    if (!driver_->Started()) {
        error_ = "cannot start the Driver";
        return false;
    }
    for (;;) {
        const auto datagram = peer_.Receive(kHelloWaitMs);
        if (!datagram) {
            error_ = "no hello from the Driver; it said: " + DriverLog();
            return false;
        }
        if (*datagram == kDriverHello) {
            driverPort_ = peer_.LastSourcePort();
            break;
        }
    }
    SendPresence();
    return true;
}

void EndToEndSession::SendPresence() {
    controller_.clientClient.Reset();
    controller_.clientClient.Publish();
    peer_.SendTo(driverPort_, transport_.frames.back());
    lastPresenceMs_ = SteadyMs();
}

void EndToEndSession::WatchOnce(int receiveTimeoutMs) {
    if (SteadyMs() - lastPresenceMs_ >= kPresencePeriodMs) {
        SendPresence();
    }
    for (auto datagram = peer_.Receive(receiveTimeoutMs); datagram; datagram = peer_.Receive(0)) {
        const DeliverResult delivered =
            controller_.Deliver(datagram->data(), 0, static_cast<int32_t>(datagram->size()));
        if (delivered.record == &controller_.monitorQueue && delivered.parsed) {
            const MonitorQueue& queue = controller_.monitorQueue;
            const MonitorEntry& entry = queue.entries[static_cast<size_t>(queue.last.Load())];
            reports_.push_back({entry.Value4, entry.Value6, entry.Value7});
        }
    }

    Display* display = x_->display;
    Window rootReturn = 0;
    Window childReturn = 0;
    PointerSeen seen;
    int windowX = 0;
    int windowY = 0;
    if (XQueryPointer(display, x_->root, &rootReturn, &childReturn, &seen.x, &seen.y, &windowX,
                      &windowY, &seen.buttons) &&
        (pointer_.empty() || !(pointer_.back() == seen))) {
        pointer_.push_back(seen);
    }
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ButtonPress || event.type == ButtonRelease) {
            buttons_.push_back({event.type == ButtonPress, event.xbutton.button,
                                event.xbutton.x_root, event.xbutton.y_root});
        }
    }
}

bool EndToEndSession::WatchUntilTouchEnds(int timeoutMs) {
    if (!error_.empty()) {
        return false;
    }
    const int64_t deadline = SteadyMs() + timeoutMs;
    bool touched = false;
    size_t looked = 0;
    while (SteadyMs() < deadline) {
        WatchOnce(10);
        for (; looked < reports_.size(); ++looked) {
            if (reports_[looked].state == 2) {
                touched = true;
            } else if (touched) {
                return true;
            }
        }
    }
    return false;
}

std::optional<int> EndToEndSession::Stop(int timeoutMs) {
    if (!driver_ || driverPort_ == 0) {
        return std::nullopt;
    }
    controller_.driverDoStop.RaiseCounted();
    peer_.SendTo(driverPort_, transport_.frames.back());
    const std::optional<int> status = driver_->Wait(timeoutMs);
    // The server has handled all the Driver sent before it went; one last look at the result.
    XSync(x_->display, False);
    WatchOnce(0);
    return status;
}

std::string EndToEndSession::DriverLog() const {
    return ReadFile(install_.File("stderr"));
}

}  // namespace kv::test
