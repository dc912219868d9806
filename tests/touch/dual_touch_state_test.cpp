// Selections 2 and 3: classification, the finger tracks and the four state processors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "touch_test_support.h"

namespace kv {
namespace {

constexpr float kThreshold = 9.0f;

struct AxisPeak {
    float position;
    float amplitude;
};

class DualTouchStateTest : public ::testing::Test {
protected:
    // One frame: up to two peaks per axis, first listed first.
    void Frame(std::vector<AxisPeak> x, std::vector<AxisPeak> y) {
        auto peak = [](const std::vector<AxisPeak>& peaks, size_t i, int32_t count) {
            if (i >= peaks.size()) {
                return PeakCandidate{};
            }
            return test::Peak(peaks[i].position, peaks[i].amplitude,
                              test::IndexOf(peaks[i].position, count));
        };
        TouchEngines& out = rig.Engines();
        test::FeedPair(out.For(TouchMode::TwoFingerNative), peak(x, 0, 40), peak(x, 1, 40), false,
                       kThreshold);
        test::FeedPair(out.For(TouchMode::TwoFingerNative), peak(y, 0, 24), peak(y, 1, 24), true,
                       kThreshold);
    }
    void OneFinger(float x, float y) { Frame({{x, 20.0f}}, {{y, 20.0f}}); }
    const DualTouchState& Dual() { return rig.Engines().DualNative(); }

    static void ExpectAt(const TrackPoint& p, double x, double y, int32_t state) {
        EXPECT_NEAR(p.x, x, 1e-6);
        EXPECT_NEAR(p.y, y, 1e-6);
        EXPECT_EQ(p.state, state);
    }

