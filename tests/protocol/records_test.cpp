// Every record class on the wire: payload bytes written and parsed, construction and Reset
// values. Expected bytes are built from the record layouts, field by field.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"

namespace kv {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::FakeClock;
using test::FrameLog;
using test::HeaderWords;
using test::ObjectHeader;

// The controller writes, the driver reads: the direction most settings travel. What the driver
// takes from no peer (its own state, a setting out of range) is read by another Controller's
// registry, the reader, which takes every record.
class RecordWire : public ::testing::Test {
protected:
    RecordWire() : controller(ProgramRole::Controller, clock), driver(ProgramRole::Driver, clock) {
        controller.SetTransport(&transport);
        driver.SetTransport(&transport);
        driver.MarkPeerHeard();
    }

    Bytes Sent(DataManipulation& record) {
        const size_t before = transport.frames.size();
        record.Send();
        EXPECT_EQ(transport.frames.size(), before + 1);
        return transport.frames.empty() ? Bytes{} : transport.frames.back();
    }

    // Delivers a frame into the registry of the expected record (the driver's or the
    // reader's); the record must be the addressed one.
    void Receive(const Bytes& frame, const DataManipulation& expected) {
        Registry& to = reader.IndexOf(expected) >= 0 ? reader : driver;
        const DeliverResult result =
            to.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        EXPECT_EQ(result.record, &expected);
        EXPECT_TRUE(result.parsed);
    }

    static Bytes Frame(const HeaderWords& h, const ByteBuilder& payload) {
        return test::FrameHead(h).Append(payload.Get()).Get();
    }

