// The driver's main loop with a scripted board and a fake clock: frame placement for every
// mux mode, reconnecting, ticks and the two-second task, save, reload and stop requests.
#include <gtest/gtest.h>

#include "driver/board/main_loop.h"
#include "driver/sim/scripted_sensor_link.h"
#include "tests/support/controller_side.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/main_loop_fakes.h"

namespace kv {
namespace {

using test::Bytes;

// A 65-byte report whose byte i is first + i (mod 256), report ID 0.
Bytes Counting(int first) {
    Bytes report(65);
    report[0] = 0;
    for (int i = 1; i < 65; ++i) {
        report[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
    }
    return report;
}

Bytes SyncReport() {
    return Counting(0);
}

class MainLoop : public ::testing::Test {
protected:
    MainLoop() : registry(ProgramRole::Driver, clock), link(clock) {
        registry.SetTransport(&transport);
    }

    // Start-up with the given mux size and an open board.
    void Start(int32_t mux) {
        hid.BuildEngine(calibration);
        registry.commsReqState.MuxSize = mux;
        hid.Connect();
        hid.SetRunning(true);
    }
    // One iteration after more than a second: one tick.
    void TickedIteration() {
        clock.Advance(kTickMs + 1);
        hid.LoopIteration();
    }
    int Heartbeat() const { return registry.driverDoHeartBeat.header.sequence; }

    test::FakeClock clock;
    Registry registry;
    test::FrameLog transport;
    ScriptedSensorLink link;
    test::RecordingFrameProcessor processor;
    test::CountingSettings settings;
    test::CountingCalibration calibration;
    VerboseLog log{false};
    CHid hid{registry, link, processor, settings, clock, log};
    test::ControllerSide controller;
};

// --- start-up -----------------------------------------------------------------------------

TEST_F(MainLoop, BuildEngineLoadsSettingsComputesCalibrationAndZeroesTheLoop) {
    hid.BuildEngine(calibration);
    EXPECT_EQ(settings.loads, 1);
    EXPECT_EQ(calibration.computed, 1);
    EXPECT_EQ(registry.driverConfig.Delay, 20);  // the defaults come before the file
    EXPECT_FLOAT_EQ(registry.calibRefTR.SA, 0.9f);
    EXPECT_EQ(hid.Loop().tickPhase, 0);
    EXPECT_EQ(hid.Loop().lastTick, 0);
    EXPECT_EQ(hid.Loop().framesThisPeriod, 0);
    EXPECT_EQ(hid.Loop().framesLastPeriod, 0);
    EXPECT_EQ(hid.Loop().statusWidth, 64);
}

TEST_F(MainLoop, ConnectAnnouncesTheRunStateAndTakesTheMuxSize) {
    registry.driverConfig.RunFlag0 = true;
    Start(48);
    EXPECT_FALSE(registry.driverConfig.RunFlag0);
    EXPECT_TRUE(registry.driverConfig.RunFlag1);
    EXPECT_EQ(hid.MuxSize(), 48);
    EXPECT_EQ(link.OpenCalls(), 1);
    EXPECT_EQ(link.OpenHandles(), 1);
}

TEST_F(MainLoop, ConnectWithoutBoardTriesEightTimesHalfASecondApart) {
    link.Unplug();
    Start(64);
    EXPECT_EQ(link.OpenCalls(), 8);
    EXPECT_EQ(clock.Slept(), 8 * 500);
    EXPECT_EQ(link.OpenHandles(), 0);
}

// --- frame placement ----------------------------------------------------------------------

TEST_F(MainLoop, MuxSizes40To64ProcessTheReportAsRead) {
    for (int32_t mux : {40, 64}) {
        Start(mux);
        link.QueueReport(Counting(mux));
        hid.LoopIteration();
        EXPECT_EQ(processor.lastMux, mux);
        for (int i = 1; i <= 64; ++i) {
            EXPECT_EQ(processor.lastSamples[static_cast<size_t>(i - 1)], (mux + i) % 256) << i;
        }
    }
    EXPECT_EQ(processor.frames, 2);
    EXPECT_GE(processor.lastAvailable, 128u);
}

TEST_F(MainLoop, Mux20TakesTheCentredBytes11To30) {
    Start(20);
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    ASSERT_EQ(processor.frames, 1);
    for (int i = 1; i <= 20; ++i) {
        EXPECT_EQ(processor.lastSamples[static_cast<size_t>(i - 1)], i + 10) << i;
    }
}

TEST_F(MainLoop, Mux17CentresWithOddMargin) {
    Start(17);  // d = 11
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    for (int i = 1; i <= 17; ++i) {
        EXPECT_EQ(processor.lastSamples[static_cast<size_t>(i - 1)], i + 11) << i;
    }
}

TEST_F(MainLoop, Mux39LeavesTheReportUnchanged) {
    Start(39);
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    for (int i = 1; i <= 64; ++i) {
        EXPECT_EQ(processor.lastSamples[static_cast<size_t>(i - 1)], i) << i;
    }
}

TEST_F(MainLoop, Mux128JoinsThePairAfterTheSyncReportInReverse) {
    Start(128);
    const Bytes first = Counting(100);   // samples 101..164
    const Bytes second = Counting(180);  // samples 181..244
    link.QueueReport(Counting(7));       // not a sync report
    link.QueueReport(SyncReport());
    link.QueueReport(first);
    link.QueueReport(second);
    hid.LoopIteration();
    ASSERT_EQ(processor.frames, 1);
    EXPECT_EQ(link.Reads(), 4);
    // Sample 128 of the frame is the first sample of the first report, sample 1 the last of
    // the second.
    for (int k = 1; k <= 64; ++k) {
        EXPECT_EQ(processor.lastSamples[static_cast<size_t>(128 - k)],
                  first[static_cast<size_t>(k)]);
        EXPECT_EQ(processor.lastSamples[static_cast<size_t>(64 - k)],
                  second[static_cast<size_t>(k)]);
    }
}

TEST_F(MainLoop, Mux128WithoutSyncWithinAHundredReadsProcessesNothing) {
    Start(128);
    registry.commsActStatus.Connected = true;
    for (int i = 0; i < 100; ++i) {
        link.QueueReport(Counting(1));
    }
    hid.LoopIteration();
    EXPECT_EQ(link.Reads(), 100);
    EXPECT_EQ(processor.frames, 0);
    EXPECT_TRUE(registry.commsActStatus.Connected);  // untouched
}

TEST_F(MainLoop, Mux128SyncOnTheHundredthReadStillEndsTheIteration) {
    Start(128);
    for (int i = 0; i < 99; ++i) {
        link.QueueReport(Counting(1));
    }
    link.QueueReport(SyncReport());
    link.QueueReport(Counting(100));
    link.QueueReport(Counting(180));
    hid.LoopIteration();
    EXPECT_EQ(link.Reads(), 100);
    EXPECT_EQ(processor.frames, 0);
}

TEST_F(MainLoop, Mux128LosingTheBoardWithinAPairClearsConnectedWithoutReconnecting) {
    for (size_t delivered : {1u, 2u}) {  // lost before the first half, before the second
        Start(128);
        link.ClearQueue();
        const int opens = link.OpenCalls();
        registry.commsActStatus.Connected = true;
        link.QueueReport(SyncReport());
        link.QueueReport(Counting(100));
        link.UnplugAfter(delivered);
        hid.LoopIteration();
        EXPECT_EQ(processor.frames, 0) << delivered;
        EXPECT_FALSE(registry.commsActStatus.Connected) << delivered;
        EXPECT_EQ(link.OpenCalls(), opens) << delivered;  // the next sync search reconnects
        hid.LoopIteration();
        EXPECT_EQ(link.OpenCalls(), opens + 8) << delivered;
        link.Replug();
    }
}

TEST_F(MainLoop, OtherMuxSizesReadNothingAndProcessTheSameBuffer) {
    for (int32_t mux : {8, 100}) {
        Start(mux);
        const int readsBefore = link.Reads();
        const int framesBefore = processor.frames;
        hid.Buffer()[1] = 42;
        hid.LoopIteration();
        hid.LoopIteration();
        EXPECT_EQ(link.Reads(), readsBefore) << mux;
        EXPECT_EQ(processor.frames, framesBefore + 2) << mux;
        EXPECT_EQ(processor.lastMux, mux);
        EXPECT_EQ(processor.lastSamples[0], 42);
    }
}

TEST_F(MainLoop, OtherMuxSizesWaitAsAReadWouldInsteadOfSpinning) {
    Start(100);
    const int64_t before = clock.NowMs();
    hid.LoopIteration();
    EXPECT_EQ(clock.NowMs() - before, kReadTimeoutMs);
    EXPECT_EQ(processor.frames, 1);

    // A new mux size already asked for: no wait; it applies from the next iteration.
    registry.commsReqState.MuxSize = 64;
    const int64_t changed = clock.NowMs();
    hid.LoopIteration();
    EXPECT_EQ(clock.NowMs(), changed);
    EXPECT_EQ(processor.frames, 2);
    EXPECT_EQ(hid.MuxSize(), 64);
}

TEST_F(MainLoop, AWaitWithoutReadEndsSoonAfterTheMuxSizeChanges) {
    // The controller changes the mux size part-way through the wait.
    test::FakeClock changing(0);
    changing.OnSleep([&](int) {
        if (changing.NowMs() >= kReadTimeoutMs / 2) {
            registry.commsReqState.MuxSize = 64;
        }
    });
    CHid waiting{registry, link, processor, settings, changing, log};
    waiting.BuildEngine(calibration);
    registry.commsReqState.MuxSize = 0;  // what "MuxSize=false" in the settings file gives
    waiting.Connect();
    waiting.SetRunning(true);
    waiting.LoopIteration();
    EXPECT_GE(changing.NowMs(), kReadTimeoutMs / 2);
    EXPECT_LT(changing.NowMs(), kReadTimeoutMs);
    EXPECT_EQ(processor.frames, 1);
    EXPECT_EQ(waiting.MuxSize(), 64);
}

// A board that stays attached but stops sending: its last frame is not processed again (that
// held a touch pressed for as long as the silence lasted); once the silence has lasted
// kSilentLiftMs (and four of the board's frame periods: this one has sent one frame) the
// touches are lifted, once, and the loop goes on serving stops. A frame ends the silence.
TEST_F(MainLoop, ASilentBoardYieldsNoFrameAndItsTouchesLiftOnce) {
    Start(64);
    link.QueueReport(Counting(3));
    hid.LoopIteration();
    const int64_t before = clock.NowMs();
    hid.LoopIteration();  // nothing arrives
    EXPECT_EQ(clock.NowMs() - before, kReadTimeoutMs);
    EXPECT_EQ(processor.frames, 1);
    EXPECT_EQ(processor.lifts, 0);
    while (clock.NowMs() - before < 20000) {
        hid.LoopIteration();
    }
    EXPECT_EQ(processor.frames, 1);
    EXPECT_EQ(processor.lifts, 1);
    controller.RaiseInto(registry, "Driver", "DoStop");
    hid.LoopIteration();
    EXPECT_FALSE(hid.Running());
    link.QueueReport(Counting(5));
    hid.SetRunning(true);
    hid.LoopIteration();
    EXPECT_EQ(processor.frames, 2);
    EXPECT_EQ(processor.lastSamples[0], 6);
}

// A board that pauses between frames as it works (here 150 ms, as an emulated machine may) is
// not taken for gone at each pause once its pauses are known; when it goes silent for good its
// touches lift after twice its longest pause.
TEST_F(MainLoop, ABoardThatPausesIsGivenTwiceItsPauseBeforeItsTouchesLift) {
    Start(64);
    const auto pausing = [&](int bursts) {  // bursts of frames at a high rate, then a pause
        for (int b = 0; b < bursts; ++b) {
            for (int f = 0; f < 50; ++f) {
                link.QueueReport(Counting(1));
                hid.LoopIteration();
            }
            for (int silent = 0; silent < 150 / kReadTimeoutMs; ++silent) {
                hid.LoopIteration();
            }
        }
    };
    pausing(20);  // the first pause, before any was seen, may lift
    const int lifts = processor.lifts;
    pausing(40);
    EXPECT_EQ(processor.lifts, lifts);
    const int64_t last = clock.NowMs() - 150;
    while (processor.lifts == lifts && clock.NowMs() - last < 5000) {
        hid.LoopIteration();
    }
    EXPECT_EQ(processor.lifts, lifts + 1);
    EXPECT_GE(clock.NowMs() - last, 300);
}

TEST_F(MainLoop, ReportsLongerThanTheBufferAreCutToIt) {
    Start(64);
    link.SetReportLength(static_cast<int32_t>(kReportBufferBytes + 500));
    link.QueueReport(Bytes(kReportBufferBytes + 500, 0x5A));
    hid.LoopIteration();
    EXPECT_EQ(processor.frames, 1);
    EXPECT_EQ(hid.Buffer().back(), 0x5A);
}

TEST_F(MainLoop, ABoardWithoutInputReportsCountsAsLost) {
    Start(64);
    link.SetReportLength(0);
    hid.LoopIteration();
    EXPECT_EQ(processor.frames, 0);
    EXPECT_FALSE(registry.commsActStatus.Connected);
}

// --- link loss ----------------------------------------------------------------------------

TEST_F(MainLoop, UnplugAndReplugResumesWithOneHandle) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    hid.LoopIteration();
    EXPECT_TRUE(registry.commsActStatus.Connected);

    link.Unplug();
    hid.LoopIteration();
    EXPECT_FALSE(registry.commsActStatus.Connected);
    EXPECT_EQ(processor.frames, 1);

    link.Replug();
    hid.LoopIteration();  // reopens; the frame comes next time
    EXPECT_EQ(processor.frames, 1);
    hid.LoopIteration();
    EXPECT_EQ(processor.frames, 2);
    EXPECT_TRUE(registry.commsActStatus.Connected);
    EXPECT_EQ(link.OpenHandles(), 1);
}

// A controller must tell a driver without its board from no driver at all.
TEST_F(MainLoop, WithoutBoardOnlyTheHeartbeatAndADisconnectedStatusGoOutEveryTwoSeconds) {
    link.Unplug();
    Start(64);
    transport.frames.clear();
    const int beats = Heartbeat();
    for (int i = 0; i < 5; ++i) {
        registry.MarkPeerHeard();
        hid.LoopIteration();  // 4 s each
    }
    EXPECT_EQ(processor.frames, 0);
    EXPECT_EQ(hid.Loop().lastTick, 0);
    EXPECT_EQ(Heartbeat() - beats, 10);
    EXPECT_EQ(transport.Count(registry.driverDoHeartBeat), 10);
    EXPECT_EQ(transport.Count(registry.commsActStatus), 10);
    EXPECT_EQ(transport.frames.size(), 20u);
    EXPECT_FALSE(registry.commsActStatus.Connected);
    EXPECT_EQ(link.OpenCalls(), 8 + 5 * 8);
}

TEST_F(MainLoop, WithoutBoardAStopRequestEndsTheLoopAtTheNextRetry) {
    link.Unplug();
    Start(64);
    const int opens = link.OpenCalls();
    controller.RaiseInto(registry, "Driver", "DoStop");
    hid.LoopIteration();
    EXPECT_FALSE(hid.Running());
    EXPECT_EQ(link.OpenCalls(), opens + 1);
}

TEST_F(MainLoop, StopAndSaveAreServedWhileTheFirstConnectWaitsAndTheRunNeverStarts) {
    link.Unplug();
    hid.BuildEngine(calibration);
    registry.commsReqState.MuxSize = 64;
    controller.RaiseInto(registry, "Store", "DoSave");
    controller.RaiseInto(registry, "Driver", "DoStop");
    hid.Connect();
    EXPECT_EQ(link.OpenCalls(), 1);
    EXPECT_EQ(clock.Slept(), kOpenRetryMs);
    EXPECT_EQ(settings.saves, 1);

    link.Replug();  // even with a board now, nothing more happens
    hid.Run();
    EXPECT_FALSE(hid.Running());
    EXPECT_EQ(link.OpenCalls(), 1);
    EXPECT_EQ(link.Reads(), 0);
    EXPECT_EQ(processor.frames, 0);
}

TEST_F(MainLoop, WithoutBoardASaveRequestIsServedOnce) {
    link.Unplug();
    Start(64);
    controller.RaiseInto(registry, "Store", "DoSave");
    hid.LoopIteration();
    hid.LoopIteration();
    EXPECT_EQ(settings.saves, 1);
    EXPECT_TRUE(hid.Running());
}

TEST_F(MainLoop, ALostBoardPublishesADisconnectedStatusWhileAbsentAndTheLiveOneAfterItIsBack) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    registry.MarkPeerHeard();
    hid.LoopIteration();
    TickedIteration();  // the first task publishes a connected status
    ASSERT_TRUE(registry.commsActStatus.Connected);
    ASSERT_GT(registry.commsActStatus.FramesLastPeriod, 0);

