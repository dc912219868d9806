// kvctl health's judgement of the signal level, which the simulated board cannot make noisy
// enough to show (the whole path is in kvctl_live_test.cpp).
#include <gtest/gtest.h>

#include "tools/kvctl/foil_health.h"

namespace {

TEST(FoilHealth, AnUntouchedLevelAtThePressThresholdOrNoneIsOutOfRange) {
    kv::kvctl::FoilState state;
    state.driver = state.board = true;
    state.framesPerSecond = 100.0;
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

}  // namespace
