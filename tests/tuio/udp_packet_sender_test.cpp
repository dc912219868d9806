// The UDP sender on loopback: the driver's TUIO output received by a real socket, a sender
// that cannot open or reach anyone leaving the output running, and the target's lookup.
#include <gtest/gtest.h>

#include "driver/backends/tuio/host_address.h"
#include "driver/backends/tuio/udp_packet_sender.h"
#include "driver/tuio/tuio_output.h"
#include "tests/support/process_support.h"
#include "tuio_test_support.h"

namespace kv {
namespace {

constexpr int kWaitMs = 10000;

test::OscBundle ReceiveBundle(test::UdpPeer& peer) {
    const auto bytes = peer.Receive(kWaitMs);
    if (!bytes) {
        return {};
    }
    return test::Decode(test::Datagram(bytes->begin(), bytes->end()));
}

TEST(TuioUdp, TheOutputsBundlesArriveOnALoopbackSocket) {
    test::UdpPeer client;
    ASSERT_NE(client.Port(), 0);
    test::ManualTuioClock clock;
    {
        const uint16_t port = client.Port();
        TuioOutput output(clock, [port]() -> std::unique_ptr<TUIO::PacketSender> {
            return std::make_unique<TUIO::UdpPacketSender>("127.0.0.1", port);
        });
        clock.Advance(10);
        output.SendFrame(0, 0.0f, 0.0f, 0, 0.0f, 0.0f);  // starts the session
        clock.Advance(10);
        output.SendFrame(2, 0.25f, 0.5f, 0, 0.0f, 0.0f);

        const test::OscBundle hello = ReceiveBundle(client);
        ASSERT_TRUE(hello.ok);
        EXPECT_EQ(hello.profile, "/tuio/2Dcur");
        EXPECT_EQ(ReceiveBundle(client).profile, "/tuio/2Dobj");
        const test::OscBundle touch = ReceiveBundle(client);
        ASSERT_TRUE(touch.ok);
        EXPECT_EQ(touch.Find("alive")->ints, std::vector<int32_t>{0});
        ASSERT_EQ(touch.All("set").size(), 1u);
        EXPECT_FLOAT_EQ(touch.Find("set")->floats[0], 0.25f);
        EXPECT_FLOAT_EQ(touch.Find("set")->floats[1], 0.5f);
    }
    EXPECT_EQ(ReceiveBundle(client).Find("fseq")->ints, std::vector<int32_t>{-1});
    EXPECT_EQ(ReceiveBundle(client).profile, "/tuio/2Dobj");
}

TEST(TuioUdp, AnAddressThatCannotBeUsedGivesAClosedSenderAndARunningOutput) {
    TUIO::UdpPacketSender bad("not an address", 3333);
    EXPECT_FALSE(bad.IsOpen());
    bad.Send("x", 1);

    test::ManualTuioClock clock;
    TuioOutput output(clock, [] { return std::make_unique<TUIO::UdpPacketSender>("::1", 1); });
    for (int i = 0; i < 5; ++i) {
        clock.Advance(10);
        output.SendFrame(2, 0.5f, 0.5f, 2, 0.6f, 0.6f);
    }
    ASSERT_NE(output.Server(), nullptr);
    EXPECT_FLOAT_EQ(output.Server()->CursorAt(1).X(), 0.6f);
}

TEST(TuioUdp, NobodyListeningIsNotAnError) {
    std::uint16_t freePort = 0;
    {
        test::UdpPeer gone;  // a port that was free a moment ago
        freePort = gone.Port();
    }
    TUIO::UdpPacketSender sender("127.0.0.1", freePort);
    ASSERT_TRUE(sender.IsOpen());
    for (int i = 0; i < 20; ++i) {
        sender.Send("#bundle", 8);
    }
    test::UdpPeer client;
    TUIO::UdpPacketSender reaching("127.0.0.1", client.Port());
    reaching.Send("#bundle", 8);
    EXPECT_TRUE(client.Receive(kWaitMs).has_value());
}

TEST(TuioUdp, TheTargetHostIsLookedUpAsAnIpv4Address) {
    for (const auto& [host, address] :
         std::vector<std::pair<std::string, std::string>>{{"127.0.0.1", "127.0.0.1"},
                                                          {"192.168.7.20", "192.168.7.20"},
                                                          {"localhost", "127.0.0.1"}}) {
        const TUIO::HostAddress found = TUIO::LookUpIpv4(host);
        EXPECT_EQ(found.address, address) << host << ": " << found.error;
    }
    const TUIO::HostAddress bad = TUIO::LookUpIpv4("bad..name");
    EXPECT_TRUE(bad.address.empty());
    EXPECT_NE(bad.error.find("'bad..name'"), std::string::npos) << bad.error;
}

}  // namespace
}  // namespace kv
