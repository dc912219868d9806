// The driver's endpoint against a plain socket in the controller's place: hello, first
// contact, the hello answer, the liveness rule, a restarted controller and foreign sources;
// the records the receive thread fills while the main loop reads and publishes them.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"
#include "transport/network.h"

namespace kv::test {
namespace {

const Bytes kControllerHello = HelloBytes(wire::kSenderController);

class DriverEndpoint : public ::testing::Test {
protected:
    void SetUp() override {
        network = std::make_unique<Network>(
            driver, NetworkConfig{ProgramRole::Driver, 0, controller.Port()});
        ASSERT_TRUE(network->Ok()) << network->Error();
        port = network->LocalPort();
        network->SetRunning(true);
        network->SetReady();
        // Once its main loop is ready the driver announces itself to the controller's port.
        const auto hello = controller.Receive();
        ASSERT_TRUE(hello);
        EXPECT_EQ(*hello,
                  (Bytes{0x00, 0xFF, 0x02, 0xB3, 0x15, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}));
        EXPECT_FALSE(network->Connected());
    }

    // What the driver would send for each record right now, in table order.
    std::vector<Bytes> TableFrames() {
        std::vector<Bytes> frames;
        for (const TableEntry& entry : driver.Table()) {
            frames.push_back(FrameOf(*entry.record, driver));
        }
        return frames;
    }

    Bytes Presence() { return FrameOf(encoder.clientClient, encoder); }

    // The controller makes itself heard; the first-contact publish-all is drained.
    void Connect() {
        controller.SendTo(port, Presence());
        ASSERT_EQ(controller.ReceiveMany(Registry::kEntries).size(), size_t{Registry::kEntries});
        ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 1; }));
        ASSERT_TRUE(network->Connected());
    }

    FakeClock clock;
    Registry driver{ProgramRole::Driver, clock};
    Registry encoder{ProgramRole::Controller};  // builds what the controller sends
    UdpPeer controller;
    uint16_t port = 0;
    std::unique_ptr<Network> network;  // last, so it stops before the rest goes
};

TEST_F(DriverEndpoint, FirstContactPublishesEveryRecordBeforeHandlingTheDatagram) {
    const std::vector<Bytes> before = TableFrames();
    encoder.commsReqState.MuxSize = 32;
    controller.SendTo(port, FrameOf(encoder.commsReqState, encoder));

    // All 38 records, in table order, still carrying the value from before the datagram.
    const std::vector<Bytes> burst = controller.ReceiveMany(Registry::kEntries);
    ASSERT_EQ(burst.size(), before.size());
    for (size_t i = 0; i < burst.size(); ++i) {
        EXPECT_EQ(burst[i], before[i]) << "entry " << i + 1;
    }
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 1; }));
    EXPECT_EQ(driver.commsReqState.MuxSize, 32);
    EXPECT_TRUE(network->Connected());
    EXPECT_FALSE(controller.Pending());
}

TEST_F(DriverEndpoint, HelloIsAnsweredWithEveryRecordThenDoReset) {
    Connect();
    const int32_t sequence = driver.driverDoReset.header.sequence;
    const std::vector<Bytes> before = TableFrames();
    controller.SendTo(port, kControllerHello);

    const std::vector<Bytes> answer = controller.ReceiveMany(Registry::kEntries + 1);
    ASSERT_EQ(answer.size(), size_t{Registry::kEntries + 1});
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(answer[i], before[i]) << "entry " << i + 1;
    }
    const Bytes& reset = answer.back();
    EXPECT_EQ(AddressOf(reset), driver.driverDoReset.Address());
    EXPECT_EQ(wire::GetInt(reset.data() + wire::kOffEventValid), 1);
    EXPECT_EQ(wire::GetInt(reset.data() + wire::kOffSequence), sequence + 1);

    // The controller sees it as one new counted event.
    Registry controllerSide(ProgramRole::Controller);
    controllerSide.Deliver(reset.data(), 0, static_cast<int32_t>(reset.size()));
    EXPECT_TRUE(controllerSide.driverDoReset.ConsumeCounted());
    EXPECT_FALSE(controllerSide.driverDoReset.ConsumeCounted());
    EXPECT_FALSE(controller.Pending());
}

