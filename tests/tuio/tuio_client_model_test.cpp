// The whole Driver on the simulated foil, watched through a real socket by a TUIO 1.1 client
// model: each scripted touch must be exactly one cursor, added where the finger lands, updated
// and removed where it lifts; nothing before the first finger; frames in order; and
// a keep-alive of each profile once a second while nobody touches.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include "driver/tuio/tuio_server.h"
#include "tests/support/controller_side.h"
#include "tests/support/process_support.h"
#include "tuio_client_model.h"
#include "tuio_test_support.h"

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;
using test::CursorEvent;
using test::OscBundle;
using test::TuioClientModel;

constexpr const char* kDriver = KV_DRIVER_PATH;
// Generous bounds for slow, shared machines and sanitizer builds; nothing is timed by them.
constexpr int kWaitMs = 60000;
// Where a cursor appears and ends against where the finger lands and lifts.
constexpr double kLandTolerance = 0.02;

// A tap, a drag, then two fingers at once, each touch after the baseline has settled; the
// foil then stays idle for a few seconds.
struct Touch {
    double x0, y0, x1, y1;
};
constexpr Touch kTouches[] = {
    {0.30, 0.40, 0.30, 0.40},  // tap
    {0.20, 0.70, 0.70, 0.60},  // drag
    {0.25, 0.30, 0.35, 0.40},  // two fingers: the stronger one
    {0.75, 0.75, 0.65, 0.65},  //              and the other
};
constexpr const char* kScenario =
    "at 6.0 down 1 0.30 0.40 40\n"
    "at 6.4 up 1\n"
    "at 7.5 down 1 0.20 0.70 40\n"
    "at 7.8 move 1 0.70 0.60 1.5\n"
    "at 9.8 up 1\n"
    "at 10.8 down 1 0.25 0.30 40\n"
    "at 10.8 down 2 0.75 0.75 25\n"
    "at 11.1 move 1 0.35 0.40 1.0\n"
    "at 11.1 move 2 0.65 0.65 1.0\n"
    "at 12.6 up 1\n"
    "at 12.6 up 2\n";
constexpr double kIdleAfterS = 3.5;  // watched after the last lift before the driver is stopped

struct Received {
    OscBundle bundle;
    Clock::time_point at;
};

bool IsGoodbye(const OscBundle& bundle) {
    const test::OscMessage* fseq = bundle.Find("fseq");
    return bundle.IsKeepAlive() && fseq->ints == std::vector<int32_t>{-1};
}

// The keep-alives of both profiles between two moments with no cursor alive: of each profile
// one per second of session time (the count against the seconds that passed, give or take
// the second at each end), and nothing else.
void ExpectKeepAlivesOnly(const std::vector<Received>& seen, size_t from, size_t to,
                          const char* what) {
    ASSERT_LT(from, to) << what;
    std::map<std::string, int> perProfile;
    for (size_t i = from; i < to; ++i) {
        const OscBundle& bundle = seen[i].bundle;
        ASSERT_TRUE(bundle.IsKeepAlive()) << what << ": bundle " << i;
        EXPECT_TRUE(bundle.Find("alive")->ints.empty()) << what;
        ++perProfile[bundle.profile];
    }
    const double seconds = std::chrono::duration<double>(seen[to].at - seen[from].at).count();
    for (const char* profile :
         {TUIO::TuioServer::kCursorProfile, TUIO::TuioServer::kObjectProfile}) {
        EXPECT_GE(perProfile[profile], std::floor(seconds) - 1)
            << what << ", " << profile << " over " << seconds << " s";
        EXPECT_LE(perProfile[profile], std::ceil(seconds) + 1)
            << what << ", " << profile << " over " << seconds << " s";
    }
}

