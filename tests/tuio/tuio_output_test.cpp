// The driver's TUIO sender on a microsecond clock the test moves: the session it starts on the
// first frame, a cursor for each finger only while it is down (a new session id for each
// touch), velocities from exact frame times, the keep-alive in each new second and the goodbye
// when it ends.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "driver/tuio/tuio_output.h"
#include "tuio_test_support.h"

namespace kv {
namespace {

using test::Datagram;
using test::Decode;
using test::OscBundle;

constexpr int64_t kFrameUs = 10'000;

class TuioOutputTest : public ::testing::Test {
protected:
    TuioOutputTest()
        : output(std::make_unique<TuioOutput>(clock, [this] {
              ++sendersMade;
              return std::make_unique<test::CapturingSender>(sent);
          })) {}

    // One sensor frame, frameUs after the previous one; returns the bundles it sent.
    std::vector<OscBundle> Frame(int32_t stateA, float xA, float yA, int32_t stateB, float xB,
                                 float yB) {
        clock.AdvanceUs(frameUs);
        const size_t before = sent.size();
        output->SendFrame(stateA, xA, yA, stateB, xB, yB);
        std::vector<OscBundle> bundles;
        for (size_t i = before; i < sent.size(); ++i) {
            bundles.push_back(Decode(sent[i]));
            EXPECT_TRUE(bundles.back().ok);
        }
        return bundles;
    }
    std::vector<OscBundle> Idle() { return Frame(0, 0.0f, 0.0f, 0, 0.0f, 0.0f); }
    std::vector<OscBundle> Both(float xA, float yA, float xB, float yB) {
        return Frame(2, xA, yA, 2, xB, yB);
    }

    static std::vector<int32_t> Alive(const OscBundle& b) { return b.Find("alive")->ints; }
    static int32_t Fseq(const OscBundle& b) { return b.Find("fseq")->ints.at(0); }
    static std::vector<int32_t> SetIds(const OscBundle& b) {
        std::vector<int32_t> ids;
        for (const auto* set : b.All("set")) {
            ids.push_back(set->ints.at(0));
        }
        return ids;
    }

