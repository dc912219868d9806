// Binding, stopping and the two programs meeting: the endpoint binds the loopback only,
// survives a taken port, stops with its thread joined and lets go of its registry.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"
#include "transport/network.h"

namespace kv::test {
namespace {

TEST(EndpointBinding, BindsTheLoopbackAddressOnly) {
    const auto foreign = NonLoopbackAddress();
    if (!foreign) {
        GTEST_SKIP() << "this machine has no IPv4 address outside 127.0.0.0/8 to bind";
    }
    Registry registry(ProgramRole::Controller);
    UdpPeer peer;
    Network network(registry, {ProgramRole::Controller, 0, peer.Port()});
    ASSERT_TRUE(network.Ok()) << network.Error();
    // A wildcard bind would hold the port on every address; this one leaves it free elsewhere.
    EXPECT_NO_THROW({ UdpPeer elsewhere(*foreign, network.LocalPort()); });
}

TEST(EndpointBinding, RefusesAnAddressOffTheLoopback) {
    Registry registry(ProgramRole::Driver);
    for (const char* address : {"0.0.0.0", "192.0.2.1", "::1", "not an address"}) {
        NetworkConfig config{ProgramRole::Driver, 0, 1};
        config.address = address;
        Network network(registry, config);
        EXPECT_FALSE(network.Ok()) << address;
        EXPECT_FALSE(network.Error().empty()) << address;
    }
}

// A port held by someone else is reported, not thrown, and tried again every second: once it
// is free the endpoint binds it and starts talking, without a restart.
TEST(EndpointBinding, TakenPortIsReportedThenBoundOnceFree) {
    Registry registry(ProgramRole::Controller);
    auto holder = std::make_unique<UdpPeer>();
    const uint16_t taken = holder->Port();
    UdpPeer peer;
    std::unique_ptr<Network> network;
    ASSERT_NO_THROW(network = std::make_unique<Network>(
                        registry, NetworkConfig{ProgramRole::Controller, taken, peer.Port()}));
    EXPECT_FALSE(network->Ok());
    EXPECT_NE(network->Error().find(std::to_string(taken)), std::string::npos) << network->Error();

    // Meanwhile nothing is sent: no hello, and a publish goes nowhere.
    const Bytes hello = HelloBytes(wire::kSenderController);
    EXPECT_EQ(network->Send(hello.data(), hello.size()), 0);
    network->SendHello();
    EXPECT_EQ(registry.storeDoSave.Send(), 0);
    EXPECT_FALSE(peer.Pending());
    EXPECT_FALSE(network->Connected());

    holder.reset();
    ASSERT_TRUE(WaitFor([&] { return network->Ok(); }));
    EXPECT_EQ(network->LocalPort(), taken);
    EXPECT_TRUE(network->Error().empty());
    EXPECT_EQ(peer.Receive(), hello);
    peer.SendTo(taken, hello);
    EXPECT_TRUE(WaitFor([&] { return network->Connected(); }));
    network->Stop();
}

// Stopping an endpoint that is still waiting for its port ends the retries at once.
// The Controller starts the Driver, which runs on after the Controller has quit: a program
// started while an endpoint is open must not keep its port, or the Controller's next start
// finds its own port taken.
TEST(EndpointBinding, AProgramStartedMeanwhileDoesNotKeepThePort) {
    Registry registry(ProgramRole::Controller);
    UdpPeer peer;
    uint16_t port = 0;
    TempDir folder;
    std::unique_ptr<Process> started;
    {
        Network network(registry, {ProgramRole::Controller, 0, peer.Port()});
        ASSERT_TRUE(network.Ok()) << network.Error();
        port = network.LocalPort();
        started = std::make_unique<Process>("/bin/sleep", std::vector<std::string>{"30"},
                                            std::map<std::string, std::string>{},
                                            folder.File("out"), folder.File("err"));
        ASSERT_TRUE(started->Started());
        // Started means running the program: until then the forked copy holds everything.
        const std::string comm = "/proc/" + std::to_string(started->Pid()) + "/comm";
        ASSERT_TRUE(WaitFor([&] { return ReadFile(comm) == "sleep\n"; })) << ReadFile(comm);
    }
    Network again(registry, {ProgramRole::Controller, port, peer.Port()});
    EXPECT_TRUE(again.Ok()) << again.Error();
}

TEST(EndpointBinding, StopEndsTheBindRetries) {
    Registry registry(ProgramRole::Driver);
    UdpPeer holder;
    Network network(registry, NetworkConfig{ProgramRole::Driver, holder.Port(), 0});
    EXPECT_FALSE(network.Ok());
    network.Stop();
    EXPECT_FALSE(network.Ok());
}

TEST(EndpointStop, WakesABlockedReceiveAndJoins) {
    for (const ProgramRole role : {ProgramRole::Driver, ProgramRole::Controller}) {
        Registry registry(role);
        UdpPeer peer;
        Network network(registry, {role, 0, peer.Port()});
        ASSERT_TRUE(network.Ok()) << network.Error();
        network.SetRunning(true);
        network.SetReady();
        ASSERT_TRUE(peer.Receive());  // the hello: the thread is now in its receive
        network.Stop();
        network.Stop();

        // Stopped for good: no sends, and later datagrams find no listener.
        const Bytes hello = HelloBytes(registry.SenderId());
        network.Send(hello.data(), hello.size());
        network.SendHello();
        EXPECT_FALSE(peer.Pending());
    }
}

TEST(EndpointStop, DriverWaitingForItsMainLoopStops) {
    Registry registry(ProgramRole::Driver);
    UdpPeer peer;
    Network network(registry, {ProgramRole::Driver, 0, peer.Port()});
    ASSERT_TRUE(network.Ok()) << network.Error();
    network.SetRunning(true);  // never ready
    network.Stop();
    EXPECT_FALSE(peer.Pending());  // it never said hello
}

TEST(EndpointStop, DriverListensOnlyWhileRunning) {
    Registry registry(ProgramRole::Driver);
    Registry encoder(ProgramRole::Controller);
    UdpPeer controller;
    Network network(registry, {ProgramRole::Driver, 0, controller.Port()});
    ASSERT_TRUE(network.Ok()) << network.Error();
    EXPECT_FALSE(network.Running());  // the driver's start-up sets it, not the endpoint
    network.SetReady();
    ASSERT_TRUE(controller.Receive());  // the hello goes out all the same

    encoder.commsReqState.MuxSize = 128;
    controller.SendTo(network.LocalPort(), FrameOf(encoder.commsReqState, encoder));
    network.Stop();
    EXPECT_EQ(network.ReceivedDatagrams(), 0u);
    EXPECT_EQ(registry.commsReqState.MuxSize, 64);
}

TEST(EndpointStop, RegistryForgetsAStoppedEndpoint) {
    Registry registry(ProgramRole::Controller);
    UdpPeer peer;
    {
        Network network(registry, {ProgramRole::Controller, 0, peer.Port()});
        ASSERT_TRUE(network.Ok()) << network.Error();
        ASSERT_TRUE(peer.Receive());
    }
    // With the endpoint gone a publish must not reach it (a dangling transport would crash).
    registry.storeDoSave.RaiseCounted();
    EXPECT_EQ(registry.storeDoSave.Send(), 0);
    EXPECT_FALSE(peer.Pending());
}

// Both programs, controller first: its hello goes unanswered, the driver's hello tells it
// where the driver is, and the controller's first datagram brings the driver's whole state.
TEST(EndpointPair, ControllerStartedBeforeTheDriver) {
    FakeClock driverClock;
    Registry controllerSide(ProgramRole::Controller);
    Registry driverSide(ProgramRole::Driver, driverClock);
    // The driver's port, held until the controller's hello to it has come and gone unanswered.
    auto placeholder = std::make_unique<UdpPeer>();
    const uint16_t driverPort = placeholder->Port();
    Network controller(controllerSide, {ProgramRole::Controller, 0, driverPort});
    ASSERT_TRUE(controller.Ok()) << controller.Error();
    ASSERT_TRUE(placeholder->Receive());
    placeholder.reset();

    driverSide.senseStatus.Value = 3.25f;
    driverSide.copyrightState.Lines[0] = "first line";
    Network driver(driverSide, {ProgramRole::Driver, driverPort, controller.LocalPort()});
    ASSERT_TRUE(driver.Ok()) << driver.Error();
    driver.SetRunning(true);
    driver.SetReady();
    ASSERT_TRUE(WaitFor([&] { return controller.Connected(); }));
    EXPECT_FALSE(driver.Connected());

    controllerSide.clientClient.Publish();
    ASSERT_TRUE(WaitFor([&] { return controller.ReceivedDatagrams() == 1 + Registry::kEntries; }));
    EXPECT_EQ(controllerSide.senseStatus.Value, 3.25f);
    EXPECT_EQ(controllerSide.copyrightState.Lines[0], "first line");
    EXPECT_TRUE(driver.Connected());

    // A hello from the controller: the whole state again, then DoReset.
    const int32_t sequence = driverSide.driverDoReset.header.sequence;
    controller.SendHello();
    ASSERT_TRUE(
        WaitFor([&] { return controller.ReceivedDatagrams() == 1 + 2 * Registry::kEntries + 1; }));
    EXPECT_EQ(controllerSide.driverDoReset.header.sequence, sequence + 1);
    EXPECT_TRUE(controllerSide.driverDoReset.ConsumeCounted());

    // A setting from the controller lands in the driver's record.
    controllerSide.commsReqState.MuxSize = 48;
    controllerSide.commsReqState.Publish();
    ASSERT_TRUE(WaitFor([&] { return driver.ReceivedDatagrams() == 3; }));
    EXPECT_EQ(driverSide.commsReqState.MuxSize, 48);
}

}  // namespace
}  // namespace kv::test
