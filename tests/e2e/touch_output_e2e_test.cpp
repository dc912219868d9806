// The whole Driver on a real X server: a simulated finger on the foil moves and clicks the
// X pointer through XTest, and does nothing to it while output is disabled.
#include <gtest/gtest.h>

#include <X11/X.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/e2e/e2e_session.h"

namespace kv {
namespace {

using test::EndToEndSession;
using test::PointerSeen;
using test::SessionOptions;

// Generous bounds for slow, shared machines and sanitizer builds; nothing is timed by them.
constexpr int kTouchWaitMs = 90000;
constexpr int kStopWaitMs = 60000;
// How far the pointer may land from where the finger is, as a fraction of the screen.
constexpr double kTolerance = 0.03;

std::string Scenario(const char* name) {
    return std::string(KV_E2E_SCENARIOS) + "/" + name;
}

// The pointer starts away from every point the scenarios touch; a window over the screen
// collects the button events.
SessionOptions Options(const char* scenario) {
    SessionOptions options;
    options.scenario = Scenario(scenario);
    options.startX = options.width * 9 / 10;
    options.startY = options.height / 10;
    options.coverScreen = true;
    return options;
}

// The session started and the scenario's touch came and went.
::testing::AssertionResult TouchPlayed(EndToEndSession& session) {
    if (!session.Error().empty()) {
        return ::testing::AssertionFailure() << session.Error();
    }
    if (!session.WatchUntilTouchEnds(kTouchWaitMs)) {
        return ::testing::AssertionFailure() << "no touch ended\n" << session.DriverLog();
    }
    return ::testing::AssertionSuccess();
}

// One press of the left button followed by its release.
::testing::AssertionResult OneLeftClick(const std::vector<test::ButtonSeen>& buttons) {
    if (buttons.size() != 2) {
        return ::testing::AssertionFailure() << buttons.size() << " button events";
    }
    if (!buttons[0].press || buttons[1].press) {
        return ::testing::AssertionFailure() << "not a press then a release";
    }
    for (const test::ButtonSeen& b : buttons) {
        if (b.button != static_cast<unsigned int>(Button1)) {
            return ::testing::AssertionFailure() << "button " << b.button;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Near(const EndToEndSession& session, int x, int y, double fx,
                                double fy) {
    const double ex = fx * session.Width();
    const double ey = fy * session.Height();
    if (std::abs(x - ex) <= kTolerance * session.Width() &&
        std::abs(y - ey) <= kTolerance * session.Height()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << x << ", " << y << ") is not near (" << ex << ", " << ey << ")";
}

struct Point {
    double x;
    double y;
};

// Whether the pointer is within the tolerance of the line from a to b (screen fractions).
::testing::AssertionResult NearSegment(const EndToEndSession& session, const PointerSeen& seen,
                                       Point a, Point b) {
    const double px = static_cast<double>(seen.x) / session.Width();
    const double py = static_cast<double>(seen.y) / session.Height();
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double t =
        std::clamp(((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    const double distance = std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
    if (distance <= kTolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "(" << seen.x << ", " << seen.y << ") is " << distance
                                         << " of the screen off the drag's line";
}

bool Touching(const test::ReportSeen& report) {
    return report.state == 2;
}

TEST(XvfbEndToEnd, ADragMovesTheRealPointerAndHoldsTheButtonUntilTheFingerLifts) {
    SessionOptions options = Options("drag.scn");
    EndToEndSession session(options);
    ASSERT_TRUE(TouchPlayed(session));
    EXPECT_EQ(session.Stop(kStopWaitMs), 0);

    // One press where the finger landed and one release where it lifted; the rest at the
    // end is too short for a press-and-hold right click.
    const auto& buttons = session.Buttons();
    ASSERT_TRUE(OneLeftClick(buttons));
    EXPECT_TRUE(Near(session, buttons[0].x, buttons[0].y, 0.2, 0.3));
    EXPECT_TRUE(Near(session, buttons[1].x, buttons[1].y, 0.7, 0.6));

    const auto& pointer = session.Pointer();
    // Until the finger lands the pointer stays where the user left it; the idle frames
    // before (no finger, reported at the screen centre) do not move it.
    const PointerSeen start{options.startX, options.startY, 0};
    for (const PointerSeen& seen : pointer) {
        if (seen.LeftDown()) {
            break;
        }
        EXPECT_TRUE(seen == start || Near(session, seen.x, seen.y, 0.2, 0.3))
            << "the pointer went to (" << seen.x << ", " << seen.y << ") before the touch";
    }
    const auto lastDown = std::find_if(pointer.rbegin(), pointer.rend(),
                                       [](const PointerSeen& p) { return p.LeftDown(); });
    ASSERT_NE(lastDown, pointer.rend()) << "the button was never seen down";
    // The last view with the button held is while the finger rests at the end of the drag.
    EXPECT_TRUE(Near(session, lastDown->x, lastDown->y, 0.7, 0.6));
    // On the way the pointer follows the finger's straight line.
    for (const PointerSeen& seen : pointer) {
        if (seen.LeftDown()) {
            EXPECT_TRUE(NearSegment(session, seen, {0.2, 0.3}, {0.7, 0.6}));
        }
    }
    // Lifting the finger leaves the pointer where it was.
    EXPECT_FALSE(pointer.back().LeftDown());
    EXPECT_TRUE(Near(session, pointer.back().x, pointer.back().y, 0.7, 0.6));
}

// Mode 4 holds the button while the finger touches; mode 2 clicks where the finger lands.
// For a short tap both come to one click at the landing point.
class XvfbEndToEndTap : public ::testing::TestWithParam<int32_t> {};

TEST_P(XvfbEndToEndTap, ATapClicksOnceWhereTheFingerLanded) {
    SessionOptions options = Options("tap.scn");
    options.mode = GetParam();
    EndToEndSession session(options);
    ASSERT_TRUE(TouchPlayed(session));
    EXPECT_EQ(session.Stop(kStopWaitMs), 0);

    const auto& buttons = session.Buttons();
    ASSERT_TRUE(OneLeftClick(buttons));
    for (const test::ButtonSeen& b : buttons) {
        EXPECT_TRUE(Near(session, b.x, b.y, 0.3, 0.4));
    }
    ASSERT_FALSE(session.Pointer().empty());
    EXPECT_FALSE(session.Pointer().back().LeftDown());
}

INSTANTIATE_TEST_SUITE_P(Modes, XvfbEndToEndTap, ::testing::Values(4, 2),
                         [](const ::testing::TestParamInfo<int32_t>& mode) {
                             return mode.param == 4 ? std::string("Drag")
                                                    : std::string("ClickWhereLanded");
                         });

TEST(XvfbEndToEnd, WithOutputDisabledADragLeavesThePointerAlone) {
    SessionOptions options = Options("drag.scn");
    options.outputEnabled = false;
    EndToEndSession session(options);
    ASSERT_TRUE(TouchPlayed(session));
    EXPECT_EQ(session.Stop(kStopWaitMs), 0);

    // The drag went all the way through the output path: its reports reach the end point.
    const auto& reports = session.Reports();
    const auto lastTouch = std::find_if(reports.rbegin(), reports.rend(), Touching);
    ASSERT_NE(lastTouch, reports.rend());
    EXPECT_TRUE(Near(session, static_cast<int>(lastTouch->x * session.Width()),
                     static_cast<int>(lastTouch->y * session.Height()), 0.7, 0.6));

    const PointerSeen start{options.startX, options.startY, 0};
    for (const PointerSeen& seen : session.Pointer()) {
        EXPECT_EQ(seen, start) << "the pointer moved to (" << seen.x << ", " << seen.y << ")";
    }
    EXPECT_TRUE(session.Buttons().empty());
}

}  // namespace
}  // namespace kv
