// The display queries: X11 screen size and rotation, and the fallback without a server.
#include "driver/backends/x11/x11_display.h"

#include <gtest/gtest.h>

#include "tests/support/xvfb_server.h"

namespace kv::test {
namespace {

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
