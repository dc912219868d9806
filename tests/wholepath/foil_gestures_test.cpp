// What a kiosk meets first, through the real main loop and signal processing on foils of
// several makes: an idle foil whose rest levels drift never touches itself, and two fingers
// pinching, spreading and crossing stay two contacts from landing to lift.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "driver/sim/simulated_sensor_link.h"
#include "tests/touch/touch_test_support.h"
#include "whole_path.h"

namespace kv {
namespace {

using test::Layout;
using test::ScenarioOf;
using test::WholePath;

struct Foil {
    const char* name;
    const char* model;
    const char* header;  // scenario lines: seed, noise, drift, finger width
    int32_t threshold;   // the press threshold a user (or auto adaption) sets for its noise
};

void PrintTo(const Foil& foil, std::ostream* out) {
    *out << foil.name;
}
std::string Named(const ::testing::TestParamInfo<Foil>& info) {
    return info.param.name;
}

// Foils unlike the one the signal path was first tuned on: other seeds (so other electrodes
// drift up at other moments), stronger and faster drift, more noise, wider fingers.
const Foil kFoils[] = {
    {"DemoFoil", "S64", "seed 1\n", 5},
    {"StrongDrift", "S64", "seed 7\ndrift 2.5\n", 5},
    {"NoisyWide", "B64", "seed 3\nnoise 1\nwidth 1.0\n", 9},
    {"LargeFoil", "S128", "seed 5\ndrift 2\n", 5},
};

// The peaks the detector handed to the engines, replayed frame by frame into the real touch
// engine of a mode, with the periodic steps where the loop took them.
void Replay(const test::RecordingTouchEngines& sink, test::OutputRig& out, TouchMode mode) {
    out.registry->outputState.Selection = static_cast<int32_t>(mode);
    TouchEngine& engine = out.Engines().For(mode);
    size_t step = 0;
    for (const test::EngineCall& call : sink.calls) {
        while (step < sink.periodicFrames.size() && sink.periodicFrames[step] < call.frame) {
            out.registry->commsActStatus.FramesLastPeriod = sink.periodicRates[step];
            engine.PeriodicStep(sink.periodicRates[step]);
            ++step;
        }
        engine.Feed(AxisPeaks{call.first, call.second, call.axis, call.count, call.frameComplete,
                              call.release, call.press, call.palm});
    }
}

class IdleFoil : public ::testing::TestWithParam<Foil> {};

// Five minutes with no finger, as the rest levels drift up and down over minutes: neither the
// pointer nor native touch ever reports a touch.
TEST_P(IdleFoil, NeverTouchesItselfWhileItsRestLevelsDrift) {
    const Foil& foil = GetParam();
    WholePath rig(Layout(foil.model));
    rig.Start(rig.Keep(std::make_unique<sim::SimulatedSensorLink>(
        ScenarioOf(std::string("layout ") + foil.model + "\n" + foil.header), rig.clock, true,
        nullptr)));
    rig.registry.senseState.PressThreshold = foil.threshold;
    rig.RunUntil(300.0);
    ASSERT_GT(rig.engine.frames, 25'000);

    test::OutputRig pointer;
    Replay(rig.sink, pointer, TouchMode::SingleTouch);
    EXPECT_EQ(pointer.injector.events.size(), 0u) << "pointer events on an idle foil";
    test::OutputRig native;
    Replay(rig.sink, native, TouchMode::TwoFingerNative);
    EXPECT_EQ(native.contacts.contacts.size(), 0u) << "contact reports on an idle foil";
}

INSTANTIATE_TEST_SUITE_P(Foils, IdleFoil, ::testing::ValuesIn(kFoils), Named);

// Landings (first touching report after none) and lifts of each contact number.
std::map<uint16_t, std::pair<int, int>> LandingsAndLifts(const std::vector<test::Contact>& sent) {
    std::map<uint16_t, std::pair<int, int>> counts;
    std::map<uint16_t, bool> down;
    for (const test::Contact& c : sent) {
        const bool touching = c.state == NativeTouchOutput::kContactTouching;
        if (touching != down[c.number] && (touching || c.state == NativeTouchOutput::kContactUp)) {
            down[c.number] = touching;
            ++(touching ? counts[c.number].first : counts[c.number].second);
        }
    }
    return counts;
}

// Two contacts were sent, and each landed once and lifted once.
void ExpectTwoContactsLandingAndLiftingOnce(const std::vector<test::Contact>& sent) {
    const auto counts = LandingsAndLifts(sent);
    ASSERT_EQ(counts.size(), 2u) << "contacts that landed";
    for (const auto& [number, landingsAndLifts] : counts) {
        EXPECT_EQ(landingsAndLifts, std::make_pair(1, 1)) << "contact " << number;
    }
}

struct Gesture {
    const char* name;
    const char* events;  // two fingers down at 6 s, up at 9 s
};

const Gesture kGestures[] = {
    // The kiosk's zoom: fingers on one line spread apart, from a few electrodes apart (closer
    // fingers make one peak on a foil this coarse, and land as one finger).
    {"SpreadOnALine",
     "at 6.0 down 1 0.42 0.50\nat 6.0 down 2 0.58 0.50\n"
     "at 6.2 move 1 0.20 0.50 1.5\nat 6.2 move 2 0.80 0.50 1.5\n"},
    {"PinchOnADiagonal",
     "at 6.0 down 1 0.25 0.25\nat 6.0 down 2 0.75 0.75\n"
     "at 6.2 move 1 0.45 0.45 1.5\nat 6.2 move 2 0.55 0.55 1.5\n"},
    // Both axes' peaks merge where the fingers pass each other.
    {"CrossingDiagonally",
     "at 6.0 down 1 0.30 0.30\nat 6.0 down 2 0.70 0.70\n"
     "at 6.2 move 1 0.30 0.70 2.0\nat 6.2 move 2 0.70 0.30 2.0\n"},
    {"SpreadVertically",
     "at 6.0 down 1 0.40 0.42\nat 6.0 down 2 0.40 0.58\n"
     "at 6.2 move 1 0.40 0.15 1.5\nat 6.2 move 2 0.40 0.85 1.5\n"},
};

class TwoFingers : public ::testing::TestWithParam<std::tuple<Gesture, Foil>> {};

// Native touch on the peaks the detector found: each finger is one contact that lands once
// and lifts once.
TEST_P(TwoFingers, StayTwoContactsFromLandingToLift) {
    const auto& [gesture, foil] = GetParam();
    WholePath rig(Layout(foil.model));
    rig.registry.outputState.Selection = 3;
    rig.Start(rig.Keep(std::make_unique<sim::SimulatedSensorLink>(
        ScenarioOf(std::string("layout ") + foil.model + "\n" + foil.header + gesture.events +
                   "at 9.0 up 1\nat 9.0 up 2\n"),
        rig.clock, true, nullptr)));
    rig.registry.senseState.PressThreshold = foil.threshold;
    rig.RunUntil(10.5);

    test::OutputRig out;
    Replay(rig.sink, out, TouchMode::TwoFingerNative);
    ExpectTwoContactsLandingAndLiftingOnce(out.contacts.contacts);
}

INSTANTIATE_TEST_SUITE_P(Gestures, TwoFingers,
                         ::testing::Combine(::testing::ValuesIn(kGestures),
                                            ::testing::ValuesIn(kFoils)),
                         [](const auto& gestureFoil) {
                             return std::string(std::get<0>(gestureFoil.param).name) + "_" +
                                    std::get<1>(gestureFoil.param).name;
                         });

// A finger passes diagonally through a resting one, on foils whose finger profile and
// electrode gains differ from the ones the peak finder assumes: the precise path keeps both
// contacts where the peaks merge on both axes, each landing once and lifting once (the classic
// machine drops one there and lands it again as a new touch).
const char* const kPreciseFoils[] = {"width 0.7\n", "profile lorentzian\nwidth 0.5\ngain 0.15\n",
                                     "profile finger 0.6 0.3\ngain 0.15\nhum 1 50\n"};

// The signal path on a B64 foil of the given lines, with these events, up to the given time.
void RunOn(WholePath& rig, const char* foil, const char* events, double seconds) {
    rig.Start(rig.Keep(std::make_unique<sim::SimulatedSensorLink>(
        ScenarioOf(std::string("layout B64\nseed 7\n") + foil + events), rig.clock, true,
        nullptr)));
    rig.RunUntil(seconds);
}

TEST(PreciseCrossing, AFingerPassingThroughARestingOneLeavesTwoContacts) {
    // Quickly, and slowly: the slower the crossing, the longer the peaks stay merged and the
    // more a velocity learnt from the resting finger's noise would carry it away.
    const char* const crossings[] = {
        "at 5 down 1 0.5 0.5 30\nat 5.45 down 2 0.2 0.2 26\n"
        "at 5.6 move 2 0.8 0.8 1\nat 7 up 1\nat 7 up 2\n",
        "at 5 down 1 0.5 0.5 30\nat 5.45 down 2 0.2 0.2 26\n"
        "at 5.6 move 2 0.8 0.8 3\nat 9 up 1\nat 9 up 2\n"};
    for (const char* foil : kPreciseFoils) {
        for (const char* crossing : crossings) {
            SCOPED_TRACE(std::string(foil) + crossing);
            WholePath rig(Layout("B64"));
            RunOn(rig, foil, crossing, 9.5);

            test::OutputRig out;
            out.path = TouchPath::Precise;
            Replay(rig.sink, out, TouchMode::TwoFingerNative);
            ExpectTwoContactsLandingAndLiftingOnce(out.contacts.contacts);
        }
    }
}

// A palm (four finger widths, twice as strong) laid on the foil and lifted: on the precise path
// no contact lands and the pointer's button never goes down, on foils of two finger profiles.
TEST(PrecisePalm, APalmNeitherTouchesNorClicks) {
    // The third foil has a dead electrode under the palm, which must not cut it in two.
    for (const char* foil : {kPreciseFoils[0], kPreciseFoils[1], "width 0.7\ndead y 17\n"}) {
        SCOPED_TRACE(foil);
        WholePath rig(Layout("B64"));
        rig.dsp->Detector().SetPath(TouchPath::Precise);
        RunOn(rig, foil, "at 5 down 1 0.5 0.43 60 2.8\nat 6.5 up 1\n", 7.0);

        test::OutputRig pointer;
        Replay(rig.sink, pointer, TouchMode::SingleTouch);
        EXPECT_EQ(pointer.injector.With(pointer_flags::kLeftDown).size(), 0u);
        test::OutputRig native;
        native.path = TouchPath::Precise;
        Replay(rig.sink, native, TouchMode::TwoFingerNative);
        EXPECT_EQ(native.contacts.contacts.size(), 0u);
    }
}

// A finger touches, then the hand comes down over it: the finger's contact is cancelled as a
// palm's (a desktop drops it) instead of lifting, which would end a tap there.
TEST(PrecisePalm, AContactAPalmFallsOnIsCancelledNotLifted) {
    WholePath rig(Layout("B64"));
    rig.dsp->Detector().SetPath(TouchPath::Precise);
    RunOn(rig, kPreciseFoils[0],
          "at 5 down 1 0.5 0.43 30\nat 5.3 down 2 0.5 0.45 60 2.8\nat 5.31 up 1\nat 6.5 up 2\n",
          7.0);
    test::OutputRig native;
    native.path = TouchPath::Precise;
    Replay(rig.sink, native, TouchMode::TwoFingerNative);
    const std::vector<test::Contact>& sent = native.contacts.contacts;
    const auto counts = LandingsAndLifts(sent);
    ASSERT_EQ(counts.size(), 1u) << "contacts that landed";
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2].state, NativeTouchOutput::kContactPalm);
    EXPECT_EQ(sent.back().state, NativeTouchOutput::kContactUp);
    for (size_t i = 0; i + 2 < sent.size(); ++i) {
        EXPECT_NE(sent[i].state, NativeTouchOutput::kContactPalm) << i;
    }
}

// The board goes (unplugged, or its reads fail) while a finger is on the foil: the pointer's
// button comes up and the contact lifts, instead of staying pressed until the board is back.
TEST(BoardGone, ATouchDoesNotOutliveTheFramesThatCarriedIt) {
    WholePath rig(Layout("B64"));
    rig.Start(rig.Keep(std::make_unique<sim::SimulatedSensorLink>(
        ScenarioOf("layout B64\nat 6 down 1 0.5 0.5\nat 7 unplug\nat 9 up 1\n"), rig.clock, true,
        nullptr)));
    rig.RunUntil(8.5);

    test::OutputRig pointer;
    Replay(rig.sink, pointer, TouchMode::SingleTouch);
    ASSERT_EQ(pointer.injector.With(pointer_flags::kLeftDown).size(), 1u);
    EXPECT_EQ(pointer.injector.With(pointer_flags::kLeftUp).size(), 1u);
    test::OutputRig native;
    Replay(rig.sink, native, TouchMode::TwoFingerNative);
    const auto counts = LandingsAndLifts(native.contacts.contacts);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts.begin()->second, std::make_pair(1, 1));
}

}  // namespace
}  // namespace kv