    const int32_t status = registry.commsActStatus.Address();
    auto statusesSent = [&] {
        std::vector<test::Bytes> statuses;
        for (const test::Bytes& frame : transport.frames) {
            if (wire::GetInt(frame.data() + wire::kOffAddress) == status) {
                statuses.push_back(frame);
            }
        }
        transport.frames.clear();
        return statuses;
    };
    // What a controller sees: the frame delivered into its own registry.
    auto seen = [&](const test::Bytes& frame) -> const CommsStatus& {
        controller.registry.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        return controller.registry.commsActStatus;
    };

    transport.frames.clear();
    link.Unplug();
    for (int i = 0; i < 3; ++i) {
        registry.MarkPeerHeard();
        hid.LoopIteration();
    }
    auto lost = statusesSent();
    ASSERT_GE(lost.size(), 5u);  // at the loss, then every 2 s of the 12
    for (const test::Bytes& frame : lost) {
        EXPECT_FALSE(seen(frame).Connected);
        EXPECT_EQ(seen(frame).FramesLastPeriod, 0);
        EXPECT_EQ(seen(frame).StatusWidth, 64);
    }

    link.Replug();
    registry.MarkPeerHeard();
    hid.LoopIteration();  // reopens
    TickedIteration();
    TickedIteration();
    auto back = statusesSent();
    ASSERT_FALSE(back.empty());
    EXPECT_TRUE(seen(back.back()).Connected);
    EXPECT_GT(seen(back.back()).FramesLastPeriod, 0);
}

// --- commands -----------------------------------------------------------------------------

TEST_F(MainLoop, ThreeSavesBetweenTwoIterationsWriteOnce) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    hid.LoopIteration();
    for (int i = 0; i < 3; ++i) {
        controller.RaiseInto(registry, "Store", "DoSave");
    }
    hid.LoopIteration();
    EXPECT_EQ(settings.saves, 1);
    hid.LoopIteration();
    EXPECT_EQ(settings.saves, 1);
    controller.RaiseInto(registry, "Store", "DoSave");
    hid.LoopIteration();
    EXPECT_EQ(settings.saves, 2);
}