TEST_F(DriverEndpoint, HelloAfterSilenceGetsTheFirstContactSequenceAndItsOwn) {
    const int32_t sequence = driver.driverDoReset.header.sequence;
    controller.SendTo(port, kControllerHello);
    const std::vector<Bytes> answer = controller.ReceiveMany(2 * Registry::kEntries + 1);
    ASSERT_EQ(answer.size(), size_t{2 * Registry::kEntries + 1});
    for (size_t i = 0; i < answer.size() - 1; ++i) {
        EXPECT_EQ(AddressOf(answer[i]), driver.Table()[i % Registry::kEntries].address) << i;
    }
    EXPECT_EQ(wire::GetInt(answer.back().data() + wire::kOffSequence), sequence + 1);
}

TEST_F(DriverEndpoint, SendStopsAfterFiveSecondsOfSilenceAndResumesWithPublishAll) {
    Connect();
    const Bytes status = FrameOf(driver.senseStatus, driver);

    clock.Advance(kPeerSilenceMs - 1);
    EXPECT_EQ(network->Send(status.data(), status.size()), static_cast<int32_t>(status.size()));
    EXPECT_EQ(controller.Receive(), status);
    EXPECT_TRUE(network->Connected());

    clock.Advance(1);
    EXPECT_EQ(network->Send(status.data(), status.size()), kPeerSilenceMs);
    EXPECT_FALSE(network->Connected());
    clock.Advance(2500);
    EXPECT_EQ(network->Send(status.data(), status.size()), kPeerSilenceMs + 2500);

    // The next datagram is first contact again: the first thing out is the start of a
    // publish-all, not the refused status.
    controller.SendTo(port, Presence());
    const std::vector<Bytes> burst = controller.ReceiveMany(Registry::kEntries);
    ASSERT_EQ(burst.size(), size_t{Registry::kEntries});
    EXPECT_EQ(AddressOf(burst.front()), driver.driverDoStop.Address());
    EXPECT_EQ(AddressOf(burst.back()), driver.endMarker.Address());
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 2; }));
    EXPECT_TRUE(network->Connected());
    EXPECT_FALSE(controller.Pending());
}

TEST_F(DriverEndpoint, HelloIsNotHeldBackBySilence) {
    clock.Advance(10 * kPeerSilenceMs);
    network->SendHello();
    EXPECT_EQ(controller.Receive(),
              (Bytes{0x00, 0xFF, 0x02, 0xB3, 0x15, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}));
}

// Publishing is what notices the silence: a controller hidden to the tray for five seconds
// gets a full publish-all with its next datagram.
TEST_F(DriverEndpoint, SilenceNoticedByAPublishMakesTheNextDatagramFirstContact) {
    Connect();
    clock.Advance(kPeerSilenceMs);
    driver.senseStatus.Value = 3.0f;
    EXPECT_EQ(driver.senseStatus.Publish(), kPeerSilenceMs);
    EXPECT_FALSE(network->Connected());
    EXPECT_FALSE(controller.Pending());

    controller.SendTo(port, Presence());
    const std::vector<Bytes> burst = controller.ReceiveMany(Registry::kEntries);
    ASSERT_EQ(burst.size(), size_t{Registry::kEntries});
    EXPECT_EQ(AddressOf(burst.front()), driver.driverDoStop.Address());
    EXPECT_TRUE(network->Connected());
}

