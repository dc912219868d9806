// Unwrapping, jump resets, period means, the baseline ring and the scale of one axis.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "driver/dsp/dsp_history.h"
#include "driver/dsp/touch_detector.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

constexpr int32_t kCount = 8;

class DspHistoryTest : public ::testing::Test {
protected:
    DspHistoryTest()
        : detector(*shared.registry),
          history(std::make_unique<DspHistory>(*shared.registry, detector)) {}

    // One frame in which every electrode reads the same.
    void RunAll(int32_t reading) {
        readings.fill(reading);
        history->Run(kCount, readings.data(), 0, false);
    }
    // One frame in which only one electrode changes.
    void RunOne(int electrode, int32_t reading) {
        readings[static_cast<size_t>(electrode)] = reading;
        history->Run(kCount, readings.data(), 0, false);
    }
    void Period(int32_t reading, int frames) {
        for (int f = 0; f < frames; ++f) {
            RunAll(reading);
        }
        history->Housekeeping();
    }
    const ChannelHistory& Channel(int i) const { return history->Channel(i); }
    void ExpectReset(const char* why) {
        for (int i = 0; i < kCount; ++i) {
            EXPECT_EQ(Channel(i).Accumulator(), 0) << why << " electrode " << i;
            EXPECT_EQ(Channel(i).Entries(), 0) << why << " electrode " << i;
            EXPECT_FALSE(Channel(i).BaselineValid()) << why << " electrode " << i;
        }
    }

    test::PublishingRegistry shared;
    TouchDetector detector;
    std::unique_ptr<DspHistory> history;
    std::array<int32_t, 128> readings{};
};

TEST_F(DspHistoryTest, UnwrapsAcrossTheEightBitWrapBothWays) {
    RunAll(250);
    EXPECT_EQ(Channel(0).Accumulator(), 0);  // the first reading only sets the start
    RunAll(5);
    EXPECT_EQ(Channel(0).Accumulator(), 11);
    RunAll(250);
    EXPECT_EQ(Channel(0).Accumulator(), 0);
    RunAll(5 + 256 * 3);  // only the low 8 bits count
    EXPECT_EQ(Channel(0).Accumulator(), 11);
}

TEST_F(DspHistoryTest, StepsUpTo120AreTakenInBothDirections) {
    RunAll(0);
    RunOne(3, 120);
    RunOne(3, 240);
    EXPECT_EQ(Channel(3).Accumulator(), 240);
    RunOne(3, 120);
    EXPECT_EQ(Channel(3).Accumulator(), 120);
    RunOne(3, 0);
    EXPECT_EQ(Channel(3).Accumulator(), 0);
}

TEST_F(DspHistoryTest, ImpossibleJumpResetsTheWholeAxis) {
    struct Case {
        int32_t from, to;
        const char* what;
    };
    const Case cases[] = {
        {0, 121, "step of +121"},
        {240, 105, "step of 121 counted upwards"},
        {130, 9, "step of -121"},
        {0, 127, "modular 127, taken as -129"},
    };
    for (const Case& c : cases) {
        history->Reset();
        RunAll(c.from);
        Period(c.from, 5);
        Period(c.from, 5);
        RunOne(2, c.from + 50);  // an earlier electrode has moved in the failing frame
        ASSERT_TRUE(Channel(0).BaselineValid()) << c.what;
        RunOne(5, c.to);
        ExpectReset(c.what);
        // Every electrode starts again from a first reading.
        RunOne(5, c.to + 3);
        EXPECT_EQ(Channel(5).Accumulator(), 0) << c.what;
        EXPECT_EQ(history->Diff(5), 0) << c.what;
    }
}

TEST_F(DspHistoryTest, BaselineBecomesValidAtTheSecondHousekeeping) {
    RunAll(40);
    Period(45, 5);
    EXPECT_EQ(Channel(0).Entries(), 1);
    EXPECT_FALSE(Channel(0).BaselineValid());
    RunAll(60);
    EXPECT_EQ(history->Diff(0), 0);
    EXPECT_EQ(history->Scaled(0), 0.0f);
    Period(45, 5);
    ASSERT_TRUE(Channel(0).BaselineValid());
    EXPECT_EQ(Channel(0).Baseline(), 5);
    RunAll(75);
    EXPECT_EQ(history->Diff(0), 30);
}

TEST_F(DspHistoryTest, PeriodMeanTruncatesTowardZero) {
    RunAll(10);
    for (int32_t reading : {7, 7, 6, 6, 6}) {  // accumulator -3 -3 -4 -4 -4: mean -3.6
        RunAll(reading);
    }
    history->Housekeeping();
    Period(10, 5);
    ASSERT_TRUE(Channel(0).BaselineValid());
    EXPECT_EQ(Channel(0).Baseline(), -3);
    RunAll(10);
    EXPECT_EQ(history->Diff(0), 3);
}

