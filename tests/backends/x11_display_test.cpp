// The display queries: X11 screen size and rotation, and the fallback without a server.
#include "driver/backends/x11/x11_display.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver/backends/x11/xtest_pointer.h"
#include "driver/core/pointer_injector.h"
#include "fake_x_server.h"
#include "tests/support/xvfb_server.h"

namespace kv::test {
namespace {

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// X servers that go away at each step of the driver's set-up and use (the connection set-up,
// the extension queries, the root's geometry, RandR, XTest injection and the round trip after
// it): the process lives on, nothing leaks, and the loss is seen. Each connection keeps its
// own state, so a loss during the extension queries leaves nothing process-wide behind.
TEST(X11ConnectionTest, AServerGoneAtAnyStepLeavesTheProcessRunningAndLeaksNothing) {
    using Step = FakeXServer::HangUp;
    FakeXServer server;
    ASSERT_TRUE(server.Listening());
    const size_t before = OpenDescriptors();
    auto serving = [&](Step step) {
        return std::thread([&server, step] { server.ServeOne(step); });
    };
    for (const Step step :
         {Step::AtSetup, Step::AtQueryExtension, Step::AtGeometry, Step::AtRandr}) {
        std::thread serve = serving(step);
        EXPECT_EQ(X11Display::Open(server.Name()), nullptr) << static_cast<int>(step);
        serve.join();
    }
    for (const Step step : {Step::AtSetup, Step::AtQueryExtension}) {
        std::thread serve = serving(step);
        std::string error;
        EXPECT_EQ(XTestPointer::Create(server.Name(), error), nullptr);
        EXPECT_NE(error.find(server.Name()), std::string::npos) << error;
        serve.join();
    }
    for (const Step step : {Step::AtXTest, Step::AtSync}) {
        std::thread serve = serving(step);
        std::string error;
        std::unique_ptr<XTestPointer> pointer = XTestPointer::Create(server.Name(), error);
        ASSERT_NE(pointer, nullptr) << error;
        EXPECT_TRUE(pointer->Connected());
        pointer->Inject(pointer_flags::kMove | pointer_flags::kAbsolute, 100, 100, 0);
        pointer->Sync();
        EXPECT_FALSE(pointer->Connected()) << static_cast<int>(step);
        serve.join();
    }
    // A whole server, for contrast: the display opens and answers.
    std::thread serve = serving(Step::Never);
    {
        const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->Width(), 640);
        EXPECT_EQ(display->Orientation(), 0);
    }
    serve.join();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(DisplayInfoTest, WithoutADisplayTheUinputRangeStandsIn) {
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        const std::unique_ptr<DisplayInfo> display = MakeDisplayInfo(name);
        EXPECT_EQ(display->Width(), 65536);
        EXPECT_EQ(display->Height(), 65536);
        EXPECT_EQ(display->Orientation(), 0);
    }
}

TEST(DisplayInfoTest, AnUnreachableDisplayFallsBackToo) {
    EXPECT_EQ(X11Display::Open(":6999"), nullptr);
    const std::unique_ptr<DisplayInfo> display = MakeDisplayInfo(":6999");
    EXPECT_EQ(display->Width(), 65536);
    EXPECT_EQ(display->Orientation(), 0);
}

TEST(DisplayInfoTest, RandrRotationsBecomeQuarterTurns) {
    EXPECT_EQ(X11Display::QuarterTurns(1), 0);  // RR_Rotate_0
    EXPECT_EQ(X11Display::QuarterTurns(2), 1);  // RR_Rotate_90
    EXPECT_EQ(X11Display::QuarterTurns(4), 2);  // RR_Rotate_180
    EXPECT_EQ(X11Display::QuarterTurns(8), 3);  // RR_Rotate_270
    // Reflections do not turn the picture.
    EXPECT_EQ(X11Display::QuarterTurns(2 | 16), 1);
    EXPECT_EQ(X11Display::QuarterTurns(1 | 32), 0);
}

TEST(XvfbDisplayTest, DefaultScreenSizeAndRotationReadBack) {
    XvfbServer server(1024, 768);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Width(), 1024);
    EXPECT_EQ(display->Height(), 768);
    EXPECT_EQ(display->Orientation(), 0);

    const std::unique_ptr<DisplayInfo> chosen = MakeDisplayInfo(server.Name().c_str());
    EXPECT_EQ(chosen->Width(), 1024);
    EXPECT_EQ(chosen->Height(), 768);
}

TEST(XvfbDisplayTest, SizeFollowsTheServerNotAFixedGuess) {
    XvfbServer server(800, 600);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Width(), 800);
    EXPECT_EQ(display->Height(), 600);
}

}  // namespace
}  // namespace kv::test