// kvctl beside the Controller: each is a peer of its own. Everything the driver publishes
// reaches both; a publish-all and the hello's DoReset go only to the one that asked.
TEST_F(DriverEndpoint, EveryLivePeerGetsThePublishedRecordsAndOnlyTheAskerItsPublishAll) {
    Connect();
    UdpPeer tool;
    tool.SendTo(port, kControllerHello);
    // First contact and the hello: two publish-alls and the DoReset, all to the tool.
    EXPECT_EQ(tool.ReceiveMany(2 * Registry::kEntries + 1).size(),
              size_t{2 * Registry::kEntries + 1});
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 2; }));
    EXPECT_FALSE(controller.Pending());
    EXPECT_EQ(network->LivePeers(), 2u);

    driver.calibDoComplete.header.eventValid = 1;
    driver.calibDoComplete.Publish();
    const Bytes complete = FrameOf(driver.calibDoComplete, driver);
    EXPECT_EQ(controller.Receive(), complete);
    EXPECT_EQ(tool.Receive(), complete);

    // The tool keeps talking, the controller falls silent: only the tool is sent to, and the
    // controller's next datagram brings it a publish-all of its own.
    clock.Advance(kPeerSilenceMs / 2);
    tool.SendTo(port, Presence());
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 3; }));
    clock.Advance(kPeerSilenceMs / 2);
    driver.senseStatus.Publish();
    EXPECT_EQ(tool.Receive(), FrameOf(driver.senseStatus, driver));
    EXPECT_FALSE(controller.Pending());
    EXPECT_EQ(network->LivePeers(), 1u);
    controller.SendTo(port, Presence());
    EXPECT_EQ(controller.ReceiveMany(Registry::kEntries).size(), size_t{Registry::kEntries});
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 4; }));
    EXPECT_FALSE(tool.Pending());
}

// A peer that says hello again and again while its publish-all takes its time (38 records,
// 30 ms apart) is owed one more publish-all, not one per hello. The publish-all for the first
// hello is held at its first pause until the other 99 have been sent, as the real pauses would
// hold it.
class HelloBurst : public DriverEndpoint {
protected:
    HelloBurst() {
        clock.OnSleep([this](int) {
            if (holdNextPause.exchange(false)) {
                holding = true;
                WaitFor([&] { return burstSent.load(); });
            }
        });
    }

    std::atomic<bool> holdNextPause{false};
    std::atomic<bool> holding{false};
    std::atomic<bool> burstSent{false};
};

TEST_F(HelloBurst, AHundredHellosDuringAPublishAllGetOneMoreAndItIsComplete) {
    constexpr int kHellos = 100;
    Connect();
    holdNextPause = true;
    ASSERT_TRUE(controller.SendTo(port, kControllerHello));
    ASSERT_TRUE(WaitFor([&] { return holding.load(); }));
    for (int i = 1; i < kHellos; ++i) {
        ASSERT_TRUE(controller.SendTo(port, kControllerHello));
    }
    burstSent = true;
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 1 + kHellos; }));

    // The first hello's answer, then one more for the 99 that came while it ran, each whole
    // and in table order with its DoReset; then nothing.
    const std::vector<Bytes> answer = controller.ReceiveMany(2 * (Registry::kEntries + 1));
    ASSERT_EQ(answer.size(), size_t{2 * (Registry::kEntries + 1)});
    for (size_t i = 0; i < answer.size(); ++i) {
        const size_t entry = i % (Registry::kEntries + 1);
        const int32_t expected = entry < size_t{Registry::kEntries}
                                     ? driver.Table()[entry].address
                                     : driver.driverDoReset.Address();
        EXPECT_EQ(AddressOf(answer[i]), expected) << "frame " << i;
    }
    EXPECT_FALSE(controller.Pending());
}

// Garbage from 20 ports of our own user (a runaway script) thrown at the driver while it paces
// a publish-all, 20 datagrams in every slice of its pauses, far more than the socket's queue
// holds: every one is read and dropped meanwhile, none takes a peer slot or gets a record, and
// the controller gets its answer whole. A stop request behind such garbage still cuts the next
// publish-all short and is then acted on.
class FloodDuringPublishAll : public DriverEndpoint {
protected:
    static constexpr int kFlooders = 20;
    static constexpr int kPerSlice = 20;

    FloodDuringPublishAll() {
        for (int i = 0; i < kFlooders; ++i) {
            flooders.push_back(std::make_unique<UdpPeer>());
        }
        clock.OnSleep([this](int) {
            if (!flooding) {
                return;
            }
            const int slice = slices++;
            for (int i = 0; i < kPerSlice; ++i) {
                // 1000 bytes or so with no sync pair in them, of a length of their own.
                const Bytes garbage(900 + static_cast<size_t>((slice * kPerSlice + i) % 200),
                                    static_cast<uint8_t>(0x41 + i));
                flooders[static_cast<size_t>(i % kFlooders)]->SendTo(port, garbage);
                ++sent;
            }
            if (slice == stopAtSlice) {
                controller.SendTo(port, stop);
            }
        });
    }
    void TearDown() override { network->Stop(); }