TEST_F(MainLoop, ASaveThatArrivedBeforeTheStopIsServedBeforeTheLoopEnds) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    hid.LoopIteration();
    // While the first save writes, the next save and then a stop arrive, in that order (the
    // first run: the model, its save, the stop): the loop has looked for saves already.
    settings.onSave = [this] {
        settings.onSave = nullptr;
        controller.RaiseInto(registry, "Store", "DoSave");
        controller.RaiseInto(registry, "Driver", "DoStop");
    };
    controller.RaiseInto(registry, "Store", "DoSave");
    hid.LoopIteration();
    EXPECT_FALSE(hid.Running());
    EXPECT_EQ(settings.saves, 2);
}

TEST_F(MainLoop, StopEndsTheLoopBeforeAMuxChangeIsTaken) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    hid.LoopIteration();
    registry.commsReqState.MuxSize = 20;
    controller.RaiseInto(registry, "Driver", "DoStop");
    hid.LoopIteration();
    EXPECT_FALSE(hid.Running());
    EXPECT_EQ(hid.MuxSize(), 64);
}

TEST_F(MainLoop, RunReturnsAfterAStopRequest) {
    Start(64);
    link.StreamReport(Counting(0), 5);
    controller.RaiseInto(registry, "Driver", "DoStop");
    hid.Run();
    EXPECT_FALSE(hid.Running());
    EXPECT_EQ(processor.frames, 1);
}