    test::OutputRig rig;
};

TEST_F(DualTouchStateTest, FirstFrameWithTwoFingersStartsBothTracksWithTheClassifiedPair) {
    Frame({{0.2f, 20.0f}, {0.7f, 15.0f}}, {{0.8f, 14.0f}, {0.3f, 22.0f}});
    EXPECT_EQ(Dual().State(), DualState::DualFinger);
    // Finger A is made of the stronger peak of each axis.
    ExpectAt(Dual().OutputA(), 0.2f, 0.3f, 2);
    ExpectAt(Dual().OutputB(), 0.7f, 0.8f, 2);
    EXPECT_EQ(rig.Engines().TrackA().Count(), 1);
    EXPECT_EQ(rig.Engines().TrackB().Count(), 1);
    ExpectAt(rig.Engines().TrackA().Last(), 0.2f, 0.3f, 2);
}

TEST_F(DualTouchStateTest, EqualAmplitudesGiveFingerATheSecondListedPeak) {
    Frame({{0.2f, 20.0f}, {0.7f, 20.0f}}, {{0.3f, 20.0f}, {0.8f, 20.0f}});
    ExpectAt(Dual().OutputA(), 0.7f, 0.8f, 2);
}

TEST_F(DualTouchStateTest, WeakPeaksAreNoFingerAndClearTheTracks) {
    OneFinger(0.3f, 0.5f);
    ASSERT_FALSE(rig.Engines().TrackA().Empty());
    Frame({{0.3f, kThreshold}}, {{0.5f, 20.0f}});  // equal to the threshold is not above it
    EXPECT_EQ(Dual().State(), DualState::NoFinger);
    EXPECT_EQ(Dual().OutputA().state, 0);
    EXPECT_EQ(Dual().OutputB().state, 0);
    EXPECT_TRUE(rig.Engines().TrackA().Empty());
    EXPECT_TRUE(rig.Engines().TrackB().Empty());
}

// A side lobe or a noisy electrode just above the threshold beside one finger is no second
// finger; a real one, well above it, is.
TEST_F(DualTouchStateTest, ASecondFingerLandsOnlyWellAboveTheThreshold) {
    for (int frame = 0; frame < 5; ++frame) {
        Frame({{0.3f, 20.0f}, {0.35f, 1.4f * kThreshold}},
              {{0.5f, 20.0f}, {0.55f, 1.4f * kThreshold}});
        EXPECT_EQ(Dual().State(), DualState::OneFinger) << frame;
    }
    Frame({{0.3f, 20.0f}, {0.7f, 1.6f * kThreshold}}, {{0.5f, 20.0f}, {0.8f, 1.6f * kThreshold}});
    EXPECT_EQ(Dual().State(), DualState::DualFinger);
    // Tracked, the second finger is held down to the threshold itself.
    Frame({{0.3f, 20.0f}, {0.7f, 1.1f * kThreshold}}, {{0.5f, 20.0f}, {0.8f, 1.1f * kThreshold}});
    EXPECT_EQ(Dual().State(), DualState::DualFinger);
}

TEST_F(DualTouchStateTest, SameLineSecondFingerIsAbsorbedForTheGraceFrames) {
    rig.Engines().SetGestureLimits(78);  // second limit 78 / 13 = 6
    for (int i = 0; i < 3; ++i) {
        OneFinger(0.3f, 0.5f);
        ASSERT_EQ(Dual().State(), DualState::OneFinger);
    }
    // A second finger on the same Y line: two X peaks, one Y peak.
    for (int i = 0; i < 6; ++i) {
        Frame({{0.7f, 22.0f}, {0.3f, 20.0f}}, {{0.5f, 20.0f}});
        EXPECT_EQ(Dual().State(), DualState::OneFinger) << i;
        ExpectAt(Dual().OutputA(), 0.3f, 0.5f, 2);  // the first finger continues
        EXPECT_EQ(Dual().OutputB().state, 0);
    }
    Frame({{0.7f, 22.0f}, {0.3f, 20.0f}}, {{0.5f, 20.0f}});
    EXPECT_EQ(Dual().State(), DualState::DualFingerSameLine);
    ExpectAt(Dual().OutputA(), 0.3f, 0.5f, 2);
    ExpectAt(Dual().OutputB(), 0.7f, 0.5f, 2);
}

// On a free foil the stronger of two peaks on one line lands alone and the other, under half
// as strong, waits out the grace period too (a noisy electrode on a landing finger's line
// landed as a second contact); two fingers pressing alike land together.
TEST_F(DualTouchStateTest, OnAFreeFoilAWeakSameLineSecondPeakWaitsOutTheGraceToo) {
    rig.Engines().SetGestureLimits(78);
    for (int i = 0; i < 6; ++i) {
        Frame({{0.7f, 14.0f}, {0.3f, 30.0f}}, {{0.5f, 20.0f}});
        EXPECT_EQ(Dual().State(), DualState::OneFinger) << i;
        ExpectAt(Dual().OutputA(), 0.3f, 0.5f, 2);
        EXPECT_EQ(Dual().OutputB().state, 0);
    }
    Frame({{0.7f, 14.0f}, {0.3f, 30.0f}}, {{0.5f, 20.0f}});
    EXPECT_EQ(Dual().State(), DualState::DualFingerSameLine);
    for (int i = 0; i < 10; ++i) {
        Frame({}, {});
    }
    Frame({{0.7f, 16.0f}, {0.3f, 30.0f}}, {{0.5f, 20.0f}});
    EXPECT_EQ(Dual().State(), DualState::DualFingerSameLine);
}

TEST_F(DualTouchStateTest, OneFingerFrameStartsANewGracePeriod) {
    rig.Engines().SetGestureLimits(78);
    OneFinger(0.3f, 0.5f);
    for (int i = 0; i < 4; ++i) {
        Frame({{0.7f, 22.0f}, {0.3f, 20.0f}}, {{0.5f, 20.0f}});
    }
    OneFinger(0.3f, 0.5f);
    for (int i = 0; i < 6; ++i) {
        Frame({{0.7f, 22.0f}, {0.3f, 20.0f}}, {{0.5f, 20.0f}});
        EXPECT_EQ(Dual().State(), DualState::OneFinger) << i;
    }
}

TEST_F(DualTouchStateTest, GestureLimitsComeFromTheFramesPerPeriod) {
    rig.Engines().SetGestureLimits(400);
    EXPECT_EQ(rig.Engines().TrackA().FirstLimit(), 21);
    EXPECT_EQ(rig.Engines().TrackA().SecondLimit(), 30);
    EXPECT_EQ(rig.Engines().TrackB().SecondLimit(), 30);
    rig.registry->commsActStatus.FramesLastPeriod = 130;
    rig.PeriodicStep(3);
    EXPECT_EQ(rig.Engines().TrackA().FirstLimit(), 6);
    EXPECT_EQ(rig.Engines().TrackB().SecondLimit(), 10);
}

TEST_F(DualTouchStateTest, CrossingFingersKeepTheirChannels) {
    // Finger 1 moves right and down, finger 2 left and up; they cross on X. Their strengths
    // on X swap every frame while Y keeps finger 1 stronger, so every other frame the
    // classified pair is the ghost pairing.
    constexpr int kFrames = 41;
    int twoFingerFrames = 0;
    for (int t = 0; t < kFrames; ++t) {
        const float s = static_cast<float>(t) / (kFrames - 1);
        const float x1 = 0.2f + 0.6f * s;
        const float y1 = 0.3f + 0.15f * s;
        const float x2 = 0.8f - 0.6f * s;
        const float y2 = 0.7f - 0.15f * s;
        const bool oneStronger = t % 2 == 0;
        std::vector<AxisPeak> xs;
        if (std::fabs(x1 - x2) < 0.04f) {
            xs = {{(x1 + x2) / 2.0f, 30.0f}};  // the peaks merge
        } else {
            xs = {{x1, oneStronger ? 20.0f : 15.0f}, {x2, oneStronger ? 15.0f : 20.0f}};
        }
        Frame(xs, {{y1, 20.0f}, {y2, 15.0f}});
        const TrackPoint& a = Dual().OutputA();
        const TrackPoint& b = Dual().OutputB();
        ASSERT_EQ(a.state, 2) << t;
        ASSERT_EQ(b.state, 2) << t;
        EXPECT_NEAR(a.y, y1, 1e-6) << t;
        EXPECT_NEAR(b.y, y2, 1e-6) << t;
        EXPECT_NEAR(a.x, x1, 0.021) << t;
        EXPECT_NEAR(b.x, x2, 0.021) << t;
        twoFingerFrames += Dual().State() == DualState::DualFinger ? 1 : 0;
    }
    EXPECT_GT(twoFingerFrames, kFrames / 2);
}

TEST_F(DualTouchStateTest, PreciseTakesANoisePeakFarFromBothFingersForNone) {
    // Two fingers on one vertical line move right; now and then, for two frames, noise raises
    // a weak second X peak far from both (as on a noisy foil with wide fingers). The classic
    // machine takes the confirmed jump; the precise path keeps both fingers where they are.
    rig.path = TouchPath::Precise;
    for (int t = 0; t < 60; ++t) {
        const float x = 0.3f + 0.004f * static_cast<float>(t);
        std::vector<AxisPeak> xs = {{x, 30.0f}};
        if (t % 10 == 5 || t % 10 == 6) {
            xs.push_back({0.9f, 10.0f});
        }
        Frame(xs, {{0.4f, 30.0f}, {0.6f, 25.0f}});
        if (t < 2) {
            continue;
        }
        for (const TrackPoint& p : {Dual().OutputA(), Dual().OutputB()}) {
            ASSERT_EQ(p.state, 2) << t;
            EXPECT_NEAR(p.x, x, 0.02) << t;
        }
    }
}

// A finger rests while another passes its column (X merges) or its row (Y merges) at 0.003 of
// the foil a frame. Near it, the peaks pull on each other (each by 15 % of the way to the
// other); nearer, they merge into one at their weighted mean; twice a palm-like frame without
// peaks comes. The resting finger stays within a millimetre (0.0015 of the foil), the moving
// one near its finger (within its peak's pull), and neither lifts.
TEST_F(DualTouchStateTest, PreciseHoldsARestingFingerWhileTheOtherPassesItsLine) {
    for (const bool alongY : {false, true}) {
        SCOPED_TRACE(alongY ? "passing its row" : "passing its column");
        test::OutputRig r;
        r.path = TouchPath::Precise;
        auto feed = [&](std::vector<AxisPeak> along, std::vector<AxisPeak> across, bool palm) {
            TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
            auto peak = [](const std::vector<AxisPeak>& peaks, size_t i) {
                return i < peaks.size() ? test::Peak(peaks[i].position, peaks[i].amplitude, 5)
                                        : PeakCandidate{};
            };
            const std::vector<AxisPeak>& x = alongY ? across : along;
            const std::vector<AxisPeak>& y = alongY ? along : across;
            engine.Feed(AxisPeaks{peak(x, 0), peak(x, 1), 0, 24, false, 0.0f, kThreshold, false});
            engine.Feed(AxisPeaks{peak(y, 0), peak(y, 1), 1, 40, true, 0.0f, kThreshold, palm});
        };
        for (int t = 0; t < 240; ++t) {
            const float m = 0.2f + 0.003f * static_cast<float>(std::clamp(t - 40, 0, 200));
            const float d = m - 0.5f;
            const float pull = std::fabs(d) < 0.12f ? 0.15f * d : 0.0f;
            std::vector<AxisPeak> along = {{0.5f + pull, 30.0f}, {m - pull, 26.0f}};
            if (std::fabs(d) < 0.06f) {
                along = {{(30.0f * 0.5f + 26.0f * m) / 56.0f, 50.0f}};
            }
            if (t < 20) {
                feed({{0.5f, 30.0f}}, {{0.5f, 30.0f}}, false);
                continue;
            }
            const bool palm = t == 110 || t == 150;
            feed(palm ? std::vector<AxisPeak>{} : along,
                 palm ? std::vector<AxisPeak>{}
                      : std::vector<AxisPeak>{{0.5f, 30.0f}, {0.4f, 26.0f}},
                 palm);
            if (t < 30 || palm) {
                continue;
            }
            const TrackPoint& a = r.Engines().DualNative().OutputA();
            const TrackPoint& b = r.Engines().DualNative().OutputB();
            ASSERT_EQ(a.state, 2) << t;
            ASSERT_EQ(b.state, 2) << t;
            EXPECT_NEAR(a.x, 0.5, 0.0015) << t;
            EXPECT_NEAR(a.y, 0.5, 0.0015) << t;
            EXPECT_NEAR(alongY ? b.y : b.x, m, 0.02) << t;
            EXPECT_NEAR(alongY ? b.x : b.y, 0.4, 1e-6) << t;
        }
        int lifts = 0;
        for (const test::Contact& c : r.contacts.contacts) {
            lifts += c.state == NativeTouchOutput::kContactUp ? 1 : 0;
        }
        EXPECT_EQ(lifts, 0);
    }
}

// Two fingers rest, then lift; while their contacts are held through the lift, noise passes a
// low threshold on both axes far from them for a frame. No contact goes there, on either path.
TEST_F(DualTouchStateTest, AContactHeldThroughItsLiftDoesNotJumpToNoise) {
    for (const TouchPath path : {TouchPath::Classic, TouchPath::Precise}) {
        SCOPED_TRACE(path == TouchPath::Classic ? "classic" : "precise");
        test::OutputRig r;
        r.path = path;
        TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
        auto frame = [&](std::vector<AxisPeak> x, std::vector<AxisPeak> y) {
            auto peak = [](const std::vector<AxisPeak>& peaks, size_t i, int32_t count) {
                return i < peaks.size() ? test::Peak(peaks[i].position, peaks[i].amplitude,
                                                     test::IndexOf(peaks[i].position, count))
                                        : PeakCandidate{};
            };
            test::FeedPair(engine, peak(x, 0, 40), peak(x, 1, 40), false, kThreshold);
            test::FeedPair(engine, peak(y, 0, 24), peak(y, 1, 24), true, kThreshold);
        };
        for (int t = 0; t < 40; ++t) {
            if (t < 10) {
                frame({{0.5f, 30.0f}}, {{0.5f, 30.0f}});
            } else {
                frame({{0.5f, 30.0f}, {0.8f, 26.0f}}, {{0.5f, 30.0f}, {0.4f, 26.0f}});
            }
        }
        frame({}, {});
        frame({{0.75f, 10.0f}}, {{0.72f, 10.0f}});  // noise, just above the threshold
        for (int t = 0; t < 6; ++t) {
            frame({}, {});
        }
        ASSERT_FALSE(r.contacts.contacts.empty());
        for (const test::Contact& c : r.contacts.contacts) {
            const double x = c.x / 32767.0;
            const double y = c.y / 32767.0;
            EXPECT_TRUE(std::hypot(x - 0.5, y - 0.5) < 0.02 || std::hypot(x - 0.8, y - 0.4) < 0.02)
                << "contact " << c.number << " at " << x << ", " << y;
        }
        EXPECT_EQ(r.contacts.contacts.back().state, NativeTouchOutput::kContactUp);
    }
}

// A wide finger's placement is pulled by the other's tail from farther than the hold reaches
// (here 5 % of the way from a quarter of the foil): it is held where it rested before.
TEST_F(DualTouchStateTest, PreciseHoldsARestingFingerWhereItRestedBeforeThePull) {
    test::OutputRig r;
    r.path = TouchPath::Precise;
    TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
    const auto peak = [](float position, float amplitude = 30.0f) {
        return test::Peak(position, amplitude, 5);
    };
    for (int t = 0; t < 200; ++t) {
        const float m = 0.1f + 0.003f * static_cast<float>(std::max(t - 40, 0));
        const float d = m - 0.5f;
        const float rest = 0.5f + (std::fabs(d) < 0.25f ? 0.05f * d : 0.0f);
        const bool merged = std::fabs(d) < 0.06f;
        const PeakCandidate second = t < 20 ? PeakCandidate{} : peak(m, 26.0f);
        engine.Feed(AxisPeaks{merged ? peak((rest + m) / 2.0f) : peak(rest),
                              merged ? PeakCandidate{} : second, 0, 24, false, 0.0f, kThreshold,
                              false});
        engine.Feed(AxisPeaks{peak(0.5f), t < 20 ? PeakCandidate{} : peak(0.4f, 26.0f), 1, 40, true,
                              0.0f, kThreshold, false});
        if (std::fabs(d) < 0.14f) {
            EXPECT_NEAR(r.Engines().DualNative().OutputA().x, 0.5, 0.0015) << t;
        }
    }
}

// Two fingers side by side on one row move along Y; its one peak splits for two frames (a
// dead electrode under it), then they stop: both stay on the row's peak.
TEST_F(DualTouchStateTest, PreciseKeepsSideBySideFingersOnTheirRowsPeakAfterASplit) {
    test::OutputRig r;
    r.path = TouchPath::Precise;
    TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
    float y = 0.2f;
    for (int t = 0; t < 120; ++t) {
        y += t >= 20 && t < 62 ? 0.003f : 0.0f;
        const bool split = t == 60 || t == 61;
        engine.Feed(AxisPeaks{test::Peak(0.4f, 30.0f, 5),
                              t < 10 ? PeakCandidate{} : test::Peak(0.6f, 26.0f, 5), 0, 24, false,
                              0.0f, kThreshold, false});
        engine.Feed(AxisPeaks{test::Peak(split ? y - 0.02f : y, split ? 30.0f : 56.0f, 5),
                              split ? test::Peak(y + 0.03f, 26.0f, 5) : PeakCandidate{}, 1, 40,
                              true, 0.0f, kThreshold, false});
    }
    EXPECT_NEAR(r.Engines().DualNative().OutputA().y, y, 0.002);
    EXPECT_NEAR(r.Engines().DualNative().OutputB().y, y, 0.002);
}

// The resting finger reads as strong as the passing one on X but three times as strong on Y:
// where their columns merge, the passing one is placed by the X amplitudes' shares.
TEST_F(DualTouchStateTest, PrecisePlacesAPassingFingerByTheSharesOfTheMergedAxis) {
    test::OutputRig r;
    r.path = TouchPath::Precise;
    TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
    for (int t = 0; t < 200; ++t) {
        const float m = 0.2f + 0.003f * static_cast<float>(std::max(t - 40, 0));
        const bool merged = std::fabs(m - 0.5f) < 0.06f;
        const PeakCandidate second = t < 20 ? PeakCandidate{} : test::Peak(m, 19.0f, 5);
        engine.Feed(
            AxisPeaks{test::Peak(merged ? (0.5f + m) / 2.0f : 0.5f, merged ? 39.0f : 20.0f, 5),
                      merged ? PeakCandidate{} : second, 0, 24, false, 0.0f, kThreshold, false});
        engine.Feed(AxisPeaks{test::Peak(0.5f, 45.0f, 5),
                              t < 20 ? PeakCandidate{} : test::Peak(0.4f, 15.0f, 5), 1, 40, true,
                              0.0f, kThreshold, false});
        if (merged) {
            EXPECT_NEAR(r.Engines().DualNative().OutputB().x, m, 0.01) << t;
        }
    }
}

// Two fingers on one column move left, the second landing below the first; a noisy electrode
// far off raises a weak second X peak every fifth frame from then on. The precise path keeps
// the second on its finger from its landing, and no contact lifts.
TEST_F(DualTouchStateTest, PreciseTakesANoisyElectrodeBesideALandingFingerForNone) {
    rig.path = TouchPath::Precise;
    float x = 0.8f;
    for (int t = 0; t < 80; ++t) {
        x = 0.8f - 0.002f * static_cast<float>(t);
        std::vector<AxisPeak> xs = {{x, t < 10 ? 30.0f : 56.0f}};
        if (t >= 10 && t % 5 == 0) {
            xs.push_back({0.3f, 15.0f});
        }
        Frame(xs, t < 10 ? std::vector<AxisPeak>{{0.4f, 30.0f}}
                         : std::vector<AxisPeak>{{0.4f, 30.0f}, {0.6f, 26.0f}});
    }
    ExpectAt(Dual().OutputB(), x, 0.6f, 2);
    for (const test::Contact& c : rig.contacts.contacts) {
        EXPECT_NE(c.state, NativeTouchOutput::kContactUp);
    }
}

// A finger rests at the middle while another passes at 0.002 of the foil a frame: through it,
// their peaks merged on X for over a second and on Y for half of it, weak noise peaks far away
// now and then; or past its column, its X peak lost under the resting one's until 0.13 away.
// Neither lifts, the resting one stays within a millimetre, the other ends on its finger.
TEST_F(DualTouchStateTest, PreciseKeepsACrossingOnItsFingersThroughNoiseAndALostPeak) {
    for (const bool through : {true, false}) {
        SCOPED_TRACE(through ? "through it" : "past its column");
        test::OutputRig r;
        r.path = TouchPath::Precise;
        TouchEngine& engine = r.Engines().For(TouchMode::TwoFingerNative);
        float m = 0.0f;
        for (int t = 0; t < 360; ++t) {
            m = 0.2f + 0.002f * static_cast<float>(std::max(t - 40, 0));
            const float d = m - 0.5f;
            const auto feed = [&](int32_t axis, float at, bool merged, bool noise, bool lost) {
                const PeakCandidate both = test::Peak((15.0f + 26.0f * at) / 56.0f, 50.0f, 5);
                const PeakCandidate other = noise                      ? test::Peak(0.9f, 10.0f, 5)
                                            : t < 20 || merged || lost ? PeakCandidate{}
                                                                       : test::Peak(at, 26.0f, 5);
                engine.Feed(AxisPeaks{merged ? both : test::Peak(0.5f, 30.0f, 5), other, axis, 24,
                                      axis == 1, 0.0f, kThreshold, false});
            };
            const bool merged = through && std::fabs(d) < 0.05f;
            feed(0, m, std::fabs(d) < (through ? 0.11f : 0.06f), merged && t % 11 == 0,
                 !through && d >= 0.06f && d < 0.13f);
            feed(1, through ? m : 0.4f, merged, merged && (t % 7 == 0 || t % 11 == 0), false);
            const TrackPoint& a = r.Engines().DualNative().OutputA();
            if (t >= 30 && a.state == touch_state::kTouching) {
                EXPECT_NEAR(std::hypot(a.x - 0.5, a.y - 0.5), 0.0, 0.0015) << t;
            }
        }
        const TrackPoint& b = r.Engines().DualNative().OutputB();
        EXPECT_NEAR(std::hypot(b.x - m, b.y - (through ? m : 0.4f)), 0.0, 0.02);
        EXPECT_EQ(std::count_if(r.contacts.contacts.begin(), r.contacts.contacts.end(),
                                [](const test::Contact& c) {
                                    return c.state == NativeTouchOutput::kContactUp;
                                }),
                  0);
    }
}

TEST_F(DualTouchStateTest, PreciseLandsAContactAtTheMeanOfItsFirstTwoFrames) {
    rig.path = TouchPath::Precise;
    OneFinger(0.40f, 0.5f);
    EXPECT_EQ(Dual().PipelineA().Output().state, touch_state::kHover);  // not landed yet
    OneFinger(0.42f, 0.5f);
    EXPECT_EQ(Dual().PipelineA().Output().state, touch_state::kTouching);
    EXPECT_NEAR(Dual().PipelineA().Output().x, 0.41, 1e-6);
}

TEST_F(DualTouchStateTest, GhostPairingIsRejected) {
    Frame({{0.2f, 20.0f}, {0.8f, 15.0f}}, {{0.2f, 20.0f}, {0.8f, 15.0f}});
    // Finger 2 is now stronger on Y: classified A = (0.2, 0.8), the ghost.
    Frame({{0.2f, 20.0f}, {0.8f, 15.0f}}, {{0.8f, 20.0f}, {0.2f, 15.0f}});
    ExpectAt(Dual().OutputA(), 0.2f, 0.2f, 2);
    ExpectAt(Dual().OutputB(), 0.8f, 0.8f, 2);
}

TEST_F(DualTouchStateTest, JumpOfATenthIsSuppressedForOneFrame) {
    for (int i = 0; i < 3; ++i) {
        OneFinger(0.3f, 0.5f);
    }
    OneFinger(0.45f, 0.5f);
    EXPECT_EQ(Dual().OutputA().state, 0);
    EXPECT_TRUE(rig.Engines().TrackA().HasPending());
    OneFinger(0.46f, 0.5f);  // within 0.07 of the jump: the finger really moved
    ExpectAt(Dual().OutputA(), 0.46f, 0.5f, 2);
    ExpectAt(rig.Engines().TrackA().Last(), 0.46f, 0.5f, 2);
}

TEST_F(DualTouchStateTest, UnconfirmedJumpStaysSuppressed) {
    for (int i = 0; i < 3; ++i) {
        OneFinger(0.3f, 0.5f);
    }
    OneFinger(0.45f, 0.5f);
    OneFinger(0.6f, 0.5f);  // far from both the track and the pending jump
    EXPECT_EQ(Dual().OutputA().state, 0);
    OneFinger(0.31f, 0.5f);  // back on the track
    ExpectAt(Dual().OutputA(), 0.31f, 0.5f, 2);
    EXPECT_FALSE(rig.Engines().TrackA().HasPending());
}

TEST_F(DualTouchStateTest, LiftedFingerDoesNotMakeTheOtherSwapChannels) {
    for (int i = 0; i < 3; ++i) {
        Frame({{0.2f, 20.0f}, {0.7f, 15.0f}}, {{0.3f, 20.0f}, {0.8f, 15.0f}});
    }
    // Finger A lifts; the finger on track B stays on channel B.
    OneFinger(0.7f, 0.8f);
    EXPECT_EQ(Dual().State(), DualState::OneFinger);
    EXPECT_EQ(Dual().OutputA().state, 0);
    ExpectAt(Dual().OutputB(), 0.7f, 0.8f, 2);
    EXPECT_TRUE(rig.Engines().TrackA().Empty());
    OneFinger(0.71f, 0.8f);
    ExpectAt(Dual().OutputB(), 0.71f, 0.8f, 2);
}

TEST(FingerTrackTest, DirectionPointsAlongTheMotionAndLowersTheCostAhead) {
    FingerTrack track;
    for (int i = 0; i < 6; ++i) {
        TrackPoint p{0.2 + 0.02 * i, 0.5, 2};
        track.Append(p);
    }
    ASSERT_TRUE(track.DirectionValid());
    EXPECT_NEAR(track.DirectionX(), 1.0, 1e-9);
    EXPECT_NEAR(track.DirectionY(), 0.0, 1e-9);
    const TrackPoint ahead{0.32, 0.5, 2};
    const TrackPoint behind{0.28, 0.5, 2};
    EXPECT_LT(track.Cost(ahead), track.Cost(behind));
}

// The estimator has no anchor at a track's first point: its last point starts at the origin,
// two samples pass before any direction is taken, and emptying the track leaves it as is.
TEST(FingerTrackTest, DirectionIsMeasuredFromTheEstimatorsLastPointAcrossClears) {
    FingerTrack track;
    for (int i = 0; i < 2; ++i) {
        TrackPoint p{0.6, 0.8, 2};
        track.Append(p);
        EXPECT_FALSE(track.DirectionValid());
    }
    // A still finger: the third sample measures from the origin, one unit away.
    TrackPoint still{0.6, 0.8, 2};
    track.Append(still);
    ASSERT_TRUE(track.DirectionValid());
    EXPECT_NEAR(track.DirectionX(), 0.6, 1e-9);
    EXPECT_NEAR(track.DirectionY(), 0.8, 1e-9);

    track.Clear();
    EXPECT_TRUE(track.Empty());
    EXPECT_TRUE(track.DirectionValid());
    EXPECT_NEAR(track.DirectionX(), 0.6, 1e-9);
    // The first point after the clear measures from (0.6, 0.8) at once.
    TrackPoint below{0.6, 0.84, 2};
    track.Append(below);
    EXPECT_NEAR(track.DirectionX(), 0.0, 1e-9);
    EXPECT_NEAR(track.DirectionY(), 1.0, 1e-9);
    // A step of 0.03 or less is no new direction.
    TrackPoint near{0.62, 0.84, 2};
    track.Append(near);
    EXPECT_NEAR(track.DirectionY(), 1.0, 1e-9);
}

TEST(FingerTrackTest, RingKeepsTheLastHundredTwentyEightPoints) {
    FingerTrack track;
    track.SetLimits(4, 6);
    for (int i = 0; i < 300; ++i) {
        TrackPoint p{0.5 + 0.0001 * i, 0.5, 2};
        track.Append(p);
    }
    EXPECT_EQ(track.Count(), FingerTrack::kPoints);
    EXPECT_NEAR(track.Last().x, 0.5 + 0.0001 * 299, 1e-12);
    EXPECT_EQ(track.Grace(), 6);
    track.Clear();
    EXPECT_TRUE(track.Empty());
    EXPECT_EQ(track.Grace(), 0);
}

}  // namespace
}  // namespace kv