    std::vector<std::unique_ptr<UdpPeer>> flooders;
    std::atomic<bool> flooding{false};
    std::atomic<int> slices{0};
    std::atomic<int> sent{0};
    std::atomic<int> stopAtSlice{-1};
    Bytes stop;

    // The records a peer receives before the DoReset of the given sequence (an answer's end).
    size_t RecordsBeforeReset(UdpPeer& peer, int32_t sequence) {
        size_t records = 0;
        for (auto frame = peer.Receive(); frame; frame = peer.Receive()) {
            if (AddressOf(*frame) == driver.driverDoReset.Address() &&
                wire::GetInt(frame->data() + wire::kOffSequence) == sequence) {
                break;
            }
            ++records;
        }
        return records;
    }
};

TEST_F(FloodDuringPublishAll, GarbageIsReadAndDroppedMeanwhileAndAStopBehindItCutsItShort) {
    Connect();
    flooding = true;
    controller.SendTo(port, kControllerHello);
    const std::vector<Bytes> answer = controller.ReceiveMany(Registry::kEntries + 1);
    ASSERT_EQ(answer.size(), size_t{Registry::kEntries + 1});
    EXPECT_EQ(AddressOf(answer.back()), driver.driverDoReset.Address());
    flooding = false;
    ASSERT_GE(sent.load(), Registry::kEntries * kPerSlice);
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 2u + sent; }))
        << network->ReceivedDatagrams() << " of " << 2 + sent << " read";
    EXPECT_EQ(network->IgnoredDatagrams(), static_cast<uint64_t>(sent));
    for (const auto& flooder : flooders) {
        EXPECT_FALSE(flooder->Pending());
    }
    EXPECT_EQ(network->LivePeers(), 1u);
    EXPECT_FALSE(controller.Pending());

    encoder.driverDoStop.RaiseCounted();
    stop = FrameOf(encoder.driverDoStop, encoder);
    slices = 0;
    stopAtSlice = 9;
    const int32_t resetAfter = driver.driverDoReset.header.sequence + 1;  // the answer's end
    flooding = true;
    controller.SendTo(port, kControllerHello);
    const size_t records = RecordsBeforeReset(controller, resetAfter);
    flooding = false;
    EXPECT_LT(records, size_t{Registry::kEntries});
    ASSERT_TRUE(WaitFor([&] { return driver.driverDoStop.ConsumeCounted(); }));
}

// A factory reset's stop: the Controller, not heard by this driver yet, sends a stop while the
// driver answers kvctl's hello, and garbage keeps coming. The stop cuts that answer short, its
// sender gets the records of its first contact, and then the stop is acted on.
TEST_F(FloodDuringPublishAll, AStopFromANewPeerDuringAnothersPublishAllIsServed) {
    encoder.driverDoStop.RaiseCounted();
    stop = FrameOf(encoder.driverDoStop, encoder);
    stopAtSlice = 5;
    const int32_t resetAfter = driver.driverDoReset.header.sequence + 1;  // the answer's end
    flooding = true;
    UdpPeer tool;
    tool.SendTo(port, kControllerHello);
    EXPECT_EQ(controller.ReceiveMany(Registry::kEntries).size(), size_t{Registry::kEntries});
    ASSERT_TRUE(WaitFor([&] { return driver.driverDoStop.ConsumeCounted(); }));
    flooding = false;
    // Its first contact's records cut short, then the whole answer to its hello.
    const size_t toTool = RecordsBeforeReset(tool, resetAfter);
    EXPECT_LT(toTool, size_t{2 * Registry::kEntries});
    EXPECT_GE(toTool, size_t{Registry::kEntries});
}

// A controller restarted at another port is a new peer: it gets every record first.
TEST_F(DriverEndpoint, RestartedControllerIsAnsweredAtItsNewPort) {
    Connect();
    UdpPeer restarted;
    ASSERT_NE(restarted.Port(), controller.Port());
    restarted.SendTo(port, Presence());
    EXPECT_EQ(restarted.ReceiveMany(Registry::kEntries).size(), size_t{Registry::kEntries});
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 2; }));

    driver.senseStatus.Value = 12.5f;
    driver.senseStatus.Publish();
    EXPECT_EQ(restarted.Receive(), FrameOf(driver.senseStatus, driver));
}