TEST_F(DspHistoryTest, RestingFingerIsLearntAndItsLeavingLowersTheBaseline) {
    Period(130, 6);  // the finger rests from the very first frame
    Period(130, 5);
    EXPECT_EQ(history->Diff(0), 0);
    RunAll(100);  // it leaves: the signal goes below the baseline
    EXPECT_EQ(history->Diff(0), -30);
    Period(100, 4);
    EXPECT_EQ(Channel(0).Baseline(), -30);
    RunAll(100);
    EXPECT_EQ(history->Diff(0), 0);
    RunAll(130);  // a finger placed later shows
    EXPECT_EQ(history->Diff(0), 30);
}

// The precise path's baseline: an untouched electrode follows the foil rising and falling to
// a fraction of a count (electrode 7 dithers between two readings), while a finger resting on
// electrode 0 for the whole minute, and its tail on electrode 1, are not learnt.
TEST_F(DspHistoryTest, ThePreciseBaselineFollowsDriftFinelyButNeverAFinger) {
    detector.SetPath(TouchPath::Precise);
    Period(100, 200);
    Period(100, 200);
    double dithered = 0.0;
    constexpr int kFrames = 6000;  // 10 counts up over 20 s, down again, 20 s still
    for (int f = 0; f < kFrames; ++f) {
        const int32_t foil = 100 + (f < 2000 ? f : std::max(4000 - f, 0)) / 200;
        readings.fill(foil);
        readings[0] = foil + 30;
        readings[1] = foil + 12;
        readings[7] = foil + f % 2;
        history->Run(kCount, readings.data(), 0, false);
        if ((f + 1) % 200 == 0) {
            history->Housekeeping();
        }
        if (f == 1999) {  // at the top, a count of lag at most
            EXPECT_NEAR(history->Fine(6) / history->Scale(), 0.5, 0.6);
        }
        if (f >= kFrames - 200) {
            dithered += history->Fine(7) / history->Scale() / 200.0;
        }
    }
    const float scale = history->Scale();
    EXPECT_NEAR(history->Fine(6) / scale, 0.0, 0.1);
    EXPECT_NEAR(dithered, 0.0, 0.1);
    EXPECT_NEAR(history->Fine(0) / scale, 30.0, 0.5);
    EXPECT_NEAR(history->Fine(1) / scale, 12.0, 0.5);
}

// A dead electrode under a finger (it reads nothing while both neighbours read the finger) is
// filled from its neighbours on the precise path once it has read so for kDeadFrames frames,
// with what the finger's profile gives there, and no longer once it reads a finger itself.
TEST_F(DspHistoryTest, ThePrecisePathFillsADeadElectrodeFromItsNeighbours) {
    detector.SetPath(TouchPath::Precise);
    Period(100, 200);
    Period(100, 200);
    const auto frame = [&](int32_t middle) {
        readings.fill(100);
        readings[2] = 130;
        readings[3] = middle;
        readings[4] = 120;
        history->Run(kCount, readings.data(), 0, false);
    };
    for (int f = 0; f < DspHistory::kDeadFrames - 1; ++f) {
        frame(100);
    }
    EXPECT_EQ(history->Scaled(3), 0.0f);  // not yet
    frame(100);
    // A fresh profile is a Gaussian of 0.7 pitch: neighbours reading 30 and 20 put the finger
    // ln(1.5) sigma^2 / 2 from electrode 3 towards the stronger one, 68 high there (the mean of
    // the two, 25, would split it in two).
    const double sigma2 = 0.7 * 0.7;
    const double d = std::log(1.5) * sigma2 / 2.0;
    const double height = 30.0 / std::exp(-(1.0 - d) * (1.0 - d) / (2.0 * sigma2));
    const double expected = height * std::exp(-d * d / (2.0 * sigma2));
    const float scale = history->Scale();
    EXPECT_NEAR(history->Scaled(3) / scale, expected, 0.5);
    EXPECT_NEAR(history->Fine(3) / scale, expected, 0.5);
    // Electrodes beyond the neighbours that read far above one finger's tails: two fingers or
    // a palm, and the neighbours' mean stays.
    readings.fill(100);
    readings[1] = 125;
    readings[2] = 130;
    readings[3] = 100;
    readings[4] = 120;
    readings[5] = 118;
    history->Run(kCount, readings.data(), 0, false);
    EXPECT_FLOAT_EQ(history->Scaled(3), 25.0f * scale);
    frame(135);  // it reads a finger: alive after all
    frame(100);
    EXPECT_EQ(history->Scaled(3), 0.0f);
}

