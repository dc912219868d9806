// The uinput touchscreen's slot events for the virtual touch device's contact reports.
#include "driver/backends/uinput/uinput_touchscreen.h"

#include <gtest/gtest.h>
#include <linux/input.h>

#include <array>
#include <vector>

namespace kv::test {
namespace {

const UinputEvent kSyn{EV_SYN, SYN_REPORT, 0};

// A 30-byte out report as the virtual touch device sends it: staging bytes 1..29, then
// staging byte 0 (written out by hand here, from the report layout).
std::array<uint8_t, 30> Report(uint8_t state, uint16_t contact, uint16_t x, uint16_t y) {
    std::array<uint8_t, 30> r{};
    r[0] = 1;
    r[1] = state;
    r[3] = static_cast<uint8_t>(x), r[4] = static_cast<uint8_t>(x >> 8);
    r[5] = static_cast<uint8_t>(y), r[6] = static_cast<uint8_t>(y >> 8);
    r[7] = 0x84, r[8] = 0x03;  // 900
    r[9] = 30, r[11] = 30;
    r[13] = static_cast<uint8_t>(contact), r[14] = static_cast<uint8_t>(contact >> 8);
    r[29] = 1;
    return r;
}

// What a contact's move in slot to x, y sends while it is also the single-touch readers'.
std::vector<UinputEvent> MoveIn(int32_t slot, int32_t x, int32_t y) {
    return {{EV_ABS, ABS_MT_SLOT, slot},
            {EV_ABS, ABS_MT_POSITION_X, x},
            {EV_ABS, ABS_MT_POSITION_Y, y},
            {EV_ABS, ABS_X, x},
            {EV_ABS, ABS_Y, y},
            kSyn};
}

// What the last contact's lift from slot sends: its tracking ends and nothing touches.
std::vector<UinputEvent> LastLiftFrom(int32_t slot) {
    return {{EV_ABS, ABS_MT_SLOT, slot},
            {EV_ABS, ABS_MT_TRACKING_ID, -1},
            {EV_KEY, BTN_TOUCH, 0},
            kSyn};
}

class TouchscreenTest : public ::testing::Test {
protected:
    std::vector<UinputEvent> Send(uint8_t state, uint16_t contact, uint16_t x, uint16_t y) {
        const std::array<uint8_t, 30> r = Report(state, contact, x, y);
        const UinputEventBatch batch = builder.Build(r.data(), r.size());
        return {batch.begin(), batch.end()};
    }