TEST_F(DriverEndpoint, DatagramsFromOutsideTheLoopbackAreIgnored) {
    const auto foreign = NonLoopbackAddress();
    if (!foreign) {
        GTEST_SKIP() << "this machine has no IPv4 address outside 127.0.0.0/8 to send from";
    }
    UdpPeer outsider(*foreign);
    const int64_t heard = driver.LastHeard();
    encoder.commsReqState.MuxSize = 16;
    outsider.SendTo(port, FrameOf(encoder.commsReqState, encoder));
    outsider.SendTo(port, kControllerHello);
    ASSERT_TRUE(WaitFor([&] { return network->IgnoredDatagrams() == 2; }));

    EXPECT_EQ(driver.commsReqState.MuxSize, 64);
    EXPECT_EQ(driver.LastHeard(), heard);
    EXPECT_FALSE(network->Connected());
    EXPECT_FALSE(outsider.Pending());

    // The driver is still silent towards the controller and still answers at its address.
    controller.SendTo(port, Presence());
    EXPECT_EQ(controller.ReceiveMany(Registry::kEntries).size(), size_t{Registry::kEntries});
}

TEST_F(DriverEndpoint, OutsiderCannotTakeOverTheControllersAddress) {
    const auto foreign = NonLoopbackAddress();
    if (!foreign) {
        GTEST_SKIP() << "this machine has no IPv4 address outside 127.0.0.0/8 to send from";
    }
    Connect();
    UdpPeer outsider(*foreign);
    outsider.SendTo(port, Presence());
    ASSERT_TRUE(WaitFor([&] { return network->IgnoredDatagrams() == 1; }));

    driver.senseStatus.Publish();
    EXPECT_EQ(controller.Receive(), FrameOf(driver.senseStatus, driver));
    EXPECT_FALSE(outsider.Pending());
}

// What a peer may write. Each row changes fields of the driver's copy of one record ("eventValid"
// is the header word) and sends it as the Controller would. Out of range, or a record only the
// driver writes: refused, the driver's copy stays as it was and goes back to that peer alone.
// In range: taken, nothing answered.
struct PeerChange {
    const char* object;
    const char* topic;
    std::vector<std::pair<const char*, double>> fields;
    bool taken;
};

// Sets the named wire fields of a record.
class FieldSetter final : public FieldVisitor {
public:
    FieldSetter(const char* name, double value) : name_(name), value_(value) {}
    void Int(const char* name, int32_t& value) override {
        value = Is(name) ? static_cast<int32_t>(value_) : value;
    }
    void Real(const char* name, float& value) override {
        value = Is(name) ? static_cast<float>(value_) : value;
    }
    void Flag(const char* name, bool& value) override { value = Is(name) ? value_ != 0 : value; }
    void Char(const char*, char&) override {}
    void Text(const char*, TextRef) override {}
    void BeginArray(const char*, int32_t) override {}
    void EndArray() override {}

private:
    bool Is(const char* name) const { return name != nullptr && std::string(name) == name_; }
    std::string name_;
    double value_;
};