    FakeClock clock;
    FrameLog transport;
    Registry controller;
    Registry driver;
    Registry reader{ProgramRole::Controller, clock};
};

TEST_F(RecordWire, SetValueParsesTheEventWordsAndMarksArrival) {
    HeaderWords h;
    h.address = 480;
    h.object = "Store";
    h.topic = "DoLoad";
    h.settable = true;
    h.eventValid = 1;
    h.sequence = 7;
    h.tag = 3;
    h.spare = 9;
    ASSERT_EQ(driver.storeDoLoad.arrival, 0);
    Receive(test::FrameHead(h).Get(), driver.storeDoLoad);
    const RecordHeader& got = driver.storeDoLoad.header;
    EXPECT_EQ(got.remainingLength, 76);
    EXPECT_EQ(got.kind.View(), "EVENT");
    EXPECT_EQ(got.eventValid, 1);
    EXPECT_EQ(got.sequence, 7);
    EXPECT_EQ(got.tag, 3);
    EXPECT_EQ(got.spare, 9);
    EXPECT_TRUE(got.settable);
    EXPECT_NE(driver.storeDoLoad.arrival, 0);
}

TEST_F(RecordWire, SetValueResetForgetsTheLastHandledSequence) {
    SetValue& event = driver.storeDoSave;
    event.header.eventValid = 1;
    event.header.sequence = 4;
    ASSERT_TRUE(event.ConsumeCounted());
    ASSERT_FALSE(event.ConsumeCounted());
    event.Reset();
    EXPECT_TRUE(event.ConsumeCounted());
}

// The settable word: byte 75 is 1, and only an integer equal to 1 reads as settable.
TEST_F(RecordWire, SettableWordReadsTrueOnlyForOne) {
    HeaderWords h = ObjectHeader(6767, 20, "Edge", "State", 1, true);
    Bytes frame = Frame(h, ByteBuilder().Int(20).Int(1).Int(2).Int(3).Int(4));
    EXPECT_EQ(Bytes(frame.begin() + 75, frame.begin() + 79), (Bytes{1, 0, 0, 0}));
    Receive(frame, reader.edgeState);
    EXPECT_TRUE(reader.edgeState.header.settable);
    frame[76] = 1;  // 257: not 1
    Receive(frame, reader.edgeState);
    EXPECT_FALSE(reader.edgeState.header.settable);
}

TEST_F(RecordWire, DriverConfigWireOrderIsFlagsThenDelay) {
    DriverConfig& rec = controller.driverConfig;
    rec.RunFlag0 = true;
    rec.RunFlag1 = false;
    rec.start_at_boot = true;
    rec.Delay = 0x01020304;
    const HeaderWords h = ObjectHeader(236, 11, "Driver", "Config");
    EXPECT_EQ(Sent(rec),
              Frame(h, ByteBuilder().Int(11).Flag(true).Flag(false).Flag(true).Int(0x01020304)));

    Receive(Frame(h, ByteBuilder().Int(11).Flag(false).Flag(true).Flag(true).Int(250)),
            reader.driverConfig);
    EXPECT_EQ(reader.driverConfig.receivedPayloadSize, 11);
    EXPECT_FALSE(reader.driverConfig.RunFlag0);
    EXPECT_TRUE(reader.driverConfig.RunFlag1);
    EXPECT_TRUE(reader.driverConfig.start_at_boot);
    EXPECT_EQ(reader.driverConfig.Delay, 250);
}

TEST_F(RecordWire, DriverConfigReadsDelayOnlyWhenSevenBytesFollowTheSize) {
    const Bytes frame = Frame(ObjectHeader(236, 11, "Driver", "Config"),
                              ByteBuilder().Int(11).Flag(true).Flag(true).Flag(true).Int(99));
    reader.driverConfig.Delay = 5;
    // Six bytes after the size field: the flags arrive, Delay does not.
    reader.Deliver(frame.data(), 0, 91 + 4 + 6);
    EXPECT_TRUE(reader.driverConfig.RunFlag0);
    EXPECT_TRUE(reader.driverConfig.start_at_boot);
    EXPECT_EQ(reader.driverConfig.Delay, 0);
    reader.Deliver(frame.data(), 0, 91 + 4 + 7);
    EXPECT_EQ(reader.driverConfig.Delay, 99);
}

TEST_F(RecordWire, DriverConfigResetSetsDelayTwenty) {
    DriverConfig& rec = controller.driverConfig;
    rec.RunFlag1 = true;
    rec.Delay = 3;
    rec.Reset();
    EXPECT_EQ(rec.Delay, 20);
    EXPECT_TRUE(rec.RunFlag1);
}

TEST_F(RecordWire, DriverStateSendsAnyCharacterButZeroAsOne) {
    const HeaderWords h = ObjectHeader(323, 5, "Driver", "State", 0);
    EXPECT_EQ(controller.driverState.State, '0');
    EXPECT_EQ(Sent(controller.driverState), Frame(h, ByteBuilder().Int(5).Byte('0')));
    for (char c : {'x', '1', '\0', 'Z'}) {
        controller.driverState.State = c;
        EXPECT_EQ(Sent(controller.driverState), Frame(h, ByteBuilder().Int(5).Byte('1')))
            << "stored " << static_cast<int>(c);
    }
    // Read as the raw byte.
    Receive(Frame(h, ByteBuilder().Int(5).Byte('x')), reader.driverState);
    EXPECT_EQ(reader.driverState.State, 'x');
}

TEST_F(RecordWire, StoreStateAndLogState) {
    controller.storeState.State = true;
    EXPECT_EQ(Sent(controller.storeState),
              Frame(ObjectHeader(556, 5, "Store", "State"), ByteBuilder().Int(5).Flag(true)));
    controller.logState.State = -7;
    EXPECT_EQ(Sent(controller.logState),
              Frame(ObjectHeader(865, 8, "Log", "State"), ByteBuilder().Int(8).Int(-7)));

    reader.storeState.State = true;
    Receive(Frame(ObjectHeader(556, 5, "Store", "State"), ByteBuilder().Int(5).Byte('T')),
            reader.storeState);
    EXPECT_FALSE(reader.storeState.State);
    Receive(Frame(ObjectHeader(865, 8, "Log", "State"), ByteBuilder().Int(8).Int(123456)),
            reader.logState);
    EXPECT_EQ(reader.logState.State, 123456);
}

TEST_F(RecordWire, CommStateBothInstances) {
    CommState& req = controller.commsReqState;
    EXPECT_FALSE(req.Open);
    EXPECT_EQ(req.PortIndex, 0);
    EXPECT_EQ(req.BaudIndex, 1);
    EXPECT_EQ(req.SampleIndex, 5);
    EXPECT_EQ(req.MuxSize, 64);
    EXPECT_EQ(Sent(req), Frame(ObjectHeader(949, 21, "Comms", "ReqState", 1, true),
                               ByteBuilder().Int(21).Flag(false).Int(0).Int(1).Int(5).Int(64)));

    CommState& act = controller.commsActState;
    act.Open = true;
    act.PortIndex = 2;
    act.BaudIndex = 3;
    act.SampleIndex = 4;
    act.MuxSize = 192;
    EXPECT_EQ(Sent(act), Frame(ObjectHeader(1046, 21, "Comms", "ActState"),
                               ByteBuilder().Int(21).Flag(true).Int(2).Int(3).Int(4).Int(192)));

    Receive(Frame(ObjectHeader(949, 21, "Comms", "ReqState", 1, true),
                  ByteBuilder().Int(21).Flag(true).Int(6).Int(7).Int(8).Int(128)),
            driver.commsReqState);
    const CommState& got = driver.commsReqState;
    EXPECT_TRUE(got.Open);
    EXPECT_EQ(got.PortIndex, 6);
    EXPECT_EQ(got.BaudIndex, 7);
    EXPECT_EQ(got.SampleIndex, 8);
    EXPECT_EQ(got.MuxSize, 128);
    EXPECT_EQ(got.receivedPortIndex, 6);
    EXPECT_EQ(driver.commsActState.MuxSize, 64);  // the other instance is untouched
}

TEST_F(RecordWire, CommStateResetKeepsOpen) {
    CommState& rec = controller.commsReqState;
    rec.Open = true;
    rec.PortIndex = 9;
    rec.BaudIndex = 9;
    rec.SampleIndex = 9;
    rec.MuxSize = 9;
    rec.Reset();
    EXPECT_TRUE(rec.Open);
    EXPECT_EQ(rec.PortIndex, 0);
    EXPECT_EQ(rec.BaudIndex, 1);
    EXPECT_EQ(rec.SampleIndex, 5);
    EXPECT_EQ(rec.MuxSize, 64);
}

TEST_F(RecordWire, CommsStatusWritesAndParses) {
    CommsStatus& rec = driver.commsActStatus;
    EXPECT_EQ(rec.StatusText.View(), "");
    rec.StatusCode = 2;
    rec.Connected = true;
    rec.StatusWidth = 64;
    rec.FramesLastPeriod = 250;
    rec.Reset();
    EXPECT_EQ(rec.StatusText.View(), "Status : ");
    HeaderWords h = ObjectHeader(1143, 97, "Comms", "ActStatus");
    h.sender = 5555;
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(97).Int(2).Flag(true).Int(64).Int(250).Text(
                                      "Status : ", 80)));

    CommsStatus& got = controller.commsActStatus;
    controller.Deliver(transport.frames.back().data(), 0,
                       static_cast<int32_t>(transport.frames.back().size()));
    EXPECT_EQ(got.StatusCode, 2);
    EXPECT_TRUE(got.Connected);
    EXPECT_EQ(got.StatusWidth, 64);
    EXPECT_EQ(got.FramesLastPeriod, 250);
    EXPECT_EQ(got.StatusText.View(), "Status : ");
}