// Beside a finger pressing hard, with the other neighbour reading only its far tail, a dead
// electrode shows within a few frames; not so the dip between two fingers (that side rises).
TEST_F(DspHistoryTest, AFingerPressingHardBesideADeadElectrodeShowsItDeadSoon) {
    detector.SetPath(TouchPath::Precise);
    Period(100, 200);
    Period(100, 200);
    const auto touch = static_cast<int32_t>(detector.PressThreshold() / history->Scale());
    const auto frames = [&](int n, int32_t beyondTail) {
        readings.fill(100);
        readings[2] = 100 + 4 * touch;
        readings[4] = 100 + touch * 3 / 8;
        readings[5] = 100 + beyondTail;
        for (int f = 0; f < n; ++f) {
            history->Run(kCount, readings.data(), 0, false);
        }
        return history->Scaled(3);
    };
    EXPECT_EQ(frames(2 * DspHistory::kDeadFrames, touch), 0.0f);
    const int soon =
        (DspHistory::kDeadFrames + DspHistory::kDeadStrong - 1) / DspHistory::kDeadStrong;
    EXPECT_EQ(frames(soon - 1, 0), 0.0f);
    EXPECT_GT(frames(1, 0), 2.0f * touch * history->Scale());
}

// Between two neighbours reading a finger, one reading four times the other shows it dead in
// half the frames.
TEST_F(DspHistoryTest, AFingerNearerOneNeighbourShowsADeadElectrodeSooner) {
    detector.SetPath(TouchPath::Precise);
    Period(100, 200);
    Period(100, 200);
    const auto touch = static_cast<int32_t>(detector.PressThreshold() / history->Scale());
    readings.fill(100);
    readings[2] = 100 + 4 * touch;
    readings[4] = 100 + touch;
    for (int f = 0; f < DspHistory::kDeadFrames / 2; ++f) {
        EXPECT_EQ(history->Scaled(3), 0.0f) << f;
        history->Run(kCount, readings.data(), 0, false);
    }
    EXPECT_GT(history->Scaled(3), 0.0f);
}

// Live electrodes that read little beside a finger are not filled: the far neighbour of a
// finger pressing hard reading a few whole counts of baseline offset alone (on the fine signal
// less than the electrode between), or a finger's flank on one side with a noisy electrode on
// the other.
TEST_F(DspHistoryTest, ALiveElectrodeReadingLittleBesideAFingerIsNotTakenForDead) {
    detector.SetPath(TouchPath::Precise);
    Period(100, 200);
    Period(100, 200);
    const auto touch = static_cast<int32_t>(detector.PressThreshold() / history->Scale());
    const auto frames = [&](int n, std::array<int32_t, 6> above) {  // readings over 100
        for (int f = 0; f < n; ++f) {
            for (size_t i = 0; i < above.size(); ++i) {
                readings[i] = 100 + above[i];
            }
            history->Run(kCount, readings.data(), 0, false);
        }
        return history->Scaled(3);
    };
    const int32_t offset = touch / 4 + 1;
    // The fine baselines follow 1 down and offset up while nothing touches, the ordinary ones
    // stay at 100.
    frames(3000, {0, 0, 0, -1, offset, 0});
    EXPECT_EQ(frames(2 * DspHistory::kDeadFrames, {0, 0, 4 * touch, 0, offset, 0}), 0.0f);
    frames(1, {0, 0, 0, 0, offset, 0});
    EXPECT_EQ(frames(2 * DspHistory::kDeadFrames, {touch, 4 * touch, touch, 0, offset + touch, 0}),
              0.0f);
}

// A palm's signal stands above half its peak on six electrodes, falling from its middle all
// the way out; two wide fingers 3.2 pitches apart stand above half between them too, but dip
// and rise again there. With the other axis spread as a palm's, only the palm's frame is one.
TEST_F(DspHistoryTest, TwoWideFingersApartAreNoPalm) {
    test::RecordingTouchEngines sink;
    detector.SetTouchEngines(sink.Set());
    detector.SetPath(TouchPath::Precise);
    const auto palm = [&](std::array<double, 6> bumps) {  // centre, width, height, twice
        for (int32_t i = 0; i < 24; ++i) {
            double level = 100.0;
            for (size_t k = 0; k < 6; k += 3) {
                level += bumps[k + 2] * std::exp(-0.5 * std::pow((i - bumps[k]) / bumps[k + 1], 2));
            }
            readings[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(level));
        }
        history->Run(24, readings.data(), 0, false);
        detector.NoteSpread(1, TouchDetector::kPalmSpread);
        detector.Intake(24, 1, true, PeakCandidate{}, PeakCandidate{});
        return sink.calls.back().palm;
    };
    for (int f = 0; f < 20; ++f) {
        palm({0.0, 1.0, 0.0, 0.0, 1.0, 0.0});  // no finger: the baselines
        if (f % 10 == 9) {
            history->Housekeeping();
        }
    }
    EXPECT_FALSE(palm({8.0, 1.1, 30.0, 11.2, 1.1, 28.0}));
    EXPECT_TRUE(palm({11.5, 2.8, 60.0, 0.0, 1.0, 0.0}));
}