constexpr bool kTaken = true;
constexpr bool kRefused = false;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const PeerChange kPeerChanges[] = {
    // The largest model's split while a smaller MuxSize is in force, as a model change begins,
    // and (below) a smaller MuxSize with that split.
    {"Split", "State", {{"Split0", 40}, {"Split1", 48}}, kTaken},
    {"Split", "State", {{"Split0", 0}}, kRefused},
    {"Split", "State", {{"Split0", 40}, {"Split1", 89}}, kRefused},
    {"Split", "State", {{"Flip0", -1}}, kRefused},
    {"Comms", "ReqState", {{"MuxSize", 16}}, kTaken},
    {"Comms", "ReqState", {{"MuxSize", 128}, {"PortIndex", 255}}, kTaken},
    {"Comms", "ReqState", {{"MuxSize", 15}}, kRefused},
    {"Comms", "ReqState", {{"MuxSize", 65}}, kRefused},
    {"Comms", "ReqState", {{"MuxSize", 127}}, kRefused},
    {"Comms", "ReqState", {{"PortIndex", -1}}, kRefused},
    {"Sense",
     "State",
     {{"CoarseRange", 50}, {"TouchThreshold", 0}, {"PressThreshold", 50}},
     kTaken},
    {"Sense", "State", {{"CoarseRange", 51}}, kRefused},
    {"Sense", "State", {{"CoarseRange", 2e9}}, kRefused},
    {"Sense", "State", {{"PressThreshold", -5}}, kRefused},
    {"Edge", "State", {{"Top", 100}, {"Left", 0}}, kTaken},
    {"Edge", "State", {{"Left", 101}}, kRefused},
    {"Output", "State", {{"Mode", 6}, {"Selection", 3}}, kTaken},
    {"Output", "State", {{"Mode", 7}}, kRefused},
    {"Output", "State", {{"Selection", -5}}, kRefused},
    {"Output", "Pointer", {{"Enable3", 1}}, kTaken},
    {"Mouse", "Damp", {{"SnapRange", 1}, {"DampPeriod", 10}, {"RightClickPeriod", 1}}, kTaken},
    {"Mouse", "Damp", {{"DampRange", 0}, {"DampPeriod", 0}, {"RightClickPeriod", 100}}, kTaken},
    {"Mouse", "Damp", {{"SnapRange", kNaN}}, kRefused},
    {"Mouse", "Damp", {{"DampPeriod", 1e30}}, kRefused},
    {"Mouse", "Damp", {{"RightClickRange", -kInf}}, kRefused},
    {"Mouse", "Damp", {{"RightClickPeriod", 0.5}}, kTaken},
    {"Mouse", "Damp", {{"RightClickPeriod", 0.2}}, kRefused},
    {"Calib", "State", {{"exclude_edge_flag", 2}, {"exclude_edge_left", 0.25}}, kTaken},
    {"Calib", "State", {{"exclude_edge_flag", 3}}, kRefused},
    {"Calib", "State", {{"exclude_edge_top", -0.01}}, kRefused},
    {"Calib", "State", {{"exclude_edge_right", kNaN}}, kRefused},
    {"Calib", "State", {{"exclude_edge_left", 0.6}, {"exclude_edge_right", 0.5}}, kRefused},
    {"Calib", "State", {{"exclude_edge_top", 0.5}, {"exclude_edge_bottom", 0.5}}, kRefused},
    // The driver's own records.
    {"Comms", "ActStatus", {{"FramesLastPeriod", 1000}}, kRefused},
    {"Calib", "Ref_TL", {{"SA", 0.5}}, kRefused},
    {"Driver", "Config", {{"Delay", 0}}, kRefused},
    {"Driver", "DoHeartBeat", {{"eventValid", 1}}, kRefused},
    {"Calib", "DoComplete", {{"eventValid", 1}}, kRefused},
    // The Controller's acknowledgement of the driver's completion.
    {"Calib", "DoComplete", {{"eventValid", 0}}, kTaken},
};

TEST_F(DriverEndpoint, APeerWritesOnlySettingsInRangeAndIsAnsweredWithTheDriversCopyOtherwise) {
    driver.calibDoComplete.header.eventValid = 1;  // a completion the Controller acknowledges
    Connect();
    for (const PeerChange& change : kPeerChanges) {
        DataManipulation& held = *driver.Find(change.object, change.topic)->record;
        DataManipulation& sent = *encoder.Find(change.object, change.topic)->record;
        const Bytes before = FrameOf(held, driver);
        encoder.Deliver(before.data(), 0, static_cast<int32_t>(before.size()));
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "text" + std::string
        // in an optimised build.
        std::string what(change.object);
        what.append("/").append(change.topic);
        for (const auto& [name, value] : change.fields) {
            what.append(" ").append(name).append("=").append(std::to_string(value));
            FieldSetter setter(name, value);
            sent.VisitFields(setter);
            if (std::string(name) == "eventValid") {
                sent.header.eventValid = static_cast<int32_t>(value);
            }
        }
        SCOPED_TRACE(what);
        const Bytes frame = FrameOf(sent, encoder);
        const uint64_t handled = network->ReceivedDatagrams();
        ASSERT_TRUE(controller.SendTo(port, frame));
        ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() > handled; }));
        if (change.taken) {
            // The same record from the address on (the sender differs).
            const Bytes now = FrameOf(held, driver);
            EXPECT_EQ(Bytes(now.begin() + wire::kOffAddress, now.end()),
                      Bytes(frame.begin() + wire::kOffAddress, frame.end()));
            EXPECT_FALSE(controller.Pending());
        } else {
            EXPECT_EQ(FrameOf(held, driver), before);
            EXPECT_EQ(controller.Receive(), before);
        }
    }
    // Another driver's frame is never answered: two drivers would answer each other for ever.
    Registry otherDriver(ProgramRole::Driver);
    const uint64_t handled = network->ReceivedDatagrams();
    ASSERT_TRUE(controller.SendTo(port, FrameOf(otherDriver.commsActStatus, otherDriver)));
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() > handled; }));
    EXPECT_FALSE(controller.Pending());
}

