// The TUIO server: motion of a container, the bundles of a frame read back with liblo, the
// split of a long frame into datagrams that fit, and the empty bundles of start and end.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

#include "driver/tuio/tuio_container.h"
#include "driver/tuio/tuio_server.h"
#include "tuio_test_support.h"

namespace kv {
namespace {

using test::Datagram;
using test::Decode;
using test::OscBundle;
using TUIO::TuioContainer;
using TUIO::TuioServer;
using TUIO::TuioTime;

TuioTime Ms(int64_t ms) {
    return TuioTime::FromMilliseconds(ms);
}

TEST(TuioTime, DifferencesBorrowFromTheSeconds) {
    const TuioTime d = TuioTime(3, 200'000) - TuioTime(1, 900'000);
    EXPECT_EQ(d.Seconds(), 1);
    EXPECT_EQ(d.Microseconds(), 300'000);
    EXPECT_EQ(Ms(2500), TuioTime(2, 500'000));
}

TEST(TuioContainerMotion, VelocitySpeedAndAccelerationFollowTheUpdates) {
    TuioContainer c(Ms(0), 7, 0.5f, 0.5f);
    c.Update(Ms(500), 0.6f, 0.7f);  // 0.1 right, 0.2 down in half a second
    EXPECT_NEAR(c.XSpeed(), 0.2f, 1e-5);
    EXPECT_NEAR(c.YSpeed(), 0.4f, 1e-5);
    const float speed = std::sqrt(0.05f) / 0.5f;
    EXPECT_NEAR(c.MotionSpeed(), speed, 1e-5);
    EXPECT_NEAR(c.MotionAccel(), speed / 0.5f, 1e-4);

    c.Update(Ms(1000), 0.6f, 0.7f);  // standing still: decelerates to 0
    EXPECT_FLOAT_EQ(c.XSpeed(), 0.0f);
    EXPECT_NEAR(c.MotionAccel(), -speed / 0.5f, 1e-4);
    EXPECT_EQ(c.SessionId(), 7);
}

TEST(TuioContainerMotion, AZeroTimeStepMovesButKeepsTheLastFiniteMotion) {
    TuioContainer c(Ms(0), 0, 0.0f, 0.0f);
    c.Update(Ms(100), 0.1f, 0.0f);
    const float xSpeed = c.XSpeed();
    c.Update(Ms(100), 0.9f, 0.9f);
    EXPECT_FLOAT_EQ(c.X(), 0.9f);
    EXPECT_FLOAT_EQ(c.XSpeed(), xSpeed);
    EXPECT_TRUE(std::isfinite(c.YSpeed()));
    EXPECT_TRUE(std::isfinite(c.MotionSpeed()));
    EXPECT_TRUE(std::isfinite(c.MotionAccel()));
    // Huge positions over a microsecond overflow a float: still nothing infinite.
    c.Update(TuioTime(0, 100'001), 3e38f, -3e38f);
    EXPECT_TRUE(std::isfinite(c.XSpeed()));
    EXPECT_TRUE(std::isfinite(c.MotionAccel()));
}

class TuioServerTest : public ::testing::Test {
protected:
    std::unique_ptr<TuioServer> MakeServer() {
        return std::make_unique<TuioServer>(std::make_unique<test::CapturingSender>(sent));
    }
    std::vector<OscBundle> Bundles() const {
        std::vector<OscBundle> bundles;
        for (const Datagram& d : sent) {
            bundles.push_back(Decode(d));
        }
        return bundles;
    }
    static void ExpectEmpty(const OscBundle& b, const std::string& profile) {
        ASSERT_TRUE(b.ok);
        EXPECT_EQ(b.profile, profile);
        ASSERT_TRUE(b.IsKeepAlive());
        EXPECT_TRUE(b.messages[0].ints.empty());
        EXPECT_EQ(b.messages[1].ints, std::vector<int32_t>{-1});
    }
    std::vector<Datagram> sent;
};

// The exact bytes of a frame's bundle (alive, one set, fseq), as clients have received them
// from the first version on.
TEST_F(TuioServerTest, AFramesBundleKeepsItsBytes) {
    auto server = MakeServer();
    server->InitFrame(Ms(0));
    TUIO::TuioCursor& a = server->AddCursor(0.25f, 0.5f);
    server->AddCursor(0.75f, 0.125f);
    server->CommitFrame();
    server->InitFrame(Ms(100));
    server->UpdateCursor(a, 0.5f, 0.5f);
    server->CommitFrame();
    ASSERT_EQ(sent.size(), 2u);
    std::string hex;
    for (const char c : sent[1]) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[static_cast<uint8_t>(c) >> 4];
        hex += kDigits[static_cast<uint8_t>(c) & 15];
    }
    // #bundle, immediately; alive 0 1; set 0 0.5 0.5 2.5 0 25; fseq 1
    EXPECT_EQ(hex,
              "2362756e646c65000000000000000001000000242f7475696f2f324463757200"
              "2c73696900000000616c6976650000000000000000000001000000342f747569"
              "6f2f3244637572002c736966666666660000000073657400000000003f000000"
              "3f000000402000000000000041c800000000001c2f7475696f2f324463757200"
              "2c736900667365710000000000000001");
}

TEST_F(TuioServerTest, EmptyBundlesOfBothProfilesCarryNoIdsAndFrameMinusOne) {
    {
        auto server = MakeServer();
        server->SendEmptyCursorBundle();
        server->SendEmptyObjectBundle();
        ASSERT_EQ(sent.size(), 2u);
    }
    ASSERT_EQ(sent.size(), 4u);  // the destructor says goodbye on both profiles
    const auto bundles = Bundles();
    ExpectEmpty(bundles[0], "/tuio/2Dcur");
    ExpectEmpty(bundles[1], "/tuio/2Dobj");
    ExpectEmpty(bundles[2], "/tuio/2Dcur");
    ExpectEmpty(bundles[3], "/tuio/2Dobj");
}

TEST_F(TuioServerTest, AFrameWithMovedCursorsSendsAliveSetsOfTheMovedOnesAndFseq) {
    auto server = MakeServer();
    server->InitFrame(Ms(0));
    TUIO::TuioCursor& a = server->AddCursor(0.1f, 0.2f);
    TUIO::TuioCursor& b = server->AddCursor(0.3f, 0.4f);
    EXPECT_EQ(a.SessionId(), 0);
    EXPECT_EQ(b.SessionId(), 1);
    EXPECT_EQ(b.CursorId(), 1);
    server->CommitFrame();

    server->InitFrame(Ms(20));
    EXPECT_TRUE(server->UpdateCursor(b, 0.35f, 0.4f));
    EXPECT_FALSE(server->UpdateCursor(b, 0.9f, 0.9f));  // once per frame time
    server->CommitFrame();

    ASSERT_EQ(sent.size(), 2u);
    const auto bundles = Bundles();
    ASSERT_TRUE(bundles[0].ok);
    EXPECT_EQ(bundles[0].Find("alive")->ints, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(bundles[0].All("set").size(), 2u);  // both added in that frame
    EXPECT_EQ(bundles[0].Find("fseq")->ints, std::vector<int32_t>{0});

    const OscBundle& moved = bundles[1];
    ASSERT_TRUE(moved.ok);
    EXPECT_EQ(moved.messages.front().command, "alive");
    EXPECT_EQ(moved.messages.back().command, "fseq");
    EXPECT_EQ(moved.Find("fseq")->ints, std::vector<int32_t>{1});
    const auto sets = moved.All("set");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]->ints, std::vector<int32_t>{1});
    ASSERT_EQ(sets[0]->floats.size(), 5u);
    EXPECT_FLOAT_EQ(sets[0]->floats[0], 0.35f);
    EXPECT_FLOAT_EQ(sets[0]->floats[1], 0.4f);
    EXPECT_NEAR(sets[0]->floats[2], 2.5f, 1e-4);  // 0.05 in 20 ms
    EXPECT_FLOAT_EQ(sets[0]->floats[3], 0.0f);
}

TEST_F(TuioServerTest, ManyCursorsSplitIntoBundlesThatFitAndEachRepeatAlive) {
    constexpr int kCursors = 60;
    auto server = MakeServer();
    server->InitFrame(Ms(0));
    std::vector<TUIO::TuioCursor*> cursors;
    for (int i = 0; i < kCursors; ++i) {
        cursors.push_back(&server->AddCursor(0.0f, 0.0f));
    }
    server->CommitFrame();
    sent.clear();

    server->InitFrame(Ms(10));
    for (int i = 0; i < kCursors; ++i) {
        server->UpdateCursor(*cursors[static_cast<size_t>(i)], 0.01f * static_cast<float>(i), 0.5f);
    }
    server->CommitFrame();

    ASSERT_GT(sent.size(), 1u);
    std::multiset<int32_t> setIds;
    for (const Datagram& d : sent) {
        EXPECT_LE(d.size(), TuioServer::kPacketCapacity);
        const OscBundle b = Decode(d);
        ASSERT_TRUE(b.ok);
        ASSERT_EQ(b.messages.front().command, "alive");
        EXPECT_EQ(b.messages.front().ints.size(), static_cast<size_t>(kCursors));
        ASSERT_EQ(b.messages.back().command, "fseq");
        EXPECT_EQ(b.messages.back().ints, std::vector<int32_t>{1});
        for (const auto* set : b.All("set")) {
            setIds.insert(set->ints.at(0));
        }
    }
    ASSERT_EQ(setIds.size(), static_cast<size_t>(kCursors));
    for (int i = 0; i < kCursors; ++i) {
        EXPECT_EQ(setIds.count(i), 1u) << i;
    }
}

TEST_F(TuioServerTest, AnAliveListTooLongForADatagramLosesTheFrameNotTheServer) {
    auto server = MakeServer();
    server->InitFrame(Ms(0));
    for (int i = 0; i < 400; ++i) {  // 1600 bytes of ids alone
        server->AddCursor(0.5f, 0.5f);
    }
    server->CommitFrame();
    EXPECT_TRUE(sent.empty());
    server.reset();
    ASSERT_EQ(sent.size(), 2u);  // the goodbye still goes out
    EXPECT_TRUE(Decode(sent[0]).ok);
}

}  // namespace
}  // namespace kv