TEST_F(RecordWire, CommsStatusCutsANinetyCharacterLineToEighty) {
    std::string line;
    for (int i = 0; i < 90; ++i) {
        line.push_back(static_cast<char>('A' + i % 26));
    }
    controller.commsActStatus.StatusText = line;
    const Bytes frame = Sent(controller.commsActStatus);
    ASSERT_EQ(frame.size(), 91u + 97u);
    // The text field is the last 80 bytes: all characters, no terminator.
    EXPECT_EQ(std::string(frame.end() - 80, frame.end()), line.substr(0, 80));

    Receive(frame, reader.commsActStatus);
    EXPECT_EQ(reader.commsActStatus.StatusText.View(), line.substr(0, 80));
}

TEST_F(RecordWire, GraphCarriesTwoHundredFiftySixRawWords) {
    Graph& rec = controller.graphState1;
    rec.Param0 = 0x3FF;
    rec.Param1 = 128;
    ByteBuilder payload;
    payload.Int(1036).Int(0x3FF).Int(128);
    for (int i = 0; i < Graph::kValues; ++i) {
        rec.Values[static_cast<size_t>(i)] = static_cast<float>(i) * 0.5f - 64.0f;
    }
    // A NaN with a payload must travel as the same bit pattern.
    const uint32_t nanBits = 0x7FC12345;
    rec.Values[255] = std::bit_cast<float>(nanBits);
    for (int i = 0; i < 255; ++i) {
        payload.Real(static_cast<float>(i) * 0.5f - 64.0f);
    }
    payload.Int(static_cast<int32_t>(nanBits));
    const Bytes frame = Sent(rec);
    EXPECT_EQ(frame, Frame(ObjectHeader(2428, 1036, "Graph", "State1"), payload));

    Receive(frame, reader.graphState1);
    const Graph& got = reader.graphState1;
    EXPECT_EQ(got.Param0, 0x3FF);
    EXPECT_EQ(got.Param1, 128);
    for (int i = 0; i < 255; ++i) {
        EXPECT_EQ(got.Values[static_cast<size_t>(i)], static_cast<float>(i) * 0.5f - 64.0f);
    }
    EXPECT_EQ(std::bit_cast<uint32_t>(got.Values[255].Load()), nanBits);
    EXPECT_EQ(reader.graphState0.Param1, 0);  // the neighbouring graph is untouched
}

