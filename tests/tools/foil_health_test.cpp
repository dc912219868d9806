// kvctl health's judgement of the signal level, which the simulated board cannot make noisy
// enough to show (the whole path is in kvctl_live_test.cpp).
#include <gtest/gtest.h>

#include "tools/kvctl/foil_health.h"

namespace {

TEST(FoilHealth, AnUntouchedLevelAtThePressThresholdOrNoneIsOutOfRange) {
    kv::kvctl::FoilState state;
    state.driver = state.board = true;
    state.framesPerSecond = 100.0;
    state.heartbeatMoved = true;
    state.framesHeard = 250;
    state.pressThreshold = 5;
    const struct {
        std::optional<float> level;
        int status;
    } cases[] = {{4.9f, 0}, {5.0f, 3}, {-0.5f, 3}, {std::nullopt, 3}};
    for (const auto& c : cases) {
        state.quietestLevel = c.level;
        EXPECT_EQ(kv::kvctl::Judge(state, 50.0).status, c.status) << c.level.value_or(-99.0f);
    }
    // Without a level there is no signal_level metric, and the rest stays valid.
    EXPECT_EQ(kv::kvctl::MetricsText(state).find("kelvarin_signal_level"), std::string::npos);
}

// The records a stuck main loop left say "connected at 100 frames/s"; only what the loop sent
// while kvctl watched counts.
TEST(FoilHealth, RecordsThatDidNotMoveWhileWatchedAreStuckAndNotReported) {
    kv::kvctl::FoilState state;
    state.driver = state.board = true;
    state.framesPerSecond = 100.0;
    state.quietestLevel = 1.0f;
    state.pressThreshold = 5;
    state.watchedSeconds = 6.0;
    const struct {
        bool board;
        bool heartbeatMoved;
        int framesHeard;
        int status;
        const char* says;
    } cases[] = {
        {true, false, 0, 4, "main loop is stuck: no heartbeat in 6.0 s"},
        {true, false, 300, 4, "main loop is stuck: no heartbeat in 6.0 s"},
        {true, true, 0, 4, "no frame processed in 6.0 s with the board connected"},
        {false, true, 0, 2, "no sensor board connected"},
        {true, true, 1, 0, "ok: board connected at 100 frames/s"},
    };
    for (const auto& c : cases) {
        state.board = c.board;
        state.heartbeatMoved = c.heartbeatMoved;
        state.framesHeard = c.framesHeard;
        const kv::kvctl::HealthVerdict verdict = kv::kvctl::Judge(state, 50.0);
        EXPECT_EQ(verdict.status, c.status) << verdict.line;
        EXPECT_NE(verdict.line.find(c.says), std::string::npos) << verdict.line;
        const std::string json = kv::kvctl::HealthJson(state, verdict);
        EXPECT_NE(json.find(c.status == 4 ? "\"state\": \"stuck\"" : "\"fresh\": true"),
                  std::string::npos)
            << json;
        const std::string metrics = kv::kvctl::MetricsText(state);
        const bool fresh = c.status != 4;
        EXPECT_NE(metrics.find(fresh ? "kelvarin_driver_up 1\n" : "kelvarin_driver_up 0\n"),
                  std::string::npos)
            << metrics;
        EXPECT_NE(metrics.find(fresh ? "kelvarin_driver_stale 0\n" : "kelvarin_driver_stale 1\n"),
                  std::string::npos)
            << metrics;
        EXPECT_EQ(metrics.find("kelvarin_frames_per_second") != std::string::npos, fresh)
            << metrics;
    }
}

}  // namespace
