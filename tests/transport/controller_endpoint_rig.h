// A controller endpoint on the tests' clock against a plain socket in the driver's place, both
// on ports the system picks. The controller says hello at once; SetUp takes it off the
// driver's socket and keeps it for the test to look at.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"
#include "transport/network.h"

namespace kv::test {

class ControllerEndpointRig : public ::testing::Test {
protected:
    void SetUp() override {
        network = std::make_unique<Network>(
            controller, NetworkConfig{ProgramRole::Controller, 0, driver.Port()});
        ASSERT_TRUE(network->Ok()) << network->Error();
        port = network->LocalPort();
        hello = driver.Receive();
        ASSERT_TRUE(hello);
    }

    // Sends one datagram from the driver's socket and waits until the endpoint has handled it.
    void Deliver(const Bytes& datagram) {
        const uint64_t before = network->ReceivedDatagrams();
        driver.SendTo(port, datagram);
        ASSERT_TRUE(WaitFor([&] { return network->ReceivedDatagrams() == before + 1; }));
    }

    FakeClock clock;
    Registry controller{ProgramRole::Controller, clock};
    Registry encoder{ProgramRole::Driver};  // builds what the driver sends
    UdpPeer driver;
    uint16_t port = 0;
    std::unique_ptr<Network> network;
    std::optional<Bytes> hello;
};

}  // namespace kv::test
