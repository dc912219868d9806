// The uinput absolute pointer's event building: what each injected event becomes on the
// device. The build machines have no /dev/uinput, so the kernel side is not exercised here.
#include "driver/backends/uinput/uinput_pointer.h"

#include <gtest/gtest.h>
#include <linux/input.h>

#include <vector>

namespace kv::test {
namespace {

namespace pf = pointer_flags;
constexpr uint32_t kAbsMove = pf::kMove | pf::kAbsolute;
const UinputEvent kSyn{EV_SYN, SYN_REPORT, 0};

std::vector<UinputEvent> Events(uint32_t flags, int32_t dx = 0, int32_t dy = 0, int32_t data = 0) {
    const UinputEventBatch batch = PointerEvents(flags, dx, dy, data);
    return {batch.begin(), batch.end()};
}

TEST(UinputPointerEventsTest, AbsoluteMoveCarriesDxAndDy) {
    const std::vector<UinputEvent> expected = {
        {EV_ABS, ABS_X, 32768}, {EV_ABS, ABS_Y, 16384}, kSyn};
    EXPECT_EQ(Events(kAbsMove, 32768, 16384), expected);
}

TEST(UinputPointerEventsTest, TheFarEdgeIsClampedIntoTheAxisRange) {
    const std::vector<UinputEvent> expected = {{EV_ABS, ABS_X, 65535}, {EV_ABS, ABS_Y, 0}, kSyn};
    EXPECT_EQ(Events(kAbsMove, 65536, -3), expected);
}

TEST(UinputPointerEventsTest, RelativeMovesAreNotUsed) {
    EXPECT_TRUE(Events(pf::kMove, 10, 10).empty());
}

TEST(UinputPointerEventsTest, EachButtonPressAndReleaseIsItsOwnFrame) {
    EXPECT_EQ(Events(pf::kLeftDown), (std::vector<UinputEvent>{{EV_KEY, BTN_LEFT, 1}, kSyn}));
    EXPECT_EQ(Events(pf::kLeftUp), (std::vector<UinputEvent>{{EV_KEY, BTN_LEFT, 0}, kSyn}));
    EXPECT_EQ(Events(pf::kMiddleDown), (std::vector<UinputEvent>{{EV_KEY, BTN_MIDDLE, 1}, kSyn}));
    const std::vector<UinputEvent> click = {
        {EV_KEY, BTN_RIGHT, 1}, kSyn, {EV_KEY, BTN_RIGHT, 0}, kSyn};
    EXPECT_EQ(Events(pf::kRightDown | pf::kRightUp), click);
}

TEST(UinputPointerEventsTest, MoveComesBeforeTheButtonGivenWithIt) {
    const std::vector<UinputEvent> expected = {
        {EV_ABS, ABS_X, 100}, {EV_ABS, ABS_Y, 200}, kSyn, {EV_KEY, BTN_LEFT, 1}, kSyn};
    EXPECT_EQ(Events(kAbsMove | pf::kLeftDown, 100, 200), expected);
}

TEST(UinputPointerEventsTest, WheelStepsOnePerNotch) {
    EXPECT_EQ(Events(pf::kWheel, 0, 0, 120),
              (std::vector<UinputEvent>{{EV_REL, REL_WHEEL, 1}, kSyn}));
    EXPECT_EQ(Events(pf::kWheel, 0, 0, -120),
              (std::vector<UinputEvent>{{EV_REL, REL_WHEEL, -1}, kSyn}));
    EXPECT_EQ(Events(pf::kWheel, 0, 0, 360),
              (std::vector<UinputEvent>{{EV_REL, REL_WHEEL, 3}, kSyn}));
    EXPECT_TRUE(Events(pf::kWheel, 0, 0, 60).empty());  // less than a notch
    EXPECT_TRUE(Events(0, 0, 0, 120).empty());          // data without the wheel flag
}

TEST(UinputPointerEventsTest, EveryFlagAtOnceStaysWithinTheBatch) {
    const uint32_t all = kAbsMove | pf::kLeftDown | pf::kLeftUp | pf::kRightDown | pf::kRightUp |
                         pf::kMiddleDown | pf::kMiddleUp | pf::kWheel;
    const std::vector<UinputEvent> events = Events(all, 1, 2, 120);
    EXPECT_EQ(events.size(), 3u + 6u * 2u + 2u);
    EXPECT_EQ(events.back(), kSyn);
}

TEST(UinputPointerTest, MissingNodeIsReportedNotFatal) {
    std::string error;
    EXPECT_EQ(UinputPointer::Create("/nonexistent-kv/uinput", error), nullptr);
    EXPECT_NE(error.find("/nonexistent-kv/uinput"), std::string::npos) << error;
}

}  // namespace
}  // namespace kv::test
