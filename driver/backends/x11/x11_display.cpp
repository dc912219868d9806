// DisplayInfo from Xlib and XRandR, and the shared Xlib connection and error helpers.
#include "driver/backends/x11/x11_display.h"

#include <X11/Xlib.h>
#include <X11/Xlibint.h>  // the connection's flags, for closing a half-open one
#include <X11/extensions/Xrandr.h>
#include <signal.h>

#include <csetjmp>
#include <cstdlib>
#include <ctime>

namespace kv {

namespace {

// Errors seen by the handler of the innermost live trap.
int gTrappedErrors = 0;

int CountError(Display*, XErrorEvent*) {
    ++gTrappedErrors;
    return 0;
}

// The rotation bits of the output's CRTC, or 0 when it is not shown.
Rotation CrtcRotation(Display* display, XRRScreenResources* resources, RROutput output) {
    Rotation rotation = 0;
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
    if (info == nullptr) {
        return rotation;
    }
    if (info->crtc != 0) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, info->crtc);
        if (crtc != nullptr) {
            rotation = crtc->rotation;
            XRRFreeCrtcInfo(crtc);
        }
    }
    XRRFreeOutputInfo(info);
    return rotation;
}

// Set while this thread opens a connection: where the process-wide I/O error handler goes
// back to, and the half-open connection it found broken.
thread_local std::jmp_buf* tOpening = nullptr;
thread_local Display* tBrokenWhileOpening = nullptr;

void IgnoreLostConnection(Display*, void*) {}

// Xlib's I/O error handler, for every connection. Returning lets Xlib's per-connection exit
// handler decide, and ours only notes the loss. A connection that breaks while it is being
// opened still has Xlib's default exit handler, which ends the process: that case goes back
// to the opening instead, before Xlib can get there.
int OnLostConnection(Display* display) {
    if (tOpening != nullptr) {
        tBrokenWhileOpening = display;
        std::longjmp(*tOpening, 1);
    }
    return 0;
}

// XOpenDisplay, but null for a server that goes away during the opening (one that crashes
// or is stopped while it starts, a display manager switching servers). Plain data only in
// this frame: the jump back skips nothing that needs to be ended.
Display* OpenConnection(const char* name) {
    std::jmp_buf opening;
    tBrokenWhileOpening = nullptr;
    if (setjmp(opening) != 0) {
        tOpening = nullptr;
        // The half-open connection: closed, without the exit its default handler would take.
        Display* broken = tBrokenWhileOpening;
        tBrokenWhileOpening = nullptr;
        if (broken != nullptr) {
            // Closed without the requests XCloseDisplay would send first (its request buffer
            // is unusable after the loss): the default GCs are freed on our side only, as the
            // server that held them is gone.
            XSetIOErrorExitHandler(broken, IgnoreLostConnection, nullptr);
            for (int k = 0; k < ScreenCount(broken); ++k) {
                Screen* screen = ScreenOfDisplay(broken, k);
                std::free(screen->default_gc);
                screen->default_gc = nullptr;
            }
            broken->flags = broken->flags | XlibDisplayClosing;
            XCloseDisplay(broken);
        }
        return nullptr;
    }
    tOpening = &opening;
    Display* display = XOpenDisplay(name);
    tOpening = nullptr;
    return display;
}

}  // namespace

XWriteGuard::XWriteGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    wasBlocked_ = sigismember(&previous, SIGPIPE) == 1;
}

XWriteGuard::~XWriteGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    if (!wasPending_) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            // Raised by a write of ours to the dead connection (a SIGPIPE goes to the
            // thread that wrote): taken, so that unblocking does not deliver it.
            const timespec now{0, 0};
            sigtimedwait(&pipe, nullptr, &now);
        }
    }
    if (!wasBlocked_) {
        pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    }
}

void XDisplayCloser::operator()(_XDisplay* display) const {
    if (display != nullptr) {
        const XWriteGuard guard;  // closing flushes what is still queued
        XCloseDisplay(display);
    }
}