TEST_F(RecordWire, GraphResetClearsTheValuesOnly) {
    Graph& rec = controller.graphState3;
    rec.Param0 = 17;
    rec.Param1 = 100;
    rec.Values.fill(2.5f);
    rec.Reset();
    EXPECT_EQ(rec.Param0, 17);
    EXPECT_EQ(rec.Param1, 100);
    for (float v : rec.Values) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST_F(RecordWire, SplitWritesAndParses) {
    const HeaderWords h = ObjectHeader(5764, 24, "Split", "State");
    EXPECT_EQ(Sent(controller.splitState),
              Frame(h, ByteBuilder().Int(24).Int(12).Int(40).Int(0).Int(0).Int(1)));
    Receive(Frame(h, ByteBuilder().Int(24).Int(20).Int(44).Int(1).Int(-1).Int(0)),
            reader.splitState);
    EXPECT_EQ(reader.splitState.Split0, 20);
    EXPECT_EQ(reader.splitState.Split1, 44);
    EXPECT_EQ(reader.splitState.Flip0, 1);
    EXPECT_EQ(reader.splitState.Flip1, -1);
    EXPECT_EQ(reader.splitState.Flip2, 0);
}

TEST_F(RecordWire, SenceStateConstructionResetAndWire) {
    SenceState& rec = controller.senseState;
    const HeaderWords h = ObjectHeader(5864, 17, "Sense", "State", 1, true);
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(17).Int(11).Int(0).Int(5).Flag(false)));
    rec.Advanced = true;
    rec.Reset();
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(17).Int(20).Int(10).Int(20).Flag(false)));

    Receive(Frame(h, ByteBuilder().Int(17).Int(31).Int(12).Int(25).Flag(true)), driver.senseState);
    EXPECT_EQ(driver.senseState.CoarseRange, 31);
    EXPECT_EQ(driver.senseState.TouchThreshold, 12);
    EXPECT_EQ(driver.senseState.PressThreshold, 25);
    EXPECT_TRUE(driver.senseState.Advanced);
}

TEST_F(RecordWire, SenseStatusCarriesOneReal) {
    driver.senseStatus.Value = 12.75f;
    HeaderWords h = ObjectHeader(5957, 8, "Sense", "Status");
    h.sender = 5555;
    EXPECT_EQ(Sent(driver.senseStatus), Frame(h, ByteBuilder().Int(8).Real(12.75f)));
    controller.Deliver(transport.frames.back().data(), 0, 99);
    EXPECT_EQ(controller.senseStatus.Value, 12.75f);
}

