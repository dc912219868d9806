// XTest injection against a real X server: the pointer lands where the coordinates say and
// a window under it sees the buttons and wheel clicks.
#include "driver/backends/x11/xtest_pointer.h"

// gtest before Xlib: Xlib's macros (None, Bool) would break gtest's own declarations.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/backends/x11/x11_display.h"
#include "driver/touch/mouse_device.h"
#include "tests/support/process_support.h"
#include "tests/support/xvfb_server.h"

namespace kv::test {
namespace {

namespace pf = pointer_flags;
constexpr uint32_t kAbsMove = pf::kMove | pf::kAbsolute;

// A write to a server that has gone raises SIGPIPE: ignored here as in the programs' main.
[[maybe_unused]] const bool kSigpipeIgnored = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

// The tests watch the server through Xlib, a client of their own.
struct XDisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using XDisplayPtr = std::unique_ptr<Display, XDisplayCloser>;
XDisplayPtr OpenXDisplay(const std::string& name) {
    return XDisplayPtr(XOpenDisplay(name.c_str()));
}
// Where the server has the pointer, in root window pixels.
std::pair<int, int> PointerPosition(Display* d) {
    Window root = 0, child = 0;
    int rootX = -1, rootY = -1, winX = 0, winY = 0;
    unsigned int mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    return {rootX, rootY};
}
// Bounds only a failure (an event that never comes); nothing is measured.
constexpr int kEventWaitMs = 20000;

TEST(XTestScaleTest, CoordinatesScaleOntoThePixelGrid) {
    EXPECT_EQ(XTestPointer::ScaleToPixel(32768, 1024), 512);
    EXPECT_EQ(XTestPointer::ScaleToPixel(0, 1024), 0);
    EXPECT_EQ(XTestPointer::ScaleToPixel(65536, 768), 767);  // the far edge is the last pixel
    EXPECT_EQ(XTestPointer::ScaleToPixel(-40, 768), 0);
    EXPECT_EQ(XTestPointer::ScaleToPixel(1 << 30, 768), 767);
    EXPECT_EQ(XTestPointer::ScaleToPixel(32768, 0), 0);
}

// The pointer device sends px x 65536 / size, rounded down; every pixel must come back.
TEST(XTestScaleTest, EveryPixelSurvivesTheRoundTripThroughTheAbsoluteRange) {
    for (int32_t size : {600, 768, 1050, 1080, 1366, 1920, 2560, 3840, 65536}) {
        SCOPED_TRACE(size);
        int wrong = 0;
        for (int32_t px = 0; px < size; ++px) {
            const auto coordinate = static_cast<int32_t>(int64_t{px} * 65536 / size);
            wrong += XTestPointer::ScaleToPixel(coordinate, size) != px ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0);
    }
}

class XvfbXTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running()) << server.Error();
        std::string error;
        pointer = XTestPointer::Create(server.Name(), error);
        ASSERT_NE(pointer, nullptr) << error;
        observer = OpenXDisplay(server.Name());
        ASSERT_NE(observer, nullptr);
    }

    std::pair<int, int> PointerPosition() { return test::PointerPosition(observer.get()); }

    // A mapped window over the whole screen that reports button presses and releases.
    Window MapListeningWindow() {
        Display* d = observer.get();
        const int screen = DefaultScreen(d);
        XSetWindowAttributes attributes{};
        attributes.event_mask = ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
        Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0,
                                 static_cast<unsigned>(DisplayWidth(d, screen)),
                                 static_cast<unsigned>(DisplayHeight(d, screen)), 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWEventMask, &attributes);
        XMapWindow(d, w);
        XEvent event;
        while (NextEvent(event) && event.type != MapNotify) {
        }
        return w;
    }

    bool NextEvent(XEvent& event) {
        Display* d = observer.get();
        XFlush(d);
        while (XPending(d) == 0) {
            pollfd p{ConnectionNumber(d), POLLIN, 0};
            if (poll(&p, 1, kEventWaitMs) <= 0) {
                return false;
            }
        }
        XNextEvent(d, &event);
        return true;
    }

    struct Seen {
        int type;
        unsigned int button;
        int x;
        int y;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> ButtonEvents(size_t count) {
        std::vector<Seen> seen;
        XEvent event;
        while (seen.size() < count && NextEvent(event)) {
            if (event.type == ButtonPress || event.type == ButtonRelease) {
                seen.push_back(
                    {event.type, event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root});
            }
        }
        return seen;
    }

    XvfbServer server;
    std::unique_ptr<XTestPointer> pointer;
    XDisplayPtr observer;
};

