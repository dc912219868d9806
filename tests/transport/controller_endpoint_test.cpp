// The controller's endpoint against a plain socket in the driver's place: hello, the
// connected flag, sending without a liveness rule, and whose datagrams it takes.
#include <gtest/gtest.h>

#include "tests/transport/controller_endpoint_rig.h"

namespace kv::test {
namespace {

class ControllerEndpoint : public ControllerEndpointRig {
protected:
    void SetUp() override {
        ControllerEndpointRig::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        EXPECT_TRUE(network->Running());
        // The controller's hello, and nobody has answered it yet.
        EXPECT_EQ(*hello,
                  (Bytes{0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}));
        EXPECT_FALSE(network->Connected());
    }
};

TEST_F(ControllerEndpoint, AnyDatagramConnectsAndAHelloIsNotAnswered) {
    Deliver(HelloBytes(wire::kSenderDriver));
    EXPECT_TRUE(network->Connected());
    EXPECT_EQ(controller.LastHeard(), clock.NowMs());
    EXPECT_FALSE(driver.Pending());  // no publish-all, no DoReset from the controller
}

TEST_F(ControllerEndpoint, DeliversTheDriversRecords) {
    encoder.senseStatus.Value = 17.25f;
    Deliver(FrameOf(encoder.senseStatus, encoder));
    EXPECT_EQ(controller.senseStatus.Value, 17.25f);
    EXPECT_EQ(network->BufferedBytes(), 0u);
}

TEST_F(ControllerEndpoint, SendsHoweverLongTheDriverHasBeenSilent) {
    clock.Advance(60 * kPeerSilenceMs);
    controller.storeDoSave.RaiseCounted();
    const auto save = driver.Receive();
    ASSERT_TRUE(save);
    EXPECT_EQ(*save, FrameOf(controller.storeDoSave, controller));
    EXPECT_EQ(wire::GetInt(save->data() + wire::kOffSequence), 1);

    const Bytes presence = FrameOf(controller.clientClient, controller);
    EXPECT_EQ(network->Send(presence.data(), presence.size()),
              static_cast<int32_t>(presence.size()));
    EXPECT_EQ(driver.Receive(), presence);
}

TEST_F(ControllerEndpoint, HelloCanBeRepeated) {
    network->SendHello();  // as when the window comes back from the tray
    EXPECT_EQ(driver.Receive(), HelloBytes(wire::kSenderController));
}

// Only the driver's port is listened to: another program on the loopback can neither feed
// records nor take the controller's traffic.
TEST_F(ControllerEndpoint, DatagramsFromAnotherPortAreIgnored) {
    UdpPeer other;
    encoder.senseStatus.Value = 99.0f;
    other.SendTo(port, FrameOf(encoder.senseStatus, encoder));
    ASSERT_TRUE(WaitFor([&] { return network->IgnoredDatagrams() == 1; }));
    EXPECT_EQ(controller.senseStatus.Value, 0.0f);
    EXPECT_FALSE(network->Connected());

    controller.driverDoStop.RaiseCounted();
    EXPECT_EQ(driver.Receive(), FrameOf(controller.driverDoStop, controller));
    EXPECT_FALSE(other.Pending());
}

TEST_F(ControllerEndpoint, DatagramsFromOutsideTheLoopbackAreIgnored) {
    const auto foreign = NonLoopbackAddress();
    if (!foreign) {
        GTEST_SKIP() << "this machine has no IPv4 address outside 127.0.0.0/8 to send from";
    }
    UdpPeer outsider(*foreign);
    const int64_t heard = controller.LastHeard();
    encoder.senseStatus.Value = 99.0f;
    outsider.SendTo(port, FrameOf(encoder.senseStatus, encoder));
    ASSERT_TRUE(WaitFor([&] { return network->IgnoredDatagrams() == 1; }));
    EXPECT_EQ(controller.senseStatus.Value, 0.0f);
    EXPECT_EQ(controller.LastHeard(), heard);
    EXPECT_FALSE(network->Connected());

    controller.storeDoSave.RaiseCounted();  // still goes to the driver, not to the outsider
    EXPECT_EQ(driver.Receive(), FrameOf(controller.storeDoSave, controller));
    EXPECT_FALSE(outsider.Pending());
}

}  // namespace
}  // namespace kv::test