TEST_F(RecordWire, CalibrationStateWritesAndParses) {
    const HeaderWords h = ObjectHeader(6345, 37, "Calib", "State");
    EXPECT_EQ(Sent(controller.calibState), Frame(h, ByteBuilder()
                                                        .Int(37)
                                                        .Int(0)
                                                        .Flag(false)
                                                        .Int(0)
                                                        .Int(0)
                                                        .Real(0.0f)
                                                        .Real(0.0f)
                                                        .Real(1.0f)
                                                        .Real(1.0f)
                                                        .Int(0)));
    Receive(Frame(h, ByteBuilder()
                         .Int(37)
                         .Int(1)
                         .Flag(true)
                         .Int(101)
                         .Int(3)
                         .Real(0.05f)
                         .Real(0.1f)
                         .Real(0.95f)
                         .Real(0.9f)
                         .Int(180)),
            reader.calibState);
    const CalibrationState& got = reader.calibState;
    EXPECT_EQ(got.exclude_edge_flag, 1);
    EXPECT_TRUE(got.Active);
    EXPECT_EQ(got.Progress, 101);
    EXPECT_EQ(got.Stage, 3);
    EXPECT_EQ(got.exclude_edge_left, 0.05f);
    EXPECT_EQ(got.exclude_edge_top, 0.1f);
    EXPECT_EQ(got.exclude_edge_right, 0.95f);
    EXPECT_EQ(got.exclude_edge_bottom, 0.9f);
    EXPECT_EQ(got.Angle, 180);
}

TEST_F(RecordWire, CalibrationDataAllThreeCorners) {
    CalibrationData* corners[] = {&controller.calibRefTL, &controller.calibRefTR,
                                  &controller.calibRefBL};
    const char* topics[] = {"Ref_TL", "Ref_TR", "Ref_BL"};
    const int32_t addresses[] = {6458, 6561, 6664};
    for (int i = 0; i < 3; ++i) {
        CalibrationData& rec = *corners[i];
        rec.RefFlag0 = true;
        rec.RefFlag1 = false;
        rec.RefFlag2 = true;
        rec.RefValue = 40 + i;
        rec.SA = 0.1f;
        rec.SB = 0.2f + static_cast<float>(i);
        rec.SX = 0.9f;
        rec.SY = -0.5f;
        const HeaderWords h = ObjectHeader(addresses[i], 27, "Calib", topics[i]);
        EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder()
                                          .Int(27)
                                          .Flag(true)
                                          .Flag(false)
                                          .Flag(true)
                                          .Int(40 + i)
                                          .Real(0.1f)
                                          .Real(0.2f + static_cast<float>(i))
                                          .Real(0.9f)
                                          .Real(-0.5f)));
    }
    Receive(transport.frames[1], reader.calibRefTR);
    EXPECT_TRUE(reader.calibRefTR.RefFlag0);
    EXPECT_FALSE(reader.calibRefTR.RefFlag1);
    EXPECT_TRUE(reader.calibRefTR.RefFlag2);
    EXPECT_EQ(reader.calibRefTR.RefValue, 41);
    EXPECT_EQ(reader.calibRefTR.SA, 0.1f);
    EXPECT_EQ(reader.calibRefTR.SB, 1.2f);
    EXPECT_EQ(reader.calibRefTR.SX, 0.9f);
    EXPECT_EQ(reader.calibRefTR.SY, -0.5f);
    EXPECT_EQ(reader.calibRefTL.RefValue, 0);
}

TEST_F(RecordWire, EdgeStateOrderIsTopLeftRightBottom) {
    EdgeState& rec = controller.edgeState;
    rec.Top = 1;
    rec.Left = 2;
    rec.Right = 3;
    rec.Bottom = 4;
    const HeaderWords h = ObjectHeader(6767, 20, "Edge", "State", 1, true);
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(20).Int(1).Int(2).Int(3).Int(4)));
    Receive(transport.frames.back(), driver.edgeState);
    EXPECT_EQ(driver.edgeState.Top, 1);
    EXPECT_EQ(driver.edgeState.Left, 2);
    EXPECT_EQ(driver.edgeState.Right, 3);
    EXPECT_EQ(driver.edgeState.Bottom, 4);
}