TEST_F(XvfbXTest, AbsoluteMoveToTheMiddleLandsOnTheCentrePixel) {
    EXPECT_EQ(pointer->Width(), 1024);
    EXPECT_EQ(pointer->Height(), 768);
    pointer->Inject(kAbsMove, 32768, 32768, 0);
    pointer->Sync();
    EXPECT_EQ(PointerPosition(), std::make_pair(512, 384));
    pointer->Inject(kAbsMove, 65536, 0, 0);
    pointer->Sync();
    EXPECT_EQ(PointerPosition(), std::make_pair(1023, 0));
}

TEST_F(XvfbXTest, ButtonsReachTheWindowUnderThePointer) {
    MapListeningWindow();
    pointer->Inject(kAbsMove, 16384, 16384, 0);
    pointer->Inject(pf::kLeftDown, 0, 0, 0);
    pointer->Inject(pf::kLeftUp, 0, 0, 0);
    pointer->Sync();
    const std::vector<Seen> expected = {{ButtonPress, 1, 256, 192}, {ButtonRelease, 1, 256, 192}};
    EXPECT_EQ(ButtonEvents(2), expected);
}

TEST_F(XvfbXTest, RightMiddleAndWheelUseTheirButtons) {
    MapListeningWindow();
    pointer->Inject(kAbsMove, 49152, 49152, 0);
    pointer->Inject(pf::kRightDown, 0, 0, 0);
    pointer->Inject(pf::kRightUp, 0, 0, 0);
    pointer->Inject(pf::kMiddleDown | pf::kMiddleUp, 0, 0, 0);
    pointer->Inject(pf::kWheel, 0, 0, 120);
    pointer->Inject(pf::kWheel, 0, 0, -120);
    pointer->Sync();
    const std::vector<Seen> expected = {{ButtonPress, 3, 768, 576}, {ButtonRelease, 3, 768, 576},
                                        {ButtonPress, 2, 768, 576}, {ButtonRelease, 2, 768, 576},
                                        {ButtonPress, 4, 768, 576}, {ButtonRelease, 4, 768, 576},
                                        {ButtonPress, 5, 768, 576}, {ButtonRelease, 5, 768, 576}};
    EXPECT_EQ(ButtonEvents(expected.size()), expected);
}