XDisplayPtr OpenXDisplay(const std::string& name, bool* lost) {
    const XWriteGuard guard;
    // Xlib's default handlers end the process when the server goes away; the driver keeps
    // running instead, and every later call on the dead connection returns at once. The
    // first handler is process-wide (only these backends use Xlib in the driver) and is in
    // place before the first opening.
    XSetIOErrorHandler(OnLostConnection);
    Display* display = OpenConnection(name.empty() ? nullptr : name.c_str());
    if (display != nullptr) {
        XSetIOErrorExitHandler(
            display,
            [](Display*, void* flag) {
                if (flag != nullptr) {
                    *static_cast<bool*>(flag) = true;
                }
            },
            lost);
    }
    return XDisplayPtr(display);
}

XErrorTrap::XErrorTrap(_XDisplay* display) : display_(display) {
    XSync(display_, False);
    gTrappedErrors = 0;
    previous_ = reinterpret_cast<void (*)()>(XSetErrorHandler(CountError));
}

XErrorTrap::~XErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous_));
}

bool XErrorTrap::Failed() {
    XSync(display_, False);
    return gTrappedErrors != 0;
}

std::unique_ptr<X11Display> X11Display::Open(const std::string& name) {
    XDisplayPtr display = OpenXDisplay(name);
    if (!display) {
        return nullptr;
    }
    return std::unique_ptr<X11Display>(new X11Display(std::move(display)));
}

X11Display::X11Display(XDisplayPtr display) : display_(std::move(display)) {
    const XWriteGuard guard;
    int eventBase = 0;
    int errorBase = 0;
    randr_ = XRRQueryExtension(display_.get(), &eventBase, &errorBase) != 0;
    int major = 0;
    int minor = 0;
    if (randr_ && XRRQueryVersion(display_.get(), &major, &minor) != 0) {
        randr13_ = major > 1 || (major == 1 && minor >= 3);
    }
}

X11Display::~X11Display() = default;

void X11Display::QuerySize(int32_t& width, int32_t& height) const {
    const XWriteGuard guard;
    Display* display = display_.get();
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, DefaultRootWindow(display), &attributes) != 0) {
        width = attributes.width;
        height = attributes.height;
        return;
    }
    const int screen = DefaultScreen(display);
    width = DisplayWidth(display, screen);
    height = DisplayHeight(display, screen);
}

int32_t X11Display::Width() const {
    int32_t width = 0;
    int32_t height = 0;
    QuerySize(width, height);
    return width;
}

int32_t X11Display::Height() const {
    int32_t width = 0;
    int32_t height = 0;
    QuerySize(width, height);
    return height;
}

int32_t X11Display::Orientation() const {
    if (!randr_) {
        return 0;
    }
    const XWriteGuard guard;
    Display* display = display_.get();
    const Window root = DefaultRootWindow(display);
    Rotation rotation = 0;
    if (randr13_) {
        // Outputs can disappear between the calls; such errors leave the answer at 0.
        XErrorTrap trap(display);
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
        if (resources != nullptr) {
            const RROutput primary = XRRGetOutputPrimary(display, root);
            if (primary != 0) {
                rotation = CrtcRotation(display, resources, primary);
            }
            for (int k = 0; rotation == 0 && k < resources->noutput; ++k) {
                rotation = CrtcRotation(display, resources, resources->outputs[k]);
            }
            XRRFreeScreenResources(resources);
        }
        if (trap.Failed()) {
            rotation = 0;
        }
    }
    if (rotation == 0) {
        XRRRotations(display, DefaultScreen(display), &rotation);
    }
    return QuarterTurns(rotation);
}

int32_t X11Display::QuarterTurns(uint16_t rotation) {
    if ((rotation & RR_Rotate_90) != 0) {
        return 1;
    }
    if ((rotation & RR_Rotate_180) != 0) {
        return 2;
    }
    if ((rotation & RR_Rotate_270) != 0) {
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
