// The display queries: X11 screen size and rotation, and the fallback without a server.
#include "driver/backends/x11/x11_display.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver/backends/x11/xtest_pointer.h"
#include "driver/calibration/calibration_model.h"
#include "driver/core/pointer_injector.h"
#include "driver/touch/pointer_pipeline.h"
#include "fake_x_server.h"
#include "protocol/registry.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/recording_pointer.h"
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

// A foil on the right-hand monitor of two, calibrated there, then that monitor turned to
// portrait with "xrandr --rotate left": touches still land under the finger. The primary (left)
// monitor is turned the other way throughout, so only the rotation of the monitor under the
// foil gives these positions. RandR answers come from the fake server: neither Xvfb nor Xorg's
// dummy driver can rotate an output.
TEST(MonitorRotationTest, AFoilCalibratedOnTheRightMonitorLandsUnderTheFingerAfterItIsTurned) {
    const FakeXServer::Monitor portraitPrimary{0, 0, 1080, 1920, 8};
    FakeXServer server;
    ASSERT_TRUE(server.Listening());
    server.SetLayout({3000, 1920, {portraitPrimary, {1080, 0, 1920, 1080, 1}}, 0});
    std::thread serve([&server] { server.ServeOne(FakeXServer::HangUp::Never); });
    {
        const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
        ASSERT_NE(display, nullptr);
        FakeClock clock{100000};
        FrameLog transport;
        Registry registry(ProgramRole::Driver, clock);
        registry.SetTransport(&transport);
        registry.MarkPeerHeard();
        registry.outputState.Enable = true;
        registry.outputState.Mode = 4;
        registry.commsActStatus.FramesLastPeriod = 50;
        // The chosen monitor as the Controller sends it: its rectangle in desktop fractions.
        CalibrationState& calib = registry.calibState;
        const auto choose = [&calib](float left, float bottom) {
            calib.exclude_edge_flag = 2;
            calib.exclude_edge_left = left;
            calib.exclude_edge_top = 0.0f;
            calib.exclude_edge_right = 1.0f;
            calib.exclude_edge_bottom = bottom;
        };
        choose(1080.0f / 3000.0f, 1080.0f / 1920.0f);

        // The foil covers the panel with a margin all round; the three corner targets are
        // held as the calibration dialog asks.
        const auto sensor = [](float u, float v) {
            return NormalPoint{0.05f + 0.9f * u, 0.05f + 0.9f * v};
        };
        CalibrationModel calibration(registry, *display);
        registry.calibDoStart.header.eventValid = 1;
        calibration.PollEvents();
        calibration.CaptureStep({});
        for (CalibrationData* ref :
             {&registry.calibRefTL, &registry.calibRefTR, &registry.calibRefBL}) {
            ref->SX = ref == &registry.calibRefTR ? 0.9f : 0.1f;
            ref->SY = ref == &registry.calibRefBL ? 0.9f : 0.1f;
            const NormalPoint at = sensor(ref->SX, ref->SY);
            for (int frame = 0; frame <= CalibrationModel::kCornerSamples; ++frame) {
                calibration.CaptureStep({2, at.x, at.y});
            }
        }
        ASSERT_EQ(calibration.CurrentPhase(), CalibrationModel::Phase::Calibrated);
        EXPECT_EQ(calib.Angle, 0);

        RecordingPointer injector;
        PointerPipeline pipeline(OutputContext{registry, calibration, *display, injector},
                                 PointerPipeline::Wiring{TouchMode::SingleTouch, true});
        pipeline.Refresh();
        // Touches of the panel at (u, v) and the desktop pixel each must land on, as the XTest
        // pointer converts the injected position.
        const auto expectLandings = [&](std::initializer_list<std::array<float, 4>> cases) {
            for (const auto& [u, v, x, y] : cases) {
                injector.Clear();
                const NormalPoint at = sensor(u, v);
                for (const int32_t state : {2, 2, 2, 2, 2, 2, 0, 0, 0, 0}) {
                    pipeline.Submit(PointerSample{state, at.x, at.y, 0.0f, 0}, 0, 0);
                }
                const std::vector<PointerEvent> moves = injector.With(pointer_flags::kAbsolute);
                ASSERT_FALSE(moves.empty()) << u << ", " << v;
                EXPECT_NEAR(int64_t{moves.back().dx} * display->Width() / 65536, x, 2) << u;
                EXPECT_NEAR(int64_t{moves.back().dy} * display->Height() / 65536, y, 2) << v;
            }
        };
        expectLandings({{0.5f, 0.5f, 2040, 540}, {0.1f, 0.1f, 1272, 108}});

        // Turned left, the panel shows the picture a quarter turn counter-clockwise: its
        // top-left corner shows the monitor's top-right, its top-right the bottom-right and
        // its bottom-left the top-left. The Controller sends the new rectangle.
        server.SetLayout({2160, 1920, {portraitPrimary, {1080, 0, 1080, 1920, 2}}, 0});
        choose(0.5f, 1.0f);
        pipeline.Refresh();
        expectLandings({{0.1f, 0.1f, 2052, 192},
                        {0.9f, 0.1f, 2052, 1728},
                        {0.1f, 0.9f, 1188, 192},
                        {0.5f, 0.5f, 1620, 960}});
    }
    serve.join();
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

struct ScreenSize {
    int width;
    int height;
};

// The default screen's size and rotation as the server has them: the usual 1024x768, and
// another size, so that the size follows the server and is not a fixed guess.
class XvfbDisplayTest : public ::testing::TestWithParam<ScreenSize> {};

TEST_P(XvfbDisplayTest, ScreenSizeAndRotationReadBack) {
    const ScreenSize size = GetParam();
    XvfbServer server(size.width, size.height);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Width(), size.width);
    EXPECT_EQ(display->Height(), size.height);
    EXPECT_EQ(display->Orientation(), 0);

    const std::unique_ptr<DisplayInfo> chosen = MakeDisplayInfo(server.Name().c_str());
    EXPECT_EQ(chosen->Width(), size.width);
    EXPECT_EQ(chosen->Height(), size.height);
}

INSTANTIATE_TEST_SUITE_P(Sizes, XvfbDisplayTest,
                         ::testing::Values(ScreenSize{1024, 768}, ScreenSize{800, 600}),
                         [](const ::testing::TestParamInfo<ScreenSize>& shown) {
                             return std::to_string(shown.param.width) + "x" +
                                    std::to_string(shown.param.height);
                         });

}  // namespace
}  // namespace kv::test
