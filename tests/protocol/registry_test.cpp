// The registry: the fixed table and its addresses, delivery by address, the two event
// styles, the driver's liveness rule and publish-all.
#include <gtest/gtest.h>

#include <string>

#include "protocol/registry.h"
#include "protocol/sensor_layout.h"
#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/logged_registry.h"

namespace kv {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::FakeClock;
using test::FrameLog;
using test::HeaderWords;

struct Row {
    const char* kind;
    const char* object;
    const char* topic;
    int32_t payload;
    int32_t tag;
    bool settable;
    int32_t address;
    DataManipulation* (*member)(Registry&);
};

#define KV_MEMBER(name) [](Registry& r) -> DataManipulation* { return &r.name; }

// The table as the protocol defines it; every address is fixed by it.
const Row kTable[] = {
    {"EVENT", "Driver", "DoStop", 0, 0, true, 8, KV_MEMBER(driverDoStop)},
    {"EVENT", "Driver", "DoReset", 0, 0, true, 84, KV_MEMBER(driverDoReset)},
    {"EVENT", "Driver", "DoHeartBeat", 0, 0, false, 160, KV_MEMBER(driverDoHeartBeat)},
    {"OBJECT", "Driver", "Config", 11, 1, false, 236, KV_MEMBER(driverConfig)},
    {"OBJECT", "Driver", "State", 5, 0, false, 323, KV_MEMBER(driverState)},
    {"EVENT", "Store", "DoSave", 0, 0, true, 404, KV_MEMBER(storeDoSave)},
    {"EVENT", "Store", "DoLoad", 0, 0, true, 480, KV_MEMBER(storeDoLoad)},
    {"OBJECT", "Store", "State", 5, 1, false, 556, KV_MEMBER(storeState)},
    {"EVENT", "Log", "DoStop", 0, 0, true, 637, KV_MEMBER(logDoStop)},
    {"EVENT", "Log", "DoRecord", 0, 0, true, 713, KV_MEMBER(logDoRecord)},
    {"EVENT", "Log", "DoPlay", 0, 0, true, 789, KV_MEMBER(logDoPlay)},
    {"OBJECT", "Log", "State", 8, 1, false, 865, KV_MEMBER(logState)},
    {"OBJECT", "Comms", "ReqState", 21, 1, true, 949, KV_MEMBER(commsReqState)},
    {"OBJECT", "Comms", "ActState", 21, 1, false, 1046, KV_MEMBER(commsActState)},
    {"OBJECT", "Comms", "ActStatus", 97, 1, false, 1143, KV_MEMBER(commsActStatus)},
    {"OBJECT", "Graph", "State0", 1036, 1, false, 1316, KV_MEMBER(graphState0)},
    {"OBJECT", "Graph", "State1", 1036, 1, false, 2428, KV_MEMBER(graphState1)},
    {"OBJECT", "Graph", "State2", 1036, 1, false, 3540, KV_MEMBER(graphState2)},
    {"OBJECT", "Graph", "State3", 1036, 1, false, 4652, KV_MEMBER(graphState3)},
    {"OBJECT", "Split", "State", 24, 1, false, 5764, KV_MEMBER(splitState)},
    {"OBJECT", "Sense", "State", 17, 1, true, 5864, KV_MEMBER(senseState)},
    {"OBJECT", "Sense", "Status", 8, 1, false, 5957, KV_MEMBER(senseStatus)},
    {"EVENT", "Calib", "DoStart", 0, 0, true, 6041, KV_MEMBER(calibDoStart)},
    {"EVENT", "Calib", "DoStartPlus", 0, 0, true, 6117, KV_MEMBER(calibDoStartPlus)},
    {"EVENT", "Calib", "DoStop", 0, 0, true, 6193, KV_MEMBER(calibDoStop)},
    {"EVENT", "Calib", "DoComplete", 0, 0, false, 6269, KV_MEMBER(calibDoComplete)},
    {"OBJECT", "Calib", "State", 37, 1, false, 6345, KV_MEMBER(calibState)},
    {"OBJECT", "Calib", "Ref_TL", 27, 1, false, 6458, KV_MEMBER(calibRefTL)},
    {"OBJECT", "Calib", "Ref_TR", 27, 1, false, 6561, KV_MEMBER(calibRefTR)},
    {"OBJECT", "Calib", "Ref_BL", 27, 1, false, 6664, KV_MEMBER(calibRefBL)},
    {"OBJECT", "Edge", "State", 20, 1, true, 6767, KV_MEMBER(edgeState)},
    {"OBJECT", "Output", "State", 14, 1, true, 6863, KV_MEMBER(outputState)},
    {"OBJECT", "Output", "Pointer", 12, 1, true, 6953, KV_MEMBER(outputPointer)},
    {"OBJECT", "Mouse", "Damp", 24, 1, true, 7041, KV_MEMBER(mouseDamp)},
    {"QUEUE", "Monitor", "Queue", 11520, 1, false, 7141, KV_MEMBER(monitorQueue)},
    {"OBJECT", "Copyright", "State", 1004, 1, false, 18737, KV_MEMBER(copyrightState)},
    {"OBJECT", "Client", "client", 5, 1, false, 19817, KV_MEMBER(clientClient)},
    {"END", "", "", 0, 0, false, 19898, KV_MEMBER(endMarker)},
};

#undef KV_MEMBER

static_assert(std::size(kTable) == 38);

class RegistryTable : public ::testing::TestWithParam<ProgramRole> {};

TEST_P(RegistryTable, MatchesTheProtocolTable) {
    FakeClock clock;
    Registry registry(GetParam(), clock);
    ASSERT_EQ(registry.Table().size(), std::size(kTable));
    for (size_t i = 0; i < std::size(kTable); ++i) {
        const Row& row = kTable[i];
        const TableEntry& entry = registry.Table()[i];
        SCOPED_TRACE(std::to_string(i + 1) + " " + row.object + " " + row.topic);
        EXPECT_EQ(entry.kind, row.kind);
        EXPECT_EQ(entry.object, row.object);
        EXPECT_EQ(entry.topic, row.topic);
        EXPECT_EQ(entry.tag, row.tag);
        EXPECT_EQ(entry.payloadPreset, i == 4 ? 5 : 0);
        EXPECT_EQ(entry.address, row.address);
        EXPECT_EQ(entry.record, row.member(registry));

        DataManipulation& rec = *row.member(registry);
        EXPECT_EQ(rec.PayloadSize(), row.payload);
        EXPECT_EQ(rec.FrameSize(), row.payload + 91);
        EXPECT_EQ(rec.Address(), row.address);
        EXPECT_EQ(rec.Registration().address, row.address);
        EXPECT_EQ(rec.Registration().record, &rec);
        EXPECT_EQ(rec.header.kind.View(), row.kind);
        EXPECT_EQ(rec.header.object.View(), row.object);
        EXPECT_EQ(rec.header.topic.View(), row.topic);
        EXPECT_EQ(rec.header.tag, row.tag);
        EXPECT_EQ(rec.header.settable, row.settable);
        EXPECT_EQ(rec.header.payloadSize, i == 4 ? 5 : 0);
        EXPECT_EQ(rec.header.eventValid, 0);
        EXPECT_EQ(rec.header.sequence, 0);
        EXPECT_EQ(rec.header.spare, 0);
        EXPECT_EQ(rec.header.remainingLength, 0);

        EXPECT_EQ(registry.FindByAddress(row.address), &entry);
        EXPECT_EQ(registry.Find(row.object, row.topic), &entry);
    }
}

// The address rule: each address is the previous one plus that record's payload + 76.
TEST_P(RegistryTable, AddressesFollowFromPayloadSizes) {
    FakeClock clock;
    Registry registry(GetParam(), clock);
    int32_t address = 8;
    for (const TableEntry& entry : registry.Table()) {
        EXPECT_EQ(entry.address, address) << entry.object << " " << entry.topic;
        address += entry.record->PayloadSize() + 76;
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, RegistryTable,
                         ::testing::Values(ProgramRole::Driver, ProgramRole::Controller));

TEST(RegistryRoles, SenderAndVersion) {
    FakeClock clock;
    Registry driver(ProgramRole::Driver, clock);
    Registry controller(ProgramRole::Controller, clock);
    EXPECT_EQ(driver.SenderId(), 5555);
    EXPECT_EQ(controller.SenderId(), 1234);
    EXPECT_STREQ(driver.Version(), "10.3.0");
    EXPECT_STREQ(controller.Version(), "10.3.2");
}

TEST(RegistryRoles, UnregisteredSetValueIsInNoEntry) {
    FakeClock clock;
    Registry registry(ProgramRole::Driver, clock);
    for (const TableEntry& entry : registry.Table()) {
        EXPECT_NE(entry.record, &registry.unregistered);
    }
    EXPECT_EQ(registry.unregistered.Address(), 0);
    EXPECT_EQ(registry.FindByAddress(0), nullptr);
    // A frame addressed 0 reaches nothing.
    HeaderWords h;
    h.address = 0;
    h.eventValid = 1;
    h.sequence = 1;
    const Bytes frame = test::FrameHead(h).Get();
    EXPECT_EQ(registry.Deliver(frame.data(), 0, 91).record, nullptr);
    EXPECT_EQ(registry.unregistered.header.eventValid, 0);
    EXPECT_EQ(registry.unregistered.arrival, 0);
}

// Delivery and events, with the two programs' registries side by side.
class RegistryLink : public ::testing::Test {
protected:
    RegistryLink()
        : driver(ProgramRole::Driver, clock),
          controller(ProgramRole::Controller, clock),
          toController(&clock),
          toDriver(&clock) {
        driver.SetTransport(&toController);
        controller.SetTransport(&toDriver);
    }

    // Hands every datagram the transport holds to the registry, then forgets them.
    static void Flush(FrameLog& transport, Registry& to) {
        for (const Bytes& frame : transport.frames) {
            to.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        }
        transport.frames.clear();
        transport.times.clear();
    }

    // Every record's frame as the registry would send it now.
    static std::vector<Bytes> Snapshot(Registry& registry) {
        std::vector<Bytes> frames;
        for (const Row& row : kTable) {
            DataManipulation& rec = *row.member(registry);
            Bytes frame(static_cast<size_t>(rec.FrameSize()));
            rec.WriteFrame(frame.data(), registry.SenderId());
            frames.push_back(std::move(frame));
        }
        return frames;
    }

    FakeClock clock;
    Registry driver;
    Registry controller;
    FrameLog toController;
    FrameLog toDriver;
};

TEST_F(RegistryLink, DeliverChangesOnlyTheAddressedRecord) {
    controller.senseState.CoarseRange = 33;
    controller.senseState.Send();
    const std::vector<Bytes> before = Snapshot(driver);
    Flush(toDriver, driver);
    const std::vector<Bytes> after = Snapshot(driver);
    EXPECT_EQ(driver.senseState.CoarseRange, 33);
    for (size_t i = 0; i < before.size(); ++i) {
        if (kTable[i].address != 5864) {
            EXPECT_EQ(after[i], before[i]) << kTable[i].object << " " << kTable[i].topic;
        }
    }
}

TEST_F(RegistryLink, UnknownAddressChangesNothing) {
    controller.senseState.CoarseRange = 33;
    Bytes frame(static_cast<size_t>(controller.senseState.FrameSize()));
    controller.senseState.WriteFrame(frame.data(), controller.SenderId());
    frame[11] = 9;  // between the addresses 8 and 84
    frame[12] = 0;
    const std::vector<Bytes> before = Snapshot(driver);
    const DeliverResult result =
        driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(result.record, nullptr);
    EXPECT_FALSE(result.parsed);
    EXPECT_EQ(Snapshot(driver), before);
    EXPECT_EQ(driver.driverDoStop.arrival, 0);
    EXPECT_EQ(driver.driverDoStop.Cursor(), 0);
}

// The address, not the names in the header, selects the record.
TEST_F(RegistryLink, AddressWinsOverHeaderNames) {
    HeaderWords h;
    h.address = 404;  // Store DoSave
    h.object = "Driver";
    h.topic = "DoStop";
    h.eventValid = 1;
    h.sequence = 1;
    const Bytes frame = test::FrameHead(h).Get();
    EXPECT_EQ(driver.Deliver(frame.data(), 0, 91).record, &driver.storeDoSave);
    EXPECT_TRUE(driver.storeDoSave.ConsumeCounted());
    EXPECT_FALSE(driver.driverDoStop.ConsumeCounted());
    EXPECT_EQ(driver.storeDoSave.header.object.View(), "Driver");
}

TEST_F(RegistryLink, CountedEventSameSequenceTwiceActsOnce) {
    controller.storeDoSave.RaiseCounted();
    ASSERT_EQ(toDriver.frames.size(), 1u);
    const Bytes frame = toDriver.frames[0];
    driver.Deliver(frame.data(), 0, 91);
    EXPECT_TRUE(driver.storeDoSave.ConsumeCounted());
    EXPECT_FALSE(driver.storeDoSave.ConsumeCounted());
    driver.Deliver(frame.data(), 0, 91);
    EXPECT_FALSE(driver.storeDoSave.ConsumeCounted());

    controller.storeDoSave.RaiseCounted();
    Flush(toDriver, driver);
    EXPECT_EQ(driver.storeDoSave.header.sequence, 2);
    EXPECT_TRUE(driver.storeDoSave.ConsumeCounted());
}

TEST_F(RegistryLink, CountedEventRaisedThreeTimesBetweenLooksActsOnce) {
    EXPECT_FALSE(driver.driverDoStop.ConsumeCounted());
    for (int i = 0; i < 3; ++i) {
        controller.driverDoStop.RaiseCounted();
    }
    ASSERT_EQ(toDriver.frames.size(), 3u);
    Flush(toDriver, driver);
    EXPECT_EQ(driver.driverDoStop.header.sequence, 3);
    EXPECT_TRUE(driver.driverDoStop.ConsumeCounted());
    EXPECT_FALSE(driver.driverDoStop.ConsumeCounted());
}

// The heartbeat style: a new sequence with event valid 0 is not an event to act on.
TEST_F(RegistryLink, CountedEventNeedsEventValid) {
    HeaderWords h;
    h.address = 160;
    h.topic = "DoHeartBeat";
    h.sequence = 12;
    const Bytes frame = test::FrameHead(h).Get();
    controller.Deliver(frame.data(), 0, 91);
    EXPECT_EQ(controller.driverDoHeartBeat.header.sequence, 12);
    EXPECT_FALSE(controller.driverDoHeartBeat.ConsumeCounted());
}

TEST_F(RegistryLink, AcknowledgedEventIsClearedAndEchoed) {
    driver.MarkPeerHeard();
    controller.calibDoStart.RaiseAcknowledged();
    ASSERT_EQ(toDriver.frames.size(), 1u);
    EXPECT_EQ(toDriver.frames[0][79], 1);
    Flush(toDriver, driver);

    EXPECT_TRUE(driver.calibDoStart.ConsumeAcknowledged());
    EXPECT_EQ(driver.calibDoStart.header.eventValid, 0);
    ASSERT_EQ(toController.frames.size(), 1u);
    HeaderWords echo;
    echo.sender = 5555;
    echo.address = 6041;
    echo.object = "Calib";
    echo.topic = "DoStart";
    echo.settable = true;
    echo.eventValid = 0;
    EXPECT_EQ(toController.frames[0], test::FrameHead(echo).Get());
    EXPECT_FALSE(driver.calibDoStart.ConsumeAcknowledged());
    EXPECT_EQ(toController.frames.size(), 1u);

    // The controller sees its event acknowledged.
    controller.calibDoStart.header.eventValid = 1;
    Flush(toController, controller);
    EXPECT_EQ(controller.calibDoStart.header.eventValid, 0);
}

TEST_F(RegistryLink, CalibCompleteTravelsFromDriverToController) {
    driver.MarkPeerHeard();
    driver.calibDoComplete.RaiseAcknowledged();
    Flush(toController, controller);
    EXPECT_TRUE(controller.calibDoComplete.ConsumeAcknowledged());
    ASSERT_EQ(toDriver.frames.size(), 1u);
    EXPECT_EQ(toDriver.frames[0][79], 0);
    Flush(toDriver, driver);
    EXPECT_EQ(driver.calibDoComplete.header.eventValid, 0);
}

TEST_F(RegistryLink, LastHeardStartsFiftySecondsAgo) {
    EXPECT_EQ(driver.LastHeard(), clock.NowMs() - 50000);
    EXPECT_EQ(controller.LastHeard(), clock.NowMs() - 50000);
    EXPECT_EQ(driver.SilenceMs(), 50000);
}

TEST_F(RegistryLink, DriverPublishSendsOnlyWhileThePeerIsHeard) {
    // Silent from the start: nothing goes out and the silence is returned.
    EXPECT_EQ(driver.senseStatus.Publish(), 50000);
    EXPECT_TRUE(toController.frames.empty());

    driver.MarkPeerHeard();
    clock.Advance(4999);
    EXPECT_EQ(driver.senseStatus.Publish(), 0);
    EXPECT_EQ(toController.frames.size(), 1u);

    clock.Advance(1);
    EXPECT_EQ(driver.senseStatus.Publish(), 5000);
    EXPECT_EQ(driver.driverDoHeartBeat.Publish(), 5000);
    EXPECT_EQ(toController.frames.size(), 1u);

    driver.MarkPeerHeard();
    EXPECT_EQ(driver.senseStatus.Publish(), 0);
    EXPECT_EQ(toController.frames.size(), 2u);
}

TEST_F(RegistryLink, ControllerAlwaysSends) {
    EXPECT_EQ(controller.clientClient.Publish(), 0);
    clock.Advance(1'000'000);
    EXPECT_EQ(controller.storeDoSave.Publish(), 0);
    EXPECT_EQ(toDriver.frames.size(), 2u);
}

TEST_F(RegistryLink, ClientHereMessageStampsLiveness) {
    controller.clientClient.Reset();
    controller.clientClient.Publish();
    ASSERT_EQ(toDriver.frames.size(), 1u);
    Bytes frame = toDriver.frames[0];

    clock.Advance(70000);
    driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(driver.LastHeard(), clock.NowMs());
    EXPECT_EQ(driver.senseStatus.Publish(), 0);

    // An invalid header is not a successful parse and stamps nothing.
    clock.Advance(6000);
    frame[15] = frame[16] = frame[17] = frame[18] = 0;
    EXPECT_FALSE(driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size())).parsed);
    EXPECT_EQ(driver.SilenceMs(), 6000);
}

