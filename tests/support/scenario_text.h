// Scenario text that a test means to be valid, parsed; a failure fails the calling test with
// the line and the reason.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/sim/scenario.h"

namespace kv::test {

inline sim::Scenario ScenarioOf(const std::string& text) {
    sim::ScenarioError error;
    auto scenario = sim::ParseScenario(text, error);
    EXPECT_TRUE(scenario.has_value()) << error.Text();
    return scenario.value_or(sim::Scenario{});
}

}  // namespace kv::test