// The whole desktop path on a real server: the pointer device picks pixel trunc(w x x), turns
// it into an absolute coordinate, and XTest must put the X pointer on that very pixel. An
// odd screen size, so that the coordinates are not exact multiples.
TEST(XvfbPointerDeviceTest, MovesLandOnTheIntendedPixelAcrossTheScreen) {
    constexpr int32_t kWidth = 1366;
    constexpr int32_t kHeight = 771;
    XvfbServer server(kWidth, kHeight);
    ASSERT_TRUE(server.Running()) << server.Error();
    std::string error;
    std::unique_ptr<XTestPointer> pointer = XTestPointer::Create(server.Name(), error);
    ASSERT_NE(pointer, nullptr) << error;
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(display->Width(), kWidth);
    ASSERT_EQ(display->Height(), kHeight);
    XDisplayPtr observer = OpenXDisplay(server.Name());
    ASSERT_NE(observer, nullptr);
    OutputState output;
    output.Enable = true;
    MouseDevice1 device(*pointer, *display, output);

    constexpr int kSteps = 997;
    int wrong = 0;
    for (int k = 0; k <= kSteps; ++k) {
        PointerReport report;
        report.primaryState = 1;
        report.primaryX = static_cast<float>(k) / kSteps;
        report.primaryY = static_cast<float>((k * 389) % (kSteps + 1)) / kSteps;
        device.Update(&report);
        pointer->Sync();
        const auto [rootX, rootY] = PointerPosition(observer.get());
        // The far edge (1.0) is the last pixel.
        const int wantX = std::min(static_cast<int>(kWidth * report.primaryX), kWidth - 1);
        const int wantY = std::min(static_cast<int>(kHeight * report.primaryY), kHeight - 1);
        if (rootX != wantX || rootY != wantY) {
            ++wrong;
            ADD_FAILURE_AT(__FILE__, __LINE__)
                << "x " << report.primaryX << " y " << report.primaryY << ": at (" << rootX << ", "
                << rootY << "), meant (" << wantX << ", " << wantY << ")";
            if (wrong >= 5) {
                break;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

// A server of the server-loss tests. Its display number is one the other tests' servers
// (which take the lowest free one) do not reach for, so that the pointer's reconnect after
// the loss finds no server or this test's own, never another test's server as it comes or
// goes.
std::unique_ptr<XvfbServer> StartServerApart() {
    const int base = 300 + static_cast<int>(getpid() % 400);
    for (int display = base; display < base + 20; ++display) {
        std::string name(1, ':');  // built in two steps: GCC 12 at -O3 warns on ":" + string
        name += std::to_string(display);
        auto server = std::make_unique<XvfbServer>(1024, 768, name);
        if (server->Running()) {
            return server;
        }
    }
    return nullptr;
}

// The driver must outlive the X session it injects into (logout, server restart).
TEST(XvfbServerLossTest, InjectionAfterTheServerIsGoneDoesNotEndTheProcess) {
    std::string error;
    std::unique_ptr<XTestPointer> pointer;
    std::unique_ptr<X11Display> display;
    {
        const std::unique_ptr<XvfbServer> server = StartServerApart();
        ASSERT_NE(server, nullptr);
        pointer = XTestPointer::Create(server->Name(), error);
        ASSERT_NE(pointer, nullptr) << error;
        display = X11Display::Open(server->Name());
        ASSERT_NE(display, nullptr);
    }
    for (int k = 0; k < 3; ++k) {
        pointer->Inject(kAbsMove, 100, 100, 0);
        pointer->Inject(pf::kLeftDown | pf::kLeftUp, 0, 0, 0);
        pointer->Sync();
    }
    EXPECT_EQ(display->Orientation(), 0);
    EXPECT_GE(display->Width(), 0);
}

// A kiosk's X server that crashes and is started again: the pointer finds the new server on
// the same display and injects there again (moves and buttons), at its new screen size, and
// the display information reads that size too.
TEST(XvfbServerLossTest, InjectionResumesWhenTheServerIsStartedAgain) {
    std::string error;
    std::unique_ptr<XTestPointer> pointer;
    std::unique_ptr<X11Display> display;
    std::string name;
    {
        const std::unique_ptr<XvfbServer> first = StartServerApart();
        ASSERT_NE(first, nullptr);
        name = first->Name();
        pointer = XTestPointer::Create(name, error);
        ASSERT_NE(pointer, nullptr) << error;
        display = X11Display::Open(name);
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->Width(), 1024);
        pointer->Inject(kAbsMove, 100, 100, 0);
        pointer->Sync();
        first->Kill();
    }
    pointer->Inject(kAbsMove, 200, 200, 0);  // finds the server gone
    EXPECT_FALSE(pointer->Connected());

    XvfbServer second(800, 600, name);
    ASSERT_TRUE(second.Running()) << second.Error();
    XDisplayPtr observer = OpenXDisplay(name);
    ASSERT_NE(observer, nullptr);
    Display* d = observer.get();
    auto position = [&] {
        Window root = 0, child = 0;
        int rootX = -1, rootY = -1, winX = 0, winY = 0;
        unsigned int mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
        return std::make_pair(rootX, rootY);
    };
    // Pixel (100, 450) of the new 800x600 screen, not its centre where the pointer starts.
    const int32_t x = 100 * 65536 / 800;
    const int32_t y = 450 * 65536 / 600;
    EXPECT_TRUE(WaitFor([&] {
        pointer->Inject(kAbsMove, x, y, 0);
        pointer->Sync();
        return position() == std::make_pair(100, 450);
    })) << "pointer at "
        << position().first << ", " << position().second;
    EXPECT_TRUE(pointer->Connected());
    EXPECT_EQ(pointer->Width(), 800);
    EXPECT_EQ(pointer->Height(), 600);
    EXPECT_TRUE(WaitFor([&] { return display->Width() == 800 && display->Height() == 600; }))
        << display->Width() << " x " << display->Height();
}

}  // namespace
}  // namespace kv::test