TEST_F(RegistryLink, PublishAllSendsTheTableThirtyMillisecondsApart) {
    const int64_t start = clock.NowMs();
    driver.PublishAll();
    ASSERT_EQ(toController.frames.size(), 38u);
    for (size_t i = 0; i < 38; ++i) {
        const Bytes& frame = toController.frames[i];
        SCOPED_TRACE(kTable[i].object + std::string(" ") + kTable[i].topic);
        ASSERT_EQ(frame.size(), static_cast<size_t>(kTable[i].payload + 91));
        EXPECT_EQ(ByteBuilder().Int(kTable[i].address).Get(),
                  Bytes(frame.begin() + 11, frame.begin() + 15));
        EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 7), (Bytes{0xB3, 0x15, 0, 0}));
        EXPECT_EQ(toController.times[i], start + 30 * static_cast<int64_t>(i));
    }
    EXPECT_EQ(clock.Sleeps(), std::vector<int>(38, 30));
}

TEST_F(RegistryLink, EndMarkerGoesOutAsENDWithABCDNames) {
    driver.PublishAll();
    ASSERT_EQ(toController.frames.size(), 38u);
    const Bytes& frame = toController.frames.back();
    HeaderWords h;
    h.sender = 5555;
    h.address = 19898;
    h.kind = "END";
    h.object = "ABCD";
    h.topic = "ABCD";
    EXPECT_EQ(frame, test::FrameHead(h).Get());

    // The receiver stops after the kind.
    const DeliverResult result = controller.Deliver(frame.data(), 0, 91);
    EXPECT_EQ(result.record, &controller.endMarker);
    EXPECT_FALSE(result.parsed);
    EXPECT_EQ(controller.endMarker.header.object.View(), "");
    EXPECT_EQ(controller.endMarker.arrival, 0);
}

