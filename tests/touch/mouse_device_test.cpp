// The pointer devices: flush rules, absolute coordinates, pixel de-duplication, the enable
// switch and the Monitor queue entry of every report.
#include <gtest/gtest.h>

#include <limits>

#include "driver/touch/mouse_device.h"
#include "touch_test_support.h"

namespace kv {
namespace {

using namespace pointer_flags;

constexpr uint32_t kAbsMove = kMove | kAbsolute;

PointerReport Report(int32_t state, float x, float y) {
    PointerReport r;
    r.primaryState = state;
    r.primaryStateAgain = state;
    r.primaryX = x;
    r.primaryY = y;
    return r;
}

struct MouseDevice1Test : ::testing::Test {
    test::OutputRig rig;
    MouseDevice1 device{rig.injector, rig.display, rig.registry->outputState};

    void Update(const PointerReport& report) { device.Update(&report); }
};

TEST_F(MouseDevice1Test, PressMovesFirstAndReleaseDoesNotMove) {
    Update(Report(2, 0.25f, 0.375f));
    Update(Report(2, 0.5f, 0.5f));
    Update(Report(1, 0.75f, 0.75f));
    Update(Report(0, 0.75f, 0.75f));
    const std::vector<test::PointerEvent> expected = {{kAbsMove, 16384, 24576, 0},
                                                      {kLeftDown, 0, 0, 0},
                                                      {kAbsMove, 32768, 32768, 0},
                                                      {kLeftUp, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(MouseDevice1Test, HoverToPressSendsOnlyTheButtonWhenThePixelIsUnchanged) {
    Update(Report(1, 0.25f, 0.375f));
    Update(Report(2, 0.25f, 0.375f));
    Update(Report(2, 0.25f + 0.0001f, 0.375f));  // same pixel: no move
    Update(Report(1, 0.25f, 0.375f));
    const std::vector<test::PointerEvent> expected = {
        {kAbsMove, 16384, 24576, 0}, {kLeftDown, 0, 0, 0}, {kLeftUp, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(MouseDevice1Test, PositionOneReachesTheFullAbsoluteRange) {
    Update(Report(1, 1.0f, 1.0f));
    ASSERT_EQ(rig.injector.events.size(), 1u);
    EXPECT_EQ(rig.injector.events[0], (test::PointerEvent{kAbsMove, 65536, 65536, 0}));
}

TEST_F(MouseDevice1Test, PixelIsTheTruncatedFloatProductOfSizeAndPosition) {
    // 0.7 of 1920 is pixel 1344 and 0.9 of 1080 is pixel 972, although the stored floats
    // 0.7f and 0.9f lie just below 0.7 and 0.9.
    Update(Report(1, 0.7f, 0.9f));
    ASSERT_EQ(rig.injector.events.size(), 1u);
    EXPECT_EQ(rig.injector.events[0],
              (test::PointerEvent{kAbsMove, 1344 * 65536 / 1920, 972 * 65536 / 1080, 0}));
}

TEST(MouseDevice1Range, FullRangeOnAScreenAsWideAsTheAbsoluteRange) {
    // Without a display server the screen is 65536 pixels wide: px x 65536 exceeds 32 bits.
    test::OutputRig rig(65536, 65536);
    MouseDevice1 device(rig.injector, rig.display, rig.registry->outputState);
    const PointerReport full = Report(1, 1.0f, 0.5f);
    device.Update(&full);
    ASSERT_EQ(rig.injector.events.size(), 1u);
    EXPECT_EQ(rig.injector.events[0], (test::PointerEvent{kAbsMove, 65536, 32768, 0}));
}

TEST(MouseDevice1Range, DisplayWithoutSizeDoesNotDivideByZero) {
    test::OutputRig rig(0, 0);
    MouseDevice1 device(rig.injector, rig.display, rig.registry->outputState);
    const PointerReport r = Report(1, 1.0f, 1.0f);
    device.Update(&r);
    ASSERT_EQ(rig.injector.events.size(), 1u);
    EXPECT_EQ(rig.injector.events[0], (test::PointerEvent{kAbsMove, 65536, 65536, 0}));
}

TEST_F(MouseDevice1Test, OutOfRangeValuesAreClamped) {
    Update(Report(7, -0.5f, std::numeric_limits<float>::quiet_NaN()));
    const std::vector<test::PointerEvent> expected = {{kAbsMove, 0, 0, 0}, {kLeftDown, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(MouseDevice1Test, BothChannelsActiveMeansNeither) {
    PointerReport r = Report(2, 0.25f, 0.25f);
    r.secondaryState = 2;
    Update(r);
    EXPECT_TRUE(rig.injector.events.empty());
}

TEST_F(MouseDevice1Test, SecondaryChannelUsesTheMiddleButton) {
    PointerReport r;
    r.secondaryState = 2;
    r.secondaryX = 0.5f;
    r.secondaryY = 0.5f;
    Update(r);
    r.secondaryState = 0;
    Update(r);
    const std::vector<test::PointerEvent> expected = {
        {kAbsMove, 32768, 32768, 0}, {kMiddleDown, 0, 0, 0}, {kMiddleUp, 0, 0, 0}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(MouseDevice1Test, RightClickOnRisingEdgeOnlyAndWheelOneNotchPerFrame) {
    PointerReport r = Report(1, 0.25f, 0.375f);
    r.rightClick = 1;
    r.wheel = 3.7f;
    Update(r);
    Update(r);  // still 1: no second click; wheel notches every frame it is non-zero
    r.rightClick = 0;
    r.wheel = -0.2f;
    Update(r);
    const std::vector<test::PointerEvent> expected = {
        {kAbsMove, 16384, 24576, 0}, {kRightDown, 0, 0, 0}, {kRightUp, 0, 0, 0},
        {kWheel, 0, 0, 120},         {kWheel, 0, 0, 120},   {kWheel, 0, 0, -120}};
    EXPECT_EQ(rig.injector.events, expected);
}

TEST_F(MouseDevice1Test, ReleaseAndNullReportLiftTheButton) {
    Update(Report(2, 0.25f, 0.375f));
    device.Release();
    Update(Report(2, 0.25f, 0.375f));
    device.Update(nullptr);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 2);
    EXPECT_EQ(rig.injector.Count(kLeftUp), 2);
    EXPECT_EQ(rig.injector.events.back().flags, kLeftUp);
}

TEST_F(MouseDevice1Test, DisabledOutputSendsNothingButStillTracksThePixel) {
    rig.registry->outputState.Enable = false;
    Update(Report(2, 0.25f, 0.375f));
    Update(Report(0, 0.25f, 0.375f));
    EXPECT_TRUE(rig.injector.events.empty());
    rig.registry->outputState.Enable = true;
    // The pixel was taken while output was off, so a move to it is no change.
    Update(Report(1, 0.25f, 0.375f));
    EXPECT_TRUE(rig.injector.events.empty());
    Update(Report(1, 0.5f, 0.375f));
    EXPECT_EQ(rig.injector.events, (std::vector<test::PointerEvent>{{kAbsMove, 32768, 24576, 0}}));
}

TEST(MouseDeviceHolder, ReportsDriveSlotOneAndFillTheMonitorQueue) {
    test::OutputRig rig;
    MouseDevice holder(rig.injector, rig.display, rig.registry->outputState,
                       rig.registry->monitorQueue);
    EXPECT_EQ(holder.CurrentIndex(), 0);
    PointerReport r = Report(2, 0.25f, 0.375f);
    r.engineId = 1;
    r.wheel = 1.5f;
    r.rightClick = 1;
    holder.HandOff(r, true);
    EXPECT_EQ(holder.CurrentIndex(), 1);
    EXPECT_EQ(rig.injector.Count(kLeftDown), 1);
    EXPECT_EQ(rig.MonitorFrames(), 1);
    EXPECT_EQ(holder.ReportCounter(), 1);

    const MonitorEntry& e = rig.LastEntry();
    EXPECT_EQ(e.Value1, 1);
    EXPECT_FLOAT_EQ(e.Value2, 1.5f);
    EXPECT_TRUE(e.Value3);
    EXPECT_EQ(e.Value4, 2);
    EXPECT_EQ(e.Value5, 2);
    EXPECT_FLOAT_EQ(e.Value6, 0.25f);
    EXPECT_FLOAT_EQ(e.Value7, 0.375f);
    EXPECT_EQ(e.Value8, 0);
    EXPECT_EQ(e.Value9, 1);
    EXPECT_FLOAT_EQ(e.Value10, 0.0f);
    EXPECT_FLOAT_EQ(e.Value11, 0.0f);
}

TEST(MouseDeviceHolder, EachHolderWritesTheQueueAtItsOwnReportCounter) {
    test::OutputRig rig;
    MonitorQueue& queue = rig.registry->monitorQueue;
    MouseDevice first(rig.injector, rig.display, rig.registry->outputState, queue);
    MouseDevice second(rig.injector, rig.display, rig.registry->outputState, queue);
    first.HandOff(Report(1, 0.25f, 0.25f), false);
    EXPECT_EQ(queue.header.tag, 0);
    EXPECT_FLOAT_EQ(queue.entries[0].Value6, 0.25f);
    first.HandOff(Report(1, 0.5f, 0.5f), false);
    EXPECT_EQ(queue.header.tag, 1);
    EXPECT_FLOAT_EQ(queue.entries[1].Value6, 0.5f);
    // The second holder counts from 0 on its own.
    second.HandOff(Report(1, 0.75f, 0.75f), false);
    EXPECT_EQ(queue.header.tag, 0);
    EXPECT_EQ(static_cast<int32_t>(queue.last), 0);
    EXPECT_FLOAT_EQ(queue.entries[0].Value6, 0.75f);
    EXPECT_FLOAT_EQ(queue.entries[1].Value6, 0.5f);
    EXPECT_EQ(first.ReportCounter(), 2);
    EXPECT_EQ(second.ReportCounter(), 1);
    // After 256 reports the counter wraps back to slot 0.
    for (int i = 0; i < 254; ++i) {
        first.HandOff(Report(1, 0.1f, 0.1f), false);
    }
    EXPECT_EQ(queue.header.tag, 255);
    first.HandOff(Report(1, 0.9f, 0.9f), false);
    EXPECT_EQ(queue.header.tag, 0);
    EXPECT_FLOAT_EQ(queue.entries[0].Value6, 0.9f);
}

TEST(MouseDeviceHolder, ReportsThatMustNotDriveThePointerOnlyReachTheQueue) {
    test::OutputRig rig;
    MouseDevice holder(rig.injector, rig.display, rig.registry->outputState,
                       rig.registry->monitorQueue);
    for (int i = 0; i < 300; ++i) {
        holder.HandOff(Report(2, 0.25f, 0.375f), false);
    }
    EXPECT_TRUE(rig.injector.events.empty());
    EXPECT_EQ(holder.CurrentIndex(), 0);
    EXPECT_EQ(rig.MonitorFrames(), 300);
    EXPECT_EQ(holder.ReportCounter(), 300 % 256);
}

}  // namespace
}  // namespace kv