    TouchscreenEventBuilder builder;
};

TEST_F(TouchscreenTest, ContactGoesDownMovesAndLifts) {
    // Down: in range first, then touching.
    EXPECT_TRUE(Send(2, 1, 1000, 2000).empty());
    const std::vector<UinputEvent> down = {{EV_ABS, ABS_MT_SLOT, 0},
                                           {EV_ABS, ABS_MT_TRACKING_ID, 0},
                                           {EV_ABS, ABS_MT_POSITION_X, 1000},
                                           {EV_ABS, ABS_MT_POSITION_Y, 2000},
                                           {EV_KEY, BTN_TOUCH, 1},
                                           {EV_ABS, ABS_X, 1000},
                                           {EV_ABS, ABS_Y, 2000},
                                           kSyn};
    EXPECT_EQ(Send(3, 1, 1000, 2000), down);
    EXPECT_TRUE(builder.Down(0));

    EXPECT_EQ(Send(3, 1, 1100, 2100), MoveIn(0, 1100, 2100));

    // Up: in range at the last position, then gone.
    EXPECT_EQ(Send(2, 1, 1100, 2100), LastLiftFrom(0));
    EXPECT_TRUE(Send(0, 1, 1100, 2100).empty());
    EXPECT_FALSE(builder.Down(0));
}

TEST_F(TouchscreenTest, AContactAPalmFallsOnIsCancelledThenLiftsAndTheSlotTouchesAgainAsAFinger) {
    Send(3, 1, 1000, 2000);
    // The palm: the tool changes while the contact is still down, in a frame of its own.
    const std::vector<UinputEvent> palm = {
        {EV_ABS, ABS_MT_SLOT, 0}, {EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_PALM}, kSyn};
    EXPECT_EQ(Send(6, 1, 1000, 2000), palm);
    EXPECT_TRUE(builder.Down(0));
    EXPECT_TRUE(Send(6, 1, 1000, 2000).empty());
    EXPECT_EQ(Send(0, 1, 1000, 2000), LastLiftFrom(0));
    // The next touch in that slot is a finger's again.
    const std::vector<UinputEvent> down = {{EV_ABS, ABS_MT_SLOT, 0},
                                           {EV_ABS, ABS_MT_TRACKING_ID, 1},
                                           {EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_FINGER},
                                           {EV_ABS, ABS_MT_POSITION_X, 500},
                                           {EV_ABS, ABS_MT_POSITION_Y, 600},
                                           {EV_KEY, BTN_TOUCH, 1},
                                           {EV_ABS, ABS_X, 500},
                                           {EV_ABS, ABS_Y, 600},
                                           kSyn};
    EXPECT_EQ(Send(3, 1, 500, 600), down);
    // A palm report for a contact that is not down changes nothing.
    Send(0, 1, 500, 600);
    EXPECT_TRUE(Send(6, 2, 500, 600).empty());
}

TEST_F(TouchscreenTest, SecondContactUsesTheSecondSlotAndANewTrackingId) {
    Send(3, 1, 100, 100);
    const std::vector<UinputEvent> second = {{EV_ABS, ABS_MT_SLOT, 1},
                                             {EV_ABS, ABS_MT_TRACKING_ID, 1},
                                             {EV_ABS, ABS_MT_POSITION_X, 900},
                                             {EV_ABS, ABS_MT_POSITION_Y, 800},
                                             kSyn};
    EXPECT_EQ(Send(3, 2, 900, 800), second);
    EXPECT_TRUE(builder.Down(1));
}

TEST_F(TouchscreenTest, SingleTouchReadersMoveToTheRemainingContact) {
    Send(3, 1, 100, 100);
    Send(3, 2, 900, 800);
    const std::vector<UinputEvent> liftFirst = {{EV_ABS, ABS_MT_SLOT, 0},
                                                {EV_ABS, ABS_MT_TRACKING_ID, -1},
                                                {EV_ABS, ABS_X, 900},
                                                {EV_ABS, ABS_Y, 800},
                                                kSyn};
    EXPECT_EQ(Send(0, 1, 100, 100), liftFirst);
    EXPECT_EQ(Send(3, 2, 950, 850), MoveIn(1, 950, 850));
    EXPECT_EQ(Send(0, 2, 950, 850), LastLiftFrom(1));
}

TEST_F(TouchscreenTest, EveryNewTouchGetsAFreshTrackingId) {
    for (int32_t id = 0; id < 3; ++id) {
        const std::vector<UinputEvent> down = Send(3, 1, 10, 10);
        ASSERT_GE(down.size(), 2u);
        EXPECT_EQ(down[1], (UinputEvent{EV_ABS, ABS_MT_TRACKING_ID, id}));
        Send(0, 1, 10, 10);
    }
}

TEST_F(TouchscreenTest, PositionsAreClampedToTheAxisRange) {
    const std::vector<UinputEvent> down = Send(3, 1, 0xFFFF, 40000);
    EXPECT_EQ(down[2], (UinputEvent{EV_ABS, ABS_MT_POSITION_X, kTouchscreenMax}));
    EXPECT_EQ(down[3], (UinputEvent{EV_ABS, ABS_MT_POSITION_Y, kTouchscreenMax}));
}

TEST_F(TouchscreenTest, MalformedReportsChangeNothing) {
    EXPECT_TRUE(Send(3, 0, 10, 10).empty());
    EXPECT_TRUE(Send(3, 3, 10, 10).empty());
    const std::array<uint8_t, 30> r = Report(3, 1, 10, 10);
    EXPECT_TRUE(builder.Build(r.data(), 14).empty());
    EXPECT_TRUE(builder.Build(nullptr, 30).empty());
    EXPECT_FALSE(builder.Down(0));
}

TEST(UinputTouchscreenTest, WithoutUinputItStaysClosedAndWritesAreDropped) {
    UinputTouchscreen screen("/nonexistent-kv/uinput");
    EXPECT_FALSE(screen.Open());
    EXPECT_NE(screen.Error().find("/nonexistent-kv/uinput"), std::string::npos);
    const std::array<uint8_t, 30> r = Report(3, 1, 10, 10);
    screen.Write(r.data(), r.size());  // must not crash without a device
    EXPECT_TRUE(screen.DevNode().empty());
}

}  // namespace
}  // namespace kv::test