// Everything the driver publishes at once lands in the controller's matching records.
TEST_F(RegistryLink, PublishAllFillsThePeer) {
    driver.commsActStatus.FramesLastPeriod = 321;
    driver.graphState0.Values[100] = 7.5f;
    driver.calibRefBL.SY = 0.9f;
    driver.copyrightState.Lines[0] = "first";
    driver.PublishAll();
    Flush(toController, controller);
    EXPECT_EQ(controller.commsActStatus.FramesLastPeriod, 321);
    EXPECT_EQ(controller.graphState0.Values[100], 7.5f);
    EXPECT_EQ(controller.calibRefBL.SY, 0.9f);
    EXPECT_EQ(controller.copyrightState.Lines[0].View(), "first");
    EXPECT_EQ(controller.monitorQueue.last, 1);
    // The presence record among them stamps the controller's liveness clock as it is parsed.
    EXPECT_EQ(controller.LastHeard(), clock.NowMs());
}

// Every layout the Controller sends is taken as it sends it: the split, then the MuxSize, one
// model after another (so each split first meets the previous model's MuxSize), then every
// non-standard layout of the Advanced Setting dialog (X and Y of 8 to 80 electrodes).
TEST_F(RegistryLink, TheDriverTakesEveryLayoutTheControllerSends) {
    std::vector<SensorLayout> layouts;
    for (const SensorModel& model : kSensorModels) {
        layouts.push_back(model.layout);
    }
    for (int32_t x = 8; x <= 80; ++x) {
        for (int32_t y = 8; y <= 80; ++y) {
            if (IsReadableMuxSize(x + y)) {
                layouts.push_back({x / 2, y, 0, 0, 1, x + y});
            }
        }
    }
    for (const SensorLayout& layout : layouts) {
        SetLayout(controller, layout);
        controller.splitState.Send();
        controller.commsReqState.Send();
        Flush(toDriver, driver);
        ASSERT_TRUE(LayoutOf(driver) == layout)
            << layout.split0 << "/" << layout.split1 << "/" << layout.muxSize;
    }
}

TEST(RegistrySend, WithoutTransportNothingIsSent) {
    FakeClock clock;
    Registry registry(ProgramRole::Controller, clock);
    EXPECT_EQ(registry.senseState.Send(), 0);
    EXPECT_EQ(registry.senseState.Publish(), 0);
}

TEST(RegistrySend, SendReturnsTheTransportResult) {
    test::LoggedRegistry controller(ProgramRole::Controller);
    EXPECT_EQ(controller.registry.monitorQueue.Send(), 11611);
    EXPECT_EQ(controller.registry.driverDoStop.Send(), 91);
}

}  // namespace
}  // namespace kv