TEST_F(RecordWire, OutputStateWritesAndParses) {
    const HeaderWords h = ObjectHeader(6863, 14, "Output", "State", 1, true);
    EXPECT_EQ(Sent(controller.outputState),
              Frame(h, ByteBuilder().Int(14).Int(4).Int(0).Flag(false).Flag(false)));
    Receive(Frame(h, ByteBuilder().Int(14).Int(2).Int(3).Flag(true).Flag(true)),
            driver.outputState);
    EXPECT_EQ(driver.outputState.Mode, 2);
    EXPECT_EQ(driver.outputState.Selection, 3);
    EXPECT_TRUE(driver.outputState.Enable);
    EXPECT_TRUE(driver.outputState.Fake);
}

TEST_F(RecordWire, PointerSendsEightFlagsInOrder) {
    Pointer& rec = controller.outputPointer;
    const std::array<bool, 8> pattern{true, false, true, true, false, false, false, true};
    for (size_t i = 0; i < pattern.size(); ++i) {
        rec.Enable[i] = pattern[i];
    }
    const HeaderWords h = ObjectHeader(6953, 12, "Output", "Pointer", 1, true);
    const Bytes frame = Sent(rec);
    EXPECT_EQ(
        frame,
        Frame(h, ByteBuilder().Int(12).Append(Bytes{'1', '0', '1', '1', '0', '0', '0', '1'})));
    Receive(frame, driver.outputPointer);
    for (size_t i = 0; i < pattern.size(); ++i) {
        EXPECT_EQ(driver.outputPointer.Enable[i], pattern[i]) << i;
    }

    rec.Reset();
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(12).Append(Bytes(8, '1'))));
}

TEST_F(RecordWire, DampSettingsConstructionResetAndWire) {
    DampSettings& rec = controller.mouseDamp;
    const HeaderWords h = ObjectHeader(7041, 24, "Mouse", "Damp", 1, true);
    const Bytes defaults =
        Frame(h, ByteBuilder().Int(24).Real(0.1f).Real(0.02f).Real(0.2f).Real(0.07f).Real(2.0f));
    EXPECT_EQ(Sent(rec), defaults);
    rec.SnapRange = 0.5f;
    rec.DampRange = 0.5f;
    rec.DampPeriod = 0.5f;
    rec.RightClickRange = 0.5f;
    rec.RightClickPeriod = 0.5f;
    rec.Reset();
    EXPECT_EQ(Sent(rec), defaults);

    Receive(
        Frame(h, ByteBuilder().Int(24).Real(0.3f).Real(0.04f).Real(0.25f).Real(0.1f).Real(1.5f)),
        driver.mouseDamp);
    EXPECT_EQ(driver.mouseDamp.SnapRange, 0.3f);
    EXPECT_EQ(driver.mouseDamp.DampRange, 0.04f);
    EXPECT_EQ(driver.mouseDamp.DampPeriod, 0.25f);
    EXPECT_EQ(driver.mouseDamp.RightClickRange, 0.1f);
    EXPECT_EQ(driver.mouseDamp.RightClickPeriod, 1.5f);
}

MonitorEntry SampleEntry(int32_t seed) {
    MonitorEntry e;
    e.Value1 = seed;
    e.Value2 = 0.25f * static_cast<float>(seed);
    e.Value3 = true;
    e.Value4 = -seed;
    e.Value5 = 1000 + seed;
    e.Value6 = 0.5f;
    e.Value7 = -1.75f;
    e.Value8 = 2;
    e.Value9 = 1 << 20;
    e.Value10 = 3.5f;
    e.Value11 = 1e-3f;
    return e;
}

ByteBuilder EntryBytes(const MonitorEntry& e) {
    ByteBuilder b;
    b.Int(e.Value1).Real(e.Value2).Flag(e.Value3).Int(e.Value4).Int(e.Value5);
    b.Real(e.Value6).Real(e.Value7).Int(e.Value8).Int(e.Value9).Real(e.Value10).Real(e.Value11);
    return b;
}