    test::ManualTuioClock clock;
    int64_t frameUs = kFrameUs;
    std::vector<Datagram> sent;
    int sendersMade = 0;
    std::unique_ptr<TuioOutput> output;
};

TEST_F(TuioOutputTest, NothingIsMadeOrSentBeforeTheFirstFrame) {
    EXPECT_EQ(output->Server(), nullptr);
    output.reset();
    EXPECT_EQ(sendersMade, 0);
    EXPECT_TRUE(sent.empty());
}

// No finger, no cursor: a client sees nothing until the first touch (no cursor at the origin).
TEST_F(TuioOutputTest, TheFirstFrameStartsTheSessionWithoutACursor) {
    Idle();
    EXPECT_EQ(sendersMade, 1);
    ASSERT_EQ(sent.size(), 2u);
    const OscBundle cur = Decode(sent[0]);
    const OscBundle obj = Decode(sent[1]);
    EXPECT_EQ(cur.profile, "/tuio/2Dcur");
    EXPECT_TRUE(cur.IsKeepAlive() && Alive(cur).empty() && Fseq(cur) == -1);
    EXPECT_EQ(obj.profile, "/tuio/2Dobj");
    EXPECT_TRUE(obj.IsKeepAlive() && Alive(obj).empty() && Fseq(obj) == -1);
}

TEST_F(TuioOutputTest, TwoFingersDownSendAliveWithBothIdsTwoSetsAndFseqUpByTwo) {
    Idle();
    int32_t lastFseq = output->Server()->FrameSequence();
    for (int i = 0; i < 5; ++i) {
        const float step = 0.01f * static_cast<float>(i);
        const auto bundles = Both(0.2f + step, 0.3f, 0.7f, 0.6f - step);
        ASSERT_EQ(bundles.size(), 1u);
        const OscBundle& b = bundles[0];
        EXPECT_EQ(b.profile, "/tuio/2Dcur");
        EXPECT_EQ(Alive(b), (std::vector<int32_t>{0, 1}));
        const auto sets = b.All("set");
        ASSERT_EQ(sets.size(), 2u);
        EXPECT_FLOAT_EQ(sets[0]->floats[0], 0.2f + step);
        EXPECT_FLOAT_EQ(sets[0]->floats[1], 0.3f);
        EXPECT_FLOAT_EQ(sets[1]->floats[0], 0.7f);
        EXPECT_FLOAT_EQ(sets[1]->floats[1], 0.6f - step);
        if (i > 0) {  // 0.01 per 10 ms
            EXPECT_NEAR(sets[0]->floats[2], 1.0f, 1e-3);
            EXPECT_NEAR(sets[1]->floats[3], -1.0f, 1e-3);
        }
        EXPECT_EQ(Fseq(b), lastFseq + 2);
        lastFseq = Fseq(b);
    }
}

TEST_F(TuioOutputTest, ALiftedFingerLeavesAliveAndItsNextTouchIsANewIdAEvenBOdd) {
    Idle();
    Both(0.2f, 0.3f, 0.7f, 0.6f);
    // A lifts while B moves on: A leaves "alive", so the client removes it.
    auto bundles = Frame(0, 0.0f, 0.0f, 2, 0.71f, 0.6f);
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(Alive(bundles[0]), std::vector<int32_t>{1});
    EXPECT_EQ(SetIds(bundles[0]), std::vector<int32_t>{1});

    // A touches again as a new cursor, where it touches; B lifts into hover (state 1).
    bundles = Frame(2, 0.4f, 0.4f, 1, 0.72f, 0.6f);
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(Alive(bundles[0]), std::vector<int32_t>{2});
    EXPECT_EQ(SetIds(bundles[0]), std::vector<int32_t>{2});
    EXPECT_EQ(bundles[0].All("set")[0]->floats, (std::vector<float>{0.4f, 0.4f, 0, 0, 0}));

    // Hovering on changes nothing; B touching is B's next id.
    Frame(2, 0.41f, 0.4f, 1, 0.72f, 0.6f);
    bundles = Frame(2, 0.42f, 0.4f, 2, 0.72f, 0.6f);
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(Alive(bundles[0]), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(SetIds(bundles[0]), (std::vector<int32_t>{2, 3}));

    // Both lifting: an empty "alive" in that frame, then nothing until the keep-alive.
    bundles = Idle();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_TRUE(bundles[0].IsKeepAlive() && Alive(bundles[0]).empty());
    EXPECT_TRUE(Idle().empty());
}

TEST_F(TuioOutputTest, TwoFramesAtOneClockReadingMoveACursorOnceAndKeepItsSession) {
    Idle();
    Both(0.2f, 0.3f, 0.7f, 0.6f);
    const size_t before = sent.size();
    output->SendFrame(2, 0.25f, 0.3f, 2, 0.75f, 0.6f);  // the clock has not moved
    EXPECT_EQ(sent.size(), before);
    const auto bundles = Both(0.3f, 0.3f, 0.8f, 0.6f);
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(Alive(bundles[0]), (std::vector<int32_t>{0, 1}));
}

TEST_F(TuioOutputTest, WithoutFingersEachProfileGetsAKeepAliveInTheFirstFrameOfEachNewSecond) {
    // 30 ms frames do not divide a second: the first frame of each second lies 0 to 29 ms into
    // it, so keep-alives come between 970 and 1030 ms apart and never fall a frame later each
    // second.
    frameUs = 30'000;
    Idle();  // the session starts: session time 0
    int64_t sessionUs = 0;
    std::vector<int64_t> expected;
    std::vector<int64_t> cursorTimes;
    std::vector<int64_t> objectTimes;
    for (int i = 0; i < 200; ++i) {  // 6 s
        sessionUs += frameUs;
        if (sessionUs / 1'000'000 > (sessionUs - frameUs) / 1'000'000) {
            expected.push_back(sessionUs);
        }
        for (const OscBundle& b : Idle()) {
            ASSERT_TRUE(b.IsKeepAlive());
            (b.profile == "/tuio/2Dcur" ? cursorTimes : objectTimes).push_back(sessionUs);
            EXPECT_TRUE(Alive(b).empty());
        }
    }
    ASSERT_EQ(expected.size(), 6u);
    EXPECT_EQ(expected[1], 2'010'000);  // 990 ms after the first, at 1.02 s
    EXPECT_EQ(cursorTimes, expected);
    EXPECT_EQ(objectTimes, expected);
}

TEST_F(TuioOutputTest, AFingerDownInTheVeryFirstFrameIsSentInThatFrame) {
    clock.TickOnEachReading(3);  // microseconds pass between starting the session and the frame
    const auto bundles = Frame(2, 0.4f, 0.6f, 0, 0.0f, 0.0f);
    ASSERT_EQ(bundles.size(), 3u);  // two empty bundles, the touch
    const auto sets = bundles[2].All("set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]->ints, std::vector<int32_t>{0});
    EXPECT_FLOAT_EQ(sets[0]->floats[0], 0.4f);
    EXPECT_FLOAT_EQ(sets[0]->floats[1], 0.6f);
    EXPECT_EQ(Alive(bundles[2]), std::vector<int32_t>{0});
}

TEST_F(TuioOutputTest, VelocitiesFollowFrameTimesFinerThanAMillisecond) {
    // A 400 Hz board: frames 2.5 ms apart, finger A moving 0.001 right per frame (0.4 per
    // second) and finger B 0.0005 up (-0.2 per second), both at a steady speed.
    frameUs = 2'500;
    Idle();
    for (int i = 0; i < 20; ++i) {
        const float step = static_cast<float>(i);
        const auto bundles = Both(0.2f + 0.001f * step, 0.3f, 0.7f, 0.6f - 0.0005f * step);
        ASSERT_EQ(bundles.size(), 1u);
        const auto sets = bundles[0].All("set");
        ASSERT_EQ(sets.size(), 2u);
        if (i < 2) {
            continue;  // the touch, then the step from rest
        }
        EXPECT_NEAR(sets[0]->floats[2], 0.4f, 1e-3) << i;
        EXPECT_NEAR(sets[0]->floats[3], 0.0f, 1e-3) << i;
        EXPECT_NEAR(sets[0]->floats[4], 0.0f, 1.0f) << i;  // no acceleration at a steady speed
        EXPECT_NEAR(sets[1]->floats[2], 0.0f, 1e-3) << i;
        EXPECT_NEAR(sets[1]->floats[3], -0.2f, 1e-3) << i;
        EXPECT_NEAR(sets[1]->floats[4], 0.0f, 1.0f) << i;
    }
}

TEST_F(TuioOutputTest, BrokenPositionsAreClampedToTheScreenAndNeverNaN) {
    Idle();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto bundles = Both(nan, 1.5f, -0.25f, std::numeric_limits<float>::infinity());
    ASSERT_EQ(bundles.size(), 1u);
    const auto sets = bundles[0].All("set");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0]->floats[0], 0.0f);
    EXPECT_EQ(sets[0]->floats[1], 1.0f);
    EXPECT_EQ(sets[1]->floats[0], 0.0f);
    EXPECT_EQ(sets[1]->floats[1], 1.0f);
    for (const auto* set : sets) {
        for (float f : set->floats) {
            EXPECT_TRUE(std::isfinite(f));
        }
    }
}

TEST_F(TuioOutputTest, DestroyingTheOutputSendsTheLastEmptyBundles) {
    Idle();
    Both(0.2f, 0.3f, 0.7f, 0.6f);
    const size_t before = sent.size();
    output.reset();
    ASSERT_EQ(sent.size(), before + 2);
    const OscBundle cur = Decode(sent[before]);
    const OscBundle obj = Decode(sent[before + 1]);
    EXPECT_EQ(cur.profile, "/tuio/2Dcur");
    EXPECT_EQ(obj.profile, "/tuio/2Dobj");
    EXPECT_TRUE(cur.IsKeepAlive() && Alive(cur).empty() && Fseq(cur) == -1);
    EXPECT_TRUE(obj.IsKeepAlive() && Alive(obj).empty() && Fseq(obj) == -1);
}

TEST_F(TuioOutputTest, EveryBundleStaysUnderTheDatagramLimit) {
    Idle();
    for (int i = 0; i < 300; ++i) {
        const float t = static_cast<float>(i % 100) / 100.0f;
        if (i % 7 == 3) {
            Frame(1, t, t, 0, 0.0f, 0.0f);
        } else {
            Both(t, 1.0f - t, 1.0f - t, t);
        }
    }
    for (const Datagram& d : sent) {
        EXPECT_LE(d.size(), TUIO::TuioServer::kPacketCapacity);
        EXPECT_TRUE(Decode(d).ok);
    }
}

TEST(TuioOutputNoSender, ANullSenderLeavesTheOutputRunning) {
    test::ManualTuioClock clock;
    TuioOutput output(clock, [] { return std::unique_ptr<TUIO::PacketSender>(); });
    for (int i = 0; i < 10; ++i) {
        clock.AdvanceUs(kFrameUs);
        output.SendFrame(2, 0.5f, 0.5f, 0, 0.0f, 0.0f);
    }
    ASSERT_NE(output.Server(), nullptr);
    EXPECT_FLOAT_EQ(output.Server()->CursorAt(0).X(), 0.5f);
}

}  // namespace
}  // namespace kv
