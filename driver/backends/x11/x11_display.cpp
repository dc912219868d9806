// DisplayInfo from Xlib and XRandR, and the shared Xlib connection and error helpers.
#include "driver/backends/x11/x11_display.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

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

}  // namespace

void XDisplayCloser::operator()(_XDisplay* display) const {
    if (display != nullptr) {
        XCloseDisplay(display);
    }
}

XDisplayPtr OpenXDisplay(const std::string& name, bool* lost) {
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display != nullptr) {
        // Xlib's default handlers end the process when the server goes away; the driver
        // keeps running instead, and every later call on the dead connection returns at once.
        // The first handler is process-wide: only these backends use Xlib in the driver.
        XSetIOErrorHandler([](Display*) { return 0; });
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