void ExpectEntry(const MonitorEntry& got, const MonitorEntry& want) {
    EXPECT_EQ(got.Value1, want.Value1);
    EXPECT_EQ(got.Value2, want.Value2);
    EXPECT_EQ(got.Value3, want.Value3);
    EXPECT_EQ(got.Value4, want.Value4);
    EXPECT_EQ(got.Value5, want.Value5);
    EXPECT_EQ(got.Value6, want.Value6);
    EXPECT_EQ(got.Value7, want.Value7);
    EXPECT_EQ(got.Value8, want.Value8);
    EXPECT_EQ(got.Value9, want.Value9);
    EXPECT_EQ(got.Value10, want.Value10);
    EXPECT_EQ(got.Value11, want.Value11);
}

HeaderWords QueueHeader(int32_t tag) {
    HeaderWords h;
    h.sender = 5555;
    h.address = 7141;
    h.payloadSize = 11520;
    h.kind = "QUEUE";
    h.object = "Monitor";
    h.topic = "Queue";
    h.tag = tag;
    return h;
}

TEST_F(RecordWire, MonitorQueueSendsTheEntryNamedByTheTag) {
    MonitorQueue& rec = driver.monitorQueue;
    rec.entries[3] = SampleEntry(3);
    rec.entries[7] = SampleEntry(7);
    rec.header.tag = 7;
    const Bytes frame = Sent(rec);
    ASSERT_EQ(frame.size(), 11611u);
    ByteBuilder payload;
    payload.Int(11520).Int(7).Append(EntryBytes(SampleEntry(7)).Get());
    ASSERT_EQ(payload.Size(), 49u);
    payload.Zeros(11520 - 49);
    EXPECT_EQ(frame, Frame(QueueHeader(7), payload));
    EXPECT_EQ(rec.WritePayload(Bytes(11520).data()), 49);
}

TEST_F(RecordWire, MonitorQueuePutPointsTheTagAtTheNewEntry) {
    MonitorQueue& rec = driver.monitorQueue;
    rec.Put(1, SampleEntry(1));
    rec.Put(258, SampleEntry(2));  // slot 2: the queue wraps
    EXPECT_EQ(rec.header.tag, 2);
    const Bytes frame = Sent(rec);
    EXPECT_EQ(Bytes(frame.begin() + 91, frame.begin() + 140),
              ByteBuilder().Int(11520).Int(2).Append(EntryBytes(SampleEntry(2)).Get()).Get());
}

// The receiver ignores the index on the wire and appends after its own last entry.
TEST_F(RecordWire, MonitorQueueReceiverAppendsAfterItsLastSlot) {
    driver.monitorQueue.entries[7] = SampleEntry(7);
    driver.monitorQueue.header.tag = 7;
    const Bytes frame = Sent(driver.monitorQueue);

    MonitorQueue& got = controller.monitorQueue;
    got.last = 200;
    controller.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(got.last, 201);
    ExpectEntry(got.entries[201], SampleEntry(7));
    ExpectEntry(got.entries[7], MonitorEntry{});

    got.last = 255;
    controller.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(got.last, 0);
    ExpectEntry(got.entries[0], SampleEntry(7));
}

TEST_F(RecordWire, CopyRightTenthLineArrivesAsABCD) {
    CopyRight& rec = driver.copyrightState;
    rec.Reset();
    EXPECT_EQ(rec.Lines[0].View(), "\n");
    EXPECT_EQ(rec.Lines[1].View(), "Kelvarin Driver 10.3.0\n");
    EXPECT_FALSE(rec.Lines[2].View().empty());
    EXPECT_EQ(rec.Lines[9].View(), "");

    ByteBuilder payload;
    payload.Int(1004).Text("\n", 100).Text("Kelvarin Driver 10.3.0\n", 100);
    payload.Text(rec.Lines[2].View(), 100);
    for (int i = 3; i < 9; ++i) {
        payload.Text("\n", 100);
    }
    payload.Text("ABCD", 100);
    HeaderWords h = ObjectHeader(18737, 1004, "Copyright", "State");
    h.sender = 5555;
    const Bytes frame = Sent(rec);
    EXPECT_EQ(frame, Frame(h, payload));

    controller.copyrightState.Lines[9] = "stale";
    controller.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(controller.copyrightState.Lines[1].View(), "Kelvarin Driver 10.3.0\n");
    EXPECT_EQ(controller.copyrightState.Lines[9].View(), "ABCD");
}

