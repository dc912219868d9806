// Auto adaption on a fake timer and a fake level source: the sensitivity search, its limits,
// and what follows a successful search.
#include "controller/models/auto_adaption.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace kv::controller;

namespace {

// Runs the machine on a fake clock: every scheduled tick fires when the clock reaches it.
struct Harness {
    std::function<float(int32_t sensitivity)> noise;
    bool calibrationSucceeds = true;

    int64_t now = 0;
    int pendingMs = -1;
    int32_t sentSensitivity = -1;
    int32_t sentThreshold = -1;
    std::vector<int32_t> attempts;  // sensitivity of every "Sense" / "State" sent
    std::vector<std::string> events;
    std::vector<int> progress;
    int result = -1;  // -1 still running, 0 failure, 1 success, 2 cancelled

    AutoAdaption machine{AutoAdaption::Hooks{
        [this](int ms) { pendingMs = ms; },
        [this] { return noise(sentSensitivity); },
        [this](int32_t sensitivity, int32_t threshold) {
            sentSensitivity = sensitivity;
            sentThreshold = threshold;
            attempts.push_back(sensitivity);
            events.push_back("sense@" + std::to_string(now));
        },
        [this] { events.push_back("save@" + std::to_string(now)); },
        [this] {
            events.push_back("calibrate@" + std::to_string(now));
            return calibrationSucceeds;
        },
        [this] { events.push_back("enable@" + std::to_string(now)); },
        [this](int percent) { progress.push_back(percent); },
        [this](AutoAdaption::Result r) {
            result = r == AutoAdaption::Result::Success   ? 1
                     : r == AutoAdaption::Result::Failure ? 0
                                                          : 2;
        },
    }};

    void Run() {
        machine.Start(20, 12);
        while (pendingMs >= 0) {
            const int ms = pendingMs;
            pendingMs = -1;
            now += ms;
            machine.Tick();
        }
    }
};

}  // namespace

TEST(AutoAdaption, NoiseJustBelowTheThresholdSucceedsInTheFirstAttempt) {
    Harness h;
    h.noise = [](int32_t) { return 4.0f; };
    h.Run();
    EXPECT_EQ(h.result, 1);
    EXPECT_EQ(h.attempts, (std::vector<int32_t>{8}));
    EXPECT_EQ(h.sentThreshold, 5);
    EXPECT_FALSE(h.machine.Running());
    // One settle of 1000 ms, 20 samples 100 ms apart, then save, calibration and output on;
    // the end comes 200 ms after output was switched on.
    EXPECT_EQ(h.events,
              (std::vector<std::string>{"sense@0", "save@2900", "calibrate@2900", "enable@2900"}));
    EXPECT_EQ(h.now, 3100);
    // Ten steps of progress for the attempt, then 80, 95, 98 and 100.
    ASSERT_EQ(h.progress.size(), 15u);
    EXPECT_EQ(h.progress[10], 10);
    EXPECT_EQ(std::vector<int>(h.progress.end() - 4, h.progress.end()),
              (std::vector<int>{80, 95, 98, 100}));
}

TEST(AutoAdaption, TooMuchNoiseLowersTheSensitivityUntilItFits) {
    Harness h;
    h.noise = [](int32_t sensitivity) { return sensitivity == 8 ? 6.0f : 4.0f; };
    h.Run();
    EXPECT_EQ(h.result, 1);
    EXPECT_EQ(h.attempts, (std::vector<int32_t>{8, 7}));
    EXPECT_EQ(h.machine.Sensitivity(), 7);
    // The maximum counts, not the average: one loud sample in twenty is enough.
    Harness spike;
    int calls = 0;
    spike.noise = [&calls](int32_t sensitivity) {
        ++calls;
        return sensitivity == 8 && calls == 7 ? 6.0f : 4.0f;
    };
    spike.Run();
    EXPECT_EQ(spike.attempts, (std::vector<int32_t>{8, 7}));
}

TEST(AutoAdaption, TheSearchFailsAtTheEndOfItsRange) {
    // Always too quiet: the sensitivity rises by one per attempt, 8 .. 15, then gives up.
    Harness quiet;
    quiet.noise = [](int32_t) { return 1.0f; };
    quiet.Run();
    EXPECT_EQ(quiet.result, 0);
    EXPECT_EQ(quiet.attempts, (std::vector<int32_t>{8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(quiet.machine.Sensitivity(), 15);
    EXPECT_EQ(quiet.progress.back(), 100);

    // Always too loud: 8, 7, 6, 5, and 4 leaves the range after the fourth attempt.
    Harness loud;
    loud.noise = [](int32_t) { return 10.0f; };
    loud.Run();
    EXPECT_EQ(loud.result, 0);
    EXPECT_EQ(loud.attempts, (std::vector<int32_t>{8, 7, 6, 5}));
    EXPECT_EQ(loud.machine.Sensitivity(), 5);
    EXPECT_EQ(loud.now, 4 * 2900);
    // A failed search neither saves nor calibrates nor switches output on.
    for (const std::string& event : loud.events) {
        EXPECT_EQ(event.rfind("sense@", 0), 0u) << event;
    }

    // Exactly at the threshold: the sensitivity stays, every attempt alike, until the eighth.
    Harness level;
    level.noise = [](int32_t) { return 5.0f; };
    level.Run();
    EXPECT_EQ(level.result, 0);
    EXPECT_EQ(level.attempts, std::vector<int32_t>(8, 8));
}

TEST(AutoAdaption, ACancelledCalibrationIsAFailure) {
    Harness h;
    h.noise = [](int32_t) { return 4.0f; };
    h.calibrationSucceeds = false;
    h.Run();
    EXPECT_EQ(h.result, 0);
    EXPECT_EQ(h.events, (std::vector<std::string>{"sense@0", "save@2900", "calibrate@2900"}));
    EXPECT_FALSE(h.machine.Running());
}

TEST(AutoAdaption, EveryStepReturnsToTheEventLoopAndAStartDuringARunIsIgnored) {
    Harness h;
    h.noise = [](int32_t) { return 1.0f; };
    h.machine.Start(20, 12);
    // Start only sends and arms the timer; nothing waits.
    EXPECT_TRUE(h.machine.Running());
    EXPECT_EQ(h.pendingMs, kAdaptionSettleMs);
    EXPECT_EQ(h.attempts.size(), 1u);
    h.machine.Start(20, 12);
    EXPECT_EQ(h.attempts.size(), 1u);
    h.pendingMs = -1;
    h.machine.Tick();
    EXPECT_EQ(h.pendingMs, kAdaptionSampleGapMs);
}