// The model against bundles written to show what it must catch: cursors announced with "set"
// before any finger (the driver's old start), and a frame that arrives late.
TEST(TuioClientModelTest, TheModelAddsOnAnUnknownSetAndDropsALateFrame) {
    std::vector<test::Datagram> sent;
    {
        TUIO::TuioServer server(std::make_unique<test::CapturingSender>(sent));
        server.InitFrame(TUIO::TuioTime::FromMicroseconds(0));  // frame 0, before any cursor
        server.InitFrame(TUIO::TuioTime::FromMicroseconds(0));
        TUIO::TuioCursor& first = server.AddCursor(0.0f, 0.0f);
        server.AddCursor(0.0f, 0.0f);
        server.CommitFrame();
        server.InitFrame(TUIO::TuioTime::FromMicroseconds(10'000));
        server.EndSession(first);
        server.CommitFrame();
    }
    ASSERT_EQ(sent.size(), 4u);  // frames 1 and 2, the goodbye pair
    TuioClientModel model;
    model.Take(test::Decode(sent[0]));
    ASSERT_EQ(model.Events().size(), 2u);
    EXPECT_EQ(model.Events()[0].kind, CursorEvent::Kind::Add);
    EXPECT_EQ(model.Events()[0].x, 0.0f);
    model.Take(test::Decode(sent[1]));
    ASSERT_EQ(model.Events().size(), 3u);
    EXPECT_EQ(model.Events()[2].kind, CursorEvent::Kind::Remove);
    // Frame 1 again, after frame 2: late, so the removed cursor does not come back.
    model.Take(test::Decode(sent[0]));
    EXPECT_EQ(model.LateFrames(), 1);
    EXPECT_EQ(model.FramesOutOfOrder(), 1);
    EXPECT_EQ(model.AliveCount(), 1u);
    model.Take(test::Decode(sent[2]));  // fseq -1: always taken, and nothing is alive
    EXPECT_EQ(model.AliveCount(), 0u);
}

TEST(TuioClientModelTest, EachTouchIsOneCursorFromLandingToLiftAndIdleIsOneKeepAliveASecond) {
    test::TempDir install;
    const std::string program = install.File("Driver");
    std::filesystem::copy_file(kDriver, program);
    test::WriteFile(install.File("DRIVER.INI"),
                    "Output_State_Selection=2\r\nOutput_State_Enable=true\r\n");
    test::WriteFile(install.File("touches.scenario"), kScenario);

    test::UdpPeer client;
    test::UdpPeer controller;
    test::Process driver(program,
                         {"--simulate=" + install.File("touches.scenario"), "--pointer=none",
                          "--port", "0", "--peer-port", std::to_string(controller.Port()),
                          "--tuio=127.0.0.1:" + std::to_string(client.Port())},
                         {{"XDG_RUNTIME_DIR", install.Path()}, {"DISPLAY", ""}},
                         install.File("driver.out"), install.File("driver.err"));
    ASSERT_TRUE(driver.Started());
    const uint16_t driverPort = test::AwaitDriverHello(controller, kWaitMs);
    ASSERT_NE(driverPort, 0) << "no hello from the driver";

    // Everything the client receives, until the driver's goodbye after the idle stretch.
    TuioClientModel model;
    std::vector<Received> seen;
    std::optional<Clock::time_point> lastLift;
    bool stopping = false;
    while (true) {
        const auto datagram = client.Receive(kWaitMs);
        ASSERT_TRUE(datagram.has_value()) << "the TUIO output stopped";
        seen.push_back(
            {test::Decode(test::Datagram(datagram->begin(), datagram->end())), Clock::now()});
        ASSERT_TRUE(seen.back().bundle.ok) << "bundle " << seen.size() - 1;
        model.Take(seen.back().bundle);
        if (stopping && IsGoodbye(seen.back().bundle) &&
            seen.back().bundle.profile == TUIO::TuioServer::kObjectProfile) {
            break;
        }
        // All lifted, or long past the scenario's end when cursors went wrong.
        if (!lastLift && (model.Removals() >= std::size(kTouches) ||
                          seen.back().at - seen.front().at > std::chrono::milliseconds(kWaitMs))) {
            lastLift = seen.back().at;
        }
        if (!stopping && lastLift &&
            Clock::now() - *lastLift > std::chrono::duration<double>(kIdleAfterS)) {
            test::ControllerSide side;
            ASSERT_TRUE(controller.SendTo(driverPort, side.Raise("Driver", "DoStop")));
            stopping = true;
        }
    }
    EXPECT_EQ(driver.Wait(kWaitMs), 0);

    // Frames in order: none late, each profile's fseq rising.
    EXPECT_EQ(model.LateFrames(), 0);
    EXPECT_EQ(model.FramesOutOfOrder(), 0);
    EXPECT_EQ(model.AliveCount(), 0u);

    // The touches: one session each, added where the finger lands and removed where it lifts.
    std::map<int32_t, std::vector<CursorEvent>> sessions;
    std::vector<int32_t> order;
    for (const CursorEvent& event : model.Events()) {
        if (sessions.count(event.session) == 0) {
            order.push_back(event.session);
        }
        sessions[event.session].push_back(event);
    }
    ASSERT_EQ(sessions.size(), std::size(kTouches)) << "one cursor per touch, none other";
    for (size_t n = 0; n < order.size(); ++n) {
        // Touches come in the scenario's order, the last two together: finger A's (even id)
        // the stronger one.
        const int32_t id = order[n];
        const size_t touch = n < 2 ? n : 2 + static_cast<size_t>(id % 2);
        const std::vector<CursorEvent>& events = sessions[id];
        SCOPED_TRACE("session " + std::to_string(id));
        EXPECT_EQ(id % 2, touch == 3 ? 1 : 0);
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.front().kind, CursorEvent::Kind::Add);
        EXPECT_EQ(events.back().kind, CursorEvent::Kind::Remove);
        const Touch& path = kTouches[touch];
        EXPECT_LT(std::hypot(events.front().x - path.x0, events.front().y - path.y0),
                  kLandTolerance)
            << events.front().x << ", " << events.front().y;
        EXPECT_LT(std::hypot(events.back().x - path.x1, events.back().y - path.y1), kLandTolerance)
            << events.back().x << ", " << events.back().y;
        EXPECT_TRUE(std::all_of(events.begin() + 1, events.end() - 1, [](const CursorEvent& e) {
            return e.kind == CursorEvent::Kind::Update;
        }));
    }

    // Idle before the first touch (after the start's empty bundles) and after the last lift
    // (until the goodbye): keep-alives only.
    size_t firstSet = 0;
    while (firstSet < seen.size() && seen[firstSet].bundle.Find("set") == nullptr) {
        ++firstSet;
    }
    size_t lastAlive = seen.size();
    while (lastAlive > 0 && seen[lastAlive - 1].bundle.Find("alive")->ints.empty()) {
        --lastAlive;
    }
    ASSERT_GE(seen.size(), 4u);
    ASSERT_TRUE(IsGoodbye(seen[0].bundle) && IsGoodbye(seen[1].bundle)) << "the start";
    ExpectKeepAlivesOnly(seen, 2, firstSet, "before the first touch");
    // The bundle after the last one with a cursor removes it; keep-alives follow.
    ExpectKeepAlivesOnly(seen, lastAlive + 1, seen.size() - 2, "after the last lift");
}

}  // namespace
}  // namespace kv