// Of Calib State a peer sets the touch region only; the calibration's state stays the driver's.
TEST_F(DriverEndpoint, FromCalibStateOnlyTheRegionIsTaken) {
    Connect();
    driver.calibState.Angle = 1;
    encoder.calibState.exclude_edge_flag = 2;
    encoder.calibState.exclude_edge_left = 0.5f;
    encoder.calibState.exclude_edge_bottom = 0.5f;
    encoder.calibState.Active = true;
    encoder.calibState.Progress = 70;
    encoder.calibState.Stage = 3;
    encoder.calibState.Angle = 2;
    controller.SendTo(port, FrameOf(encoder.calibState, encoder));
    ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == 2; }));
    const CalibrationState& held = driver.calibState;
    EXPECT_EQ(held.exclude_edge_flag, 2);
    EXPECT_EQ(held.exclude_edge_left, 0.5f);
    EXPECT_EQ(held.exclude_edge_bottom, 0.5f);
    EXPECT_FALSE(held.Active);
    EXPECT_EQ(held.Progress, 0);
    EXPECT_EQ(held.Stage, 0);
    EXPECT_EQ(held.Angle, 1);
    EXPECT_FALSE(controller.Pending());
}

// The records shared between the receive thread and the program's own thread: while the
// receive thread parses a stream of settings, status texts and graphs into them, the driver's
// main loop (or the Controller's window) reads the same fields and publishes the same records.
// Under ThreadSanitizer (label threads) any field that is plain memory is reported; in every
// build a value is only ever one that was sent, and a text is one of the texts sent, whole.
// The driver takes the settings only (through its scratch copies) and answers the status and
// graphs with its own; the Controller takes everything.

constexpr int kDatagrams = 600;

const std::string kTextA(80, 'A');
const std::string kTextB(80, 'B');

bool IsOneOf(int32_t value, std::initializer_list<int32_t> allowed) {
    for (const int32_t candidate : allowed) {
        if (value == candidate) {
            return true;
        }
    }
    return false;
}

class SharedRecords : public ::testing::TestWithParam<ProgramRole> {
protected:
    void SetUp() override {
        network =
            std::make_unique<Network>(receiver, NetworkConfig{GetParam(), 0, controller.Port()});
        ASSERT_TRUE(network->Ok()) << network->Error();
        port = network->LocalPort();
        network->SetRunning(true);
        network->SetReady();
        ASSERT_TRUE(controller.Receive());  // the hello
        receiver.commsActStatus.StatusText = kTextA;
    }

    // The controller's side: datagram i changes the settings, the status text and a graph,
    // and waits until the driver has taken it, so that none is dropped on the way.
    void Stream() {
        for (int i = 0; i < kDatagrams && !failed; ++i) {
            encoder.commsReqState.MuxSize = i % 2 == 0 ? 40 : 128;
            encoder.commsReqState.PortIndex = i % 2 == 0 ? 3 : 7;
            encoder.senseState.CoarseRange = i % 2 == 0 ? 15 : 25;
            encoder.mouseDamp.SnapRange = i % 2 == 0 ? 0.25f : 0.5f;
            encoder.outputPointer.Enable[static_cast<size_t>(i % 8)] = i % 3 == 0;
            encoder.commsActStatus.StatusText = i % 2 == 0 ? kTextB : kTextA;
            encoder.commsActStatus.FramesLastPeriod = i;
            for (auto& value : encoder.graphState0.Values) {
                value = static_cast<float>(i);
            }
            const uint64_t before = network->ReceivedDatagrams();
            controller.SendTo(port, Concat({FrameOf(encoder.clientClient, encoder),
                                            FrameOf(encoder.commsReqState, encoder),
                                            FrameOf(encoder.senseState, encoder),
                                            FrameOf(encoder.mouseDamp, encoder),
                                            FrameOf(encoder.outputPointer, encoder),
                                            FrameOf(encoder.commsActStatus, encoder),
                                            FrameOf(encoder.graphState0, encoder)}));
            if (!WaitFor([&] { return network->ReceivedDatagrams() > before; })) {
                failed = true;
            }
        }
        done = true;
    }