TEST_F(MainLoop, AMuxChangeAppliesFromTheNextIteration) {
    Start(64);
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    registry.commsReqState.MuxSize = 20;
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    EXPECT_EQ(processor.lastMux, 64);
    EXPECT_EQ(hid.MuxSize(), 20);
    link.QueueReport(Counting(0));
    hid.LoopIteration();
    EXPECT_EQ(processor.lastMux, 20);
    EXPECT_EQ(processor.lastSamples[0], 11);
}

// --- ticks and the two-second task --------------------------------------------------------

TEST_F(MainLoop, TheFirstTickSetsPhaseOneAndTheSecondRunsTheTask) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    EXPECT_EQ(hid.Loop().tickPhase, 1);
    EXPECT_EQ(hid.Loop().lastTick, clock.NowMs());
    EXPECT_EQ(processor.maintenance, 0);
    clock.Advance(kTickMs);  // exactly a second: no tick
    hid.LoopIteration();
    EXPECT_EQ(hid.Loop().tickPhase, 1);
    clock.Advance(1);
    hid.LoopIteration();
    EXPECT_EQ(hid.Loop().tickPhase, 0);
    EXPECT_EQ(processor.maintenance, 1);
    EXPECT_EQ(Heartbeat(), 1);
    EXPECT_EQ(hid.Loop().framesLastPeriod, 3);
    EXPECT_EQ(hid.Loop().framesThisPeriod, 0);
}

