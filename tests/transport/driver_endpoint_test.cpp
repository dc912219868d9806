// The driver's endpoint against a plain socket in the controller's place: hello, first
// contact, the hello answer, the liveness rule, a restarted controller and foreign sources;
// the records the receive thread fills while the main loop reads and publishes them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "messaging/network.h"
#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"

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

// The records shared between the receive thread and the driver's main loop: while the
// receive thread parses a stream of settings, status texts and graphs into them, the main
// loop reads the same fields and publishes the same records. Under ThreadSanitizer (label
// threads) any field that is plain memory is reported; in every build a value is only ever
// one that was sent, and a text is one of the texts sent, whole.

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

class SharedRecords : public ::testing::Test {
protected:
    void SetUp() override {
        network = std::make_unique<Network>(
            driver, NetworkConfig{ProgramRole::Driver, 0, controller.Port()});
        ASSERT_TRUE(network->Ok()) << network->Error();
        port = network->LocalPort();
        network->SetRunning(true);
        network->SetReady();
        ASSERT_TRUE(controller.Receive());  // the driver's hello
        driver.commsActStatus.StatusText = kTextA;
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
    Registry driver{ProgramRole::Driver, clock};
    Registry encoder{ProgramRole::Controller};
    UdpPeer controller;
    uint16_t port = 0;
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
    std::unique_ptr<Network> network;  // last, so it stops before the rest goes
};

TEST_F(SharedRecords, TheMainLoopReadsAndPublishesWhileTheReceiveThreadParses) {
    std::thread peer([this] { Stream(); });

    int rounds = 0;
    int wrongValues = 0;
    int tornTexts = 0;
    while (!done || rounds == 0) {
        // What the driver's main loop does with the records every frame and every period.
        const int32_t mux = driver.commsReqState.MuxSize;
        wrongValues += IsOneOf(mux, {64, 40, 128}) ? 0 : 1;
        wrongValues += IsOneOf(driver.commsReqState.receivedPortIndex, {0, 3, 7}) ? 0 : 1;
        wrongValues += IsOneOf(driver.senseState.CoarseRange, {11, 15, 25}) ? 0 : 1;
        const float snap = driver.mouseDamp.SnapRange;
        wrongValues += snap == 0.1f || snap == 0.25f || snap == 0.5f ? 0 : 1;
        const std::string text(driver.commsActStatus.StatusText.View());
        tornTexts += text == kTextA || text == kTextB ? 0 : 1;
        const float graph = driver.graphState0.Values[static_cast<size_t>(rounds % Graph::kValues)];
        wrongValues +=
            graph >= 0.0f && graph < kDatagrams && graph == static_cast<int>(graph) ? 0 : 1;

        // The main loop publishes the same records the receive thread is filling.
        driver.commsActStatus.StatusWidth = rounds;
        FrameOf(driver.commsActStatus, driver);
        FrameOf(driver.commsReqState, driver);
        FrameOf(driver.graphState0, driver);
        FrameOf(driver.outputPointer, driver);
        ++rounds;
        std::this_thread::yield();
    }
    peer.join();

    ASSERT_FALSE(failed) << "a datagram never reached the driver";
    EXPECT_EQ(wrongValues, 0);
    EXPECT_EQ(tornTexts, 0);
    // The last datagram is what the records hold in the end.
    EXPECT_EQ(driver.commsReqState.MuxSize, 128);
    EXPECT_EQ(driver.commsActStatus.FramesLastPeriod, kDatagrams - 1);
    EXPECT_EQ(driver.commsActStatus.StatusText.View(), kTextA);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(driver.outputPointer.Enable[i], encoder.outputPointer.Enable[i]) << i;
    }
}

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