TEST_F(DspHistoryTest, RingKeepsThirtyMeansAcrossItsFortySlots) {
    RunAll(200);
    // Period p has mean p: each rise only reaches the baseline as the lower means age out.
    for (int32_t p = 0; p < 50; ++p) {
        Period(200 + p, 5);
        ASSERT_EQ(Channel(0).Entries(), std::min(p + 1, 30)) << p;
        if (p >= 1) {
            ASSERT_EQ(Channel(0).Baseline(), std::max(0, p - 29)) << p;
        }
    }
}

TEST_F(DspHistoryTest, ShortPeriodsAddNoMeanAndReportLinkActivity) {
    CommsStatus& status = shared.registry->commsActStatus;
    const int before = shared.transport.Count(status);
    RunAll(50);
    Period(50, 5);
    EXPECT_EQ(status.StatusCode, ChannelHistory::kActivityGood);
    EXPECT_EQ(Channel(0).Entries(), 1);
    Period(50, 4);
    EXPECT_EQ(status.StatusCode, ChannelHistory::kActivityGood);
    EXPECT_EQ(Channel(0).Entries(), 1);  // four frames are too few for a mean
    Period(50, 3);
    EXPECT_EQ(status.StatusCode, ChannelHistory::kActivityLow);
    Period(50, 1);
    EXPECT_EQ(status.StatusCode, ChannelHistory::kActivityLow);
    Period(50, 0);
    EXPECT_EQ(status.StatusCode, ChannelHistory::kActivityNone);
    EXPECT_EQ(Channel(0).Entries(), 1);
    // Published on every change only, not per electrode or per period.
    EXPECT_EQ(shared.transport.Count(status) - before, 3);
}

TEST_F(DspHistoryTest, ScaleFollowsSensitivityFromTheFirstHousekeeping) {
    EXPECT_FLOAT_EQ(history->Scale(), 0.9f);  // the construction value
    shared.registry->senseState.CoarseRange = 5;
    RunAll(10);
    Period(10, 5);
    EXPECT_FLOAT_EQ(history->Scale(), 0.5f);
    Period(10, 5);
    RunAll(30);
    EXPECT_EQ(history->Diff(0), 20);
    EXPECT_FLOAT_EQ(history->Scaled(0), 10.0f);
    shared.registry->senseState.CoarseRange = 15;
    history->Housekeeping();
    EXPECT_FLOAT_EQ(history->Scale(), 1.0f);
    RunAll(30);
    EXPECT_FLOAT_EQ(history->Scaled(0), 20.0f);
}

TEST_F(DspHistoryTest, ElectrodeCountIsClampedAndChangesReset) {
    readings.fill(7);
    history->Run(129, readings.data(), 0, false);
    EXPECT_EQ(history->Count(), 128);
    history->Run(129, readings.data(), 0, false);
    EXPECT_EQ(history->Channel(127).PeriodFrames(), 1);  // same count: no reset

    RunAll(8);
    EXPECT_EQ(history->Count(), kCount);
    EXPECT_EQ(Channel(0).PeriodFrames(), 0);  // changed count: reset, first reading again
    RunAll(9);
    EXPECT_EQ(Channel(0).Accumulator(), 1);

    history->Run(0, readings.data(), 0, false);
    ExpectReset("count 0");
    RunAll(20);
    RunAll(25);
    history->Run(kCount, nullptr, 0, false);
    ExpectReset("no readings");
}

TEST_F(DspHistoryTest, NothingRunsBeforeAnAxisIsAssigned) {
    readings.fill(3);
    history->Run(kCount, readings.data(), -1, true);
    history->Run(kCount, readings.data(), -1, true);
    EXPECT_EQ(history->Axis(), -1);
    EXPECT_EQ(Channel(0).PeriodFrames(), 0);
    EXPECT_EQ(shared.registry->graphState0.Param0 + shared.registry->graphState1.Param0, 0);
    history->Housekeeping();
    EXPECT_EQ(Channel(0).Entries(), 0);
}

}  // namespace
}  // namespace kv