    FakeClock clock;
    Registry receiver{GetParam(), clock};
    Registry encoder{ProgramRole::Controller};
    UdpPeer controller;
    uint16_t port = 0;
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
    std::unique_ptr<Network> network;  // last, so it stops before the rest goes
};

TEST_P(SharedRecords, TheProgramReadsAndPublishesWhileTheReceiveThreadParses) {
    const bool takesStatus = GetParam() == ProgramRole::Controller;
    std::thread peer([this] { Stream(); });

    int rounds = 0;
    int wrongValues = 0;
    int tornTexts = 0;
    while (!done || rounds == 0) {
        // What the program's own thread does with the records every frame and every period.
        const int32_t mux = receiver.commsReqState.MuxSize;
        wrongValues += IsOneOf(mux, {64, 40, 128}) ? 0 : 1;
        wrongValues += IsOneOf(receiver.commsReqState.receivedPortIndex, {0, 3, 7}) ? 0 : 1;
        wrongValues += IsOneOf(receiver.senseState.CoarseRange, {11, 15, 25}) ? 0 : 1;
        const float snap = receiver.mouseDamp.SnapRange;
        wrongValues += snap == 0.1f || snap == 0.25f || snap == 0.5f ? 0 : 1;
        const std::string text(receiver.commsActStatus.StatusText.View());
        tornTexts += text == kTextA || text == kTextB ? 0 : 1;
        const float graph =
            receiver.graphState0.Values[static_cast<size_t>(rounds % Graph::kValues)];
        wrongValues +=
            graph >= 0.0f && graph < kDatagrams && graph == static_cast<int>(graph) ? 0 : 1;

        // It publishes the same records the receive thread is filling.
        receiver.commsActStatus.StatusWidth = rounds;
        FrameOf(receiver.commsActStatus, receiver);
        FrameOf(receiver.commsReqState, receiver);
        FrameOf(receiver.graphState0, receiver);
        FrameOf(receiver.outputPointer, receiver);
        ++rounds;
        std::this_thread::yield();
    }
    peer.join();

    ASSERT_FALSE(failed) << "a datagram never reached the driver";
    EXPECT_EQ(wrongValues, 0);
    EXPECT_EQ(tornTexts, 0);
    // The last datagram is what the records hold in the end.
    EXPECT_EQ(receiver.commsReqState.MuxSize, 128);
    EXPECT_EQ(receiver.commsActStatus.FramesLastPeriod, takesStatus ? kDatagrams - 1 : 0);
    EXPECT_EQ(receiver.commsActStatus.StatusText.View(), kTextA);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(receiver.outputPointer.Enable[i], encoder.outputPointer.Enable[i]) << i;
    }
}

std::string RoleName(const ::testing::TestParamInfo<ProgramRole>& role) {
    return role.param == ProgramRole::Driver ? "Driver" : "Controller";
}
INSTANTIATE_TEST_SUITE_P(BothPrograms, SharedRecords,
                         ::testing::Values(ProgramRole::Driver, ProgramRole::Controller), RoleName);

// A text is rewritten by one thread and copied by another: every copy is one of the two texts
// whole, never the start of one and the end of the other.
TEST(SharedText, ACopyIsAlwaysOneWholeText) {
    FixedText<80> shared(kTextA);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            shared = i % 2 == 0 ? std::string_view(kTextB) : std::string_view(kTextA);
            std::this_thread::yield();  // one datagram after another, as the receive thread
        }
    });
    int torn = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string copy(shared.View());
        torn += copy == kTextA || copy == kTextB ? 0 : 1;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace kv::test
