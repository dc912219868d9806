// The contact sequence of the virtual touch device.
#include <gtest/gtest.h>

#include <vector>

#include "driver/touch/native_touch_output.h"
#include "touch_test_support.h"

namespace kv {
namespace {

PointerSample Finger(int32_t state, float x, float y) {
    return PointerSample{state, x, y, 0.0f, 0};
}

struct NativeTouchOutputTest : ::testing::Test {
    test::RecordingContacts recorder;
    NativeTouchOutput output{recorder};
    const PointerSample none = Finger(0, 0.0f, 0.0f);
};

TEST_F(NativeTouchOutputTest, DownMoveUpSequence) {
    output.SendPair(Finger(2, 0.25f, 0.5f), none);
    output.SendPair(Finger(2, 0.75f, 1.0f), none);
    output.SendPair(Finger(0, 0.9f, 0.9f), none);
    output.SendPair(Finger(0, 0.9f, 0.9f), none);
    // X = trunc(x * 32767): 0.25 -> 8191, 0.5 -> 16383, 0.75 -> 24575.
    const std::vector<test::Contact> expected = {
        {2, 1, 8191, 16383},
        {3, 1, 8191, 16383},   // lands
        {3, 1, 24575, 32767},  // moves
        {2, 1, 24575, 32767},
        {0, 1, 24575, 32767}  // lifts where it was last
    };
    EXPECT_EQ(recorder.contacts, expected);
    EXPECT_FALSE(output.Down(1));
}

TEST_F(NativeTouchOutputTest, OneFrameTouchLiftsWhereItLanded) {
    output.SendPair(Finger(2, 0.25f, 0.5f), none);
    output.SendPair(none, none);
    recorder.contacts.clear();
    // A second touch that lasts one frame, somewhere else.
    output.SendPair(Finger(2, 0.75f, 0.75f), none);
    output.SendPair(none, none);
    const std::vector<test::Contact> expected = {
        {2, 1, 24575, 24575}, {3, 1, 24575, 24575}, {2, 1, 24575, 24575}, {0, 1, 24575, 24575}};
    EXPECT_EQ(recorder.contacts, expected);
}

TEST_F(NativeTouchOutputTest, HoverIsNotTouchingAndContactsAreIndependent) {
    output.SendPair(Finger(1, 0.5f, 0.5f), Finger(2, 0.5f, 0.25f));
    output.SendPair(Finger(2, 0.5f, 0.5f), Finger(1, 0.5f, 0.25f));
    const std::vector<test::Contact> expected = {{2, 2, 16383, 8191},  {3, 2, 16383, 8191},
                                                 {2, 1, 16383, 16383}, {3, 1, 16383, 16383},
                                                 {2, 2, 16383, 8191},  {0, 2, 16383, 8191}};
    EXPECT_EQ(recorder.contacts, expected);
}

TEST_F(NativeTouchOutputTest, PositionsOutsideTheScreenAreClamped) {
    output.SendPair(Finger(2, 1.5f, -0.25f), none);
    ASSERT_EQ(recorder.contacts.size(), 2u);
    EXPECT_EQ(recorder.contacts[0], (test::Contact{2, 1, 32767, 0}));
}

}  // namespace
}  // namespace kv
