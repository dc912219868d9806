// The loopback socket every program opens: where it binds, what a receive returns (with and
// without waiting), what a connected socket takes and notices, and a blocked receive woken.
#include "transport/loopback_socket.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_support.h"

namespace kv::test {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
// Only ends a broken test: every wait here is for something already sent.
constexpr int kLongWaitMs = 20000;

using Bytes = std::vector<uint8_t>;

Bytes Got(const std::array<uint8_t, 64>& buffer, const Received& received) {
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(received.length)};
}

TEST(LoopbackSocket, TakesAPortOfItsOwnAndReceivesEachDatagramWithItsSource) {
    LoopbackSocket socket;
    ASSERT_EQ(socket.Open({kLoopback, 0}), "");
    ASSERT_TRUE(socket.IsOpen());
    EXPECT_EQ(socket.Local().address, kLoopback);
    ASSERT_NE(socket.Local().port, 0);

    UdpPeer peer;
    std::array<uint8_t, 64> buffer{};
    // Nothing there yet: neither a look nor a short wait finds anything.
    EXPECT_EQ(socket.Waiting(), 0u);
    EXPECT_EQ(socket.Receive(buffer.data(), buffer.size(), 0).status, Received::Status::None);
    EXPECT_EQ(socket.Receive(buffer.data(), buffer.size(), 1).status, Received::Status::None);

    ASSERT_TRUE(peer.SendTo(socket.Local().port, {1, 2, 3}));
    ASSERT_TRUE(peer.SendTo(socket.Local().port, {4, 5}));
    const Received first = socket.Receive(buffer.data(), buffer.size(), kLongWaitMs);
    ASSERT_EQ(first.status, Received::Status::Datagram);
    EXPECT_EQ(Got(buffer, first), (Bytes{1, 2, 3}));
    EXPECT_EQ(first.source.address, kLoopback);
    EXPECT_EQ(first.source.port, peer.Port());
    // The second is already there: its size is known and a look without waiting takes it.
    EXPECT_EQ(socket.Waiting(), 2u);
    const Received second = socket.Receive(buffer.data(), buffer.size(), 0);
    ASSERT_EQ(second.status, Received::Status::Datagram);
    EXPECT_EQ(Got(buffer, second), (Bytes{4, 5}));

    ASSERT_EQ(socket.SendTo(buffer.data(), 2, {kLoopback, peer.Port()}), SendStatus::Sent);
    EXPECT_EQ(peer.Receive(), (Bytes{4, 5}));
    EXPECT_EQ(peer.LastSourcePort(), socket.Local().port);

    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(socket.Local().port, 0);
}

TEST(LoopbackSocket, ATakenPortIsRefusedWithTheReasonAndCanBeTriedAgain) {
    auto holder = std::make_unique<UdpPeer>();
    const uint16_t port = holder->Port();
    LoopbackSocket socket;
    EXPECT_NE(socket.Open({kLoopback, port}).find("in use"), std::string::npos);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(socket.Local().port, 0);
    // Once the port is free, the same socket opens there.
    holder.reset();
    ASSERT_EQ(socket.Open({kLoopback, port}), "");
    EXPECT_TRUE(socket.IsOpen());
    EXPECT_EQ(socket.Local().port, port);
}

// A connected socket hears its peer alone, and learns from the system when nobody listens on
// the peer's port any more.
TEST(LoopbackSocket, AConnectedSocketTakesItsPeerAloneAndNoticesItGone) {
    auto peer = std::make_unique<UdpPeer>();
    const uint16_t peerPort = peer->Port();
    LoopbackSocket socket;
    ASSERT_EQ(socket.Open({kLoopback, 0}, UdpEndpoint{kLoopback, peerPort}), "");

    UdpPeer stranger;
    ASSERT_TRUE(stranger.SendTo(socket.Local().port, {9, 9}));
    ASSERT_TRUE(peer->SendTo(socket.Local().port, {7}));
    std::array<uint8_t, 64> buffer{};
    const Received got = socket.Receive(buffer.data(), buffer.size(), kLongWaitMs);
    ASSERT_EQ(got.status, Received::Status::Datagram);
    EXPECT_EQ(Got(buffer, got), Bytes{7});
    EXPECT_EQ(got.source.port, peerPort);
    EXPECT_EQ(socket.Receive(buffer.data(), buffer.size(), 0).status, Received::Status::None);

    const uint8_t hello = 1;
    ASSERT_EQ(socket.Send(&hello, 1), SendStatus::Sent);
    EXPECT_EQ(peer->Receive(), Bytes{1});

    peer.reset();
    ASSERT_EQ(socket.Send(&hello, 1), SendStatus::Sent);  // its refusal comes afterwards
    EXPECT_EQ(socket.Receive(buffer.data(), buffer.size(), kLongWaitMs).status,
              Received::Status::PeerGone);
}

TEST(LoopbackSocket, AReceiveBlockedOnAnotherThreadIsWoken) {
    LoopbackSocket socket;
    ASSERT_EQ(socket.Open({kLoopback, 0}), "");
    std::array<uint8_t, 64> buffer{};
    Received got;
    std::thread receiver(
        [&] { got = socket.Receive(buffer.data(), buffer.size(), LoopbackSocket::kWaitForever); });
    socket.WakeReceive();
    receiver.join();
    // Whatever ended the wait, it was nobody else's datagram.
    EXPECT_TRUE(got.status != Received::Status::Datagram || got.source.port == socket.Local().port);
}

}  // namespace
}  // namespace kv::test