TEST_F(RecordWire, CopyRightHundredCharacterLineHasNoTerminator) {
    const std::string longLine(100, 'w');
    controller.copyrightState.Lines[4] = longLine;
    const Bytes frame = Sent(controller.copyrightState);
    EXPECT_EQ(std::string(frame.begin() + 95 + 400, frame.begin() + 95 + 500), longLine);
    Receive(frame, reader.copyrightState);
    EXPECT_EQ(reader.copyrightState.Lines[4].View(), longLine);
    EXPECT_EQ(reader.copyrightState.Lines[5].View(), "\n");
}

TEST_F(RecordWire, ClientHereMessageCarriesPresent) {
    ClientHereMessage& rec = controller.clientClient;
    rec.Reset();
    EXPECT_TRUE(rec.Present);
    const HeaderWords h = ObjectHeader(19817, 5, "Client", "client");
    EXPECT_EQ(Sent(rec), Frame(h, ByteBuilder().Int(5).Flag(true)));
    Receive(transport.frames.back(), driver.clientClient);
    EXPECT_TRUE(driver.clientClient.Present);
}

// Classes whose Reset is documented to change nothing.
TEST_F(RecordWire, ResetLeavesStateRecordsAlone) {
    Registry& r = controller;
    r.driverState.State = 'x';
    r.storeState.State = true;
    r.logState.State = 3;
    r.splitState.Split0 = 1;
    r.edgeState.Top = 1;
    r.calibState.Progress = 50;
    r.calibRefBL.SA = 0.5f;
    r.outputState.Mode = 1;
    r.senseStatus.Value = 1.0f;
    r.monitorQueue.entries[1] = SampleEntry(1);
    r.monitorQueue.last = 1;
    DataManipulation* records[] = {&r.driverState, &r.storeState,  &r.logState,   &r.splitState,
                                   &r.edgeState,   &r.calibState,  &r.calibRefBL, &r.outputState,
                                   &r.senseStatus, &r.monitorQueue};
    for (DataManipulation* rec : records) {
        const Bytes before = Sent(*rec);
        rec->Reset();
        EXPECT_EQ(Sent(*rec), before)
            << rec->header.object.View() << " " << rec->header.topic.View();
    }
    EXPECT_EQ(r.monitorQueue.last, 1);
}

// A transport whose peer answers inside Send (a record published from within the send of
// another, on the same thread): each frame reaches the transport whole.
class AnsweringTransport final : public Transport {
public:
    explicit AnsweringTransport(DataManipulation& answer) : answer_(answer) {}
    int32_t Send(const uint8_t* bytes, size_t length) override {
        if (!answering_) {
            answering_ = true;
            answer_.Send();
            answering_ = false;
        }
        frames.emplace_back(bytes, bytes + length);  // copied after the answer was sent
        return static_cast<int32_t>(length);
    }
    std::vector<std::vector<uint8_t>> frames;

private:
    DataManipulation& answer_;
    bool answering_ = false;
};

TEST(RecordSend, AFrameSentFromInsideAnotherSendLeavesTheOuterFrameWhole) {
    Registry registry(ProgramRole::Controller);
    AnsweringTransport transport(registry.driverDoStop);
    registry.SetTransport(&transport);
    registry.commsActStatus.StatusText = "outer frame";
    registry.commsActStatus.FramesLastPeriod = 250;

    auto frameOf = [&](DataManipulation& record) {
        std::vector<uint8_t> frame(static_cast<size_t>(record.FrameSize()));
        record.WriteFrame(frame.data(), registry.SenderId());
        return frame;
    };
    registry.commsActStatus.Send();
    ASSERT_EQ(transport.frames.size(), 2u);
    EXPECT_EQ(transport.frames[0], frameOf(registry.driverDoStop));
    EXPECT_EQ(transport.frames[1], frameOf(registry.commsActStatus));
}

}  // namespace
}  // namespace kv