TEST_F(MainLoop, HeartbeatRuns0To254AndWrapsAfter255Tasks) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    const int start = Heartbeat();
    for (int task = 1; task <= 255; ++task) {
        TickedIteration();
        TickedIteration();
        ASSERT_GE(Heartbeat(), 0);
        ASSERT_LE(Heartbeat(), 254);
        if (task < 255) {
            ASSERT_NE(Heartbeat(), start) << task;
        }
    }
    EXPECT_EQ(Heartbeat(), start);
    EXPECT_EQ(registry.driverDoHeartBeat.header.eventValid, 0);
}

TEST_F(MainLoop, AHeartbeatSetFromOutsideComesBackIntoRange) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    registry.driverDoHeartBeat.header.sequence = -7;
    TickedIteration();
    EXPECT_EQ(Heartbeat(), 249);
}

TEST_F(MainLoop, FourHundredFramesGiveGestureLimits21And30) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    TickedIteration();  // the first task
    for (int i = 0; i < 398; ++i) {
        hid.LoopIteration();
    }
    TickedIteration();
    TickedIteration();  // frames 399 and 400, then the task
    EXPECT_EQ(hid.Loop().framesLastPeriod, 400);
    EXPECT_EQ(registry.commsActStatus.FramesLastPeriod, 400);
    EXPECT_EQ(processor.firstLimit, 21);
    EXPECT_EQ(processor.secondLimit, 30);
}

TEST_F(MainLoop, TheTaskPublishesHeartbeatAlwaysAndStatusOnlyWhenItChanges) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    const int32_t heartbeat = registry.driverDoHeartBeat.Address();
    const int32_t status = registry.commsActStatus.Address();
    auto task = [&] {
        registry.MarkPeerHeard();
        transport.frames.clear();
        TickedIteration();
        TickedIteration();
        return transport.Addresses();
    };
    registry.MarkPeerHeard();
    TickedIteration();  // first task: width 0 -> 64, frames 2
    EXPECT_EQ(registry.commsActStatus.StatusWidth, 64);
    EXPECT_EQ(task(), (std::vector<int32_t>{heartbeat}));  // two frames again: unchanged
    hid.LoopIteration();
    EXPECT_EQ(task(), (std::vector<int32_t>{heartbeat, status}));  // three frames
}

TEST_F(MainLoop, AReloadRequestIsServedByTheTask) {
    Start(64);
    link.StreamReport(Counting(0), 0);
    hid.LoopIteration();
    controller.RaiseInto(registry, "Store", "DoLoad");
    hid.LoopIteration();
    EXPECT_EQ(settings.loads, 1);  // the start-up read only
    TickedIteration();
    EXPECT_EQ(settings.loads, 2);
    // The references read may differ: the mapping is built from them again.
    EXPECT_EQ(calibration.computed, 2);
    TickedIteration();
    TickedIteration();
    EXPECT_EQ(settings.loads, 2);
    EXPECT_EQ(calibration.computed, 2);
}

}  // namespace
}  // namespace kv
