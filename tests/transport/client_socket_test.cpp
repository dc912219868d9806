// The client's socket against a plain socket in the driver's place: whose datagrams it takes,
// who it refuses and when a port that changed hands is noticed, and a driver that ends and
// comes back on a connected socket.
#include "transport/client_socket.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <map>
#include <memory>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/process_support.h"

namespace kv::test {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kOwnUid = 1000;
constexpr uint32_t kOtherUid = 4242;
// Only ends a broken test: every wait here is for something already sent.
constexpr int kLongWaitMs = 20000;

using Bytes = std::vector<uint8_t>;
using Status = ClientSocket::Arrival::Status;

// Owners by port; a port missing has no owner to be found.
class PortOwners final : public SocketOwnerLookup {
public:
    explicit PortOwners(std::map<uint16_t, uint32_t>& owners) : owners_(owners) {}
    std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint) override {
        const auto found = owners_.find(sender.port);
        return found == owners_.end() ? std::nullopt : std::optional<uint32_t>(found->second);
    }
    const char* Name() const override { return "ports"; }

private:
    std::map<uint16_t, uint32_t>& owners_;
};

class ClientAgainstADriver : public ::testing::Test {
protected:
    std::unique_ptr<ClientSocket> Client(bool connected, bool trustLoopback = false) {
        auto client = std::make_unique<ClientSocket>(UdpEndpoint{kLoopback, driver.Port()},
                                                     std::make_unique<PortOwners>(owners), kOwnUid,
                                                     trustLoopback, clock);
        EXPECT_EQ(client->Open({kLoopback, 0}, connected), "");
        return client;
    }

    ClientSocket::Arrival Receive(ClientSocket& client, int timeoutMs = kLongWaitMs) {
        return client.Receive(buffer.data(), buffer.size(), timeoutMs);
    }

    Bytes Got(const ClientSocket::Arrival& arrival) const {
        return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(arrival.length)};
    }

    FakeClock clock;
    UdpPeer driver;
    std::map<uint16_t, uint32_t> owners{{driver.Port(), kOwnUid}};
    std::array<uint8_t, 64> buffer{};
};

// The Controller's way: a socket that anyone can send to, of which the driver's port alone is
// heard; sends go to the driver's port.
TEST_F(ClientAgainstADriver, UnconnectedItHearsTheDriversPortAloneAndSendsThere) {
    auto client = Client(false);
    const uint16_t port = client->Socket().Local().port;
    EXPECT_EQ(client->PeerName(), "127.0.0.1:" + std::to_string(driver.Port()));

    UdpPeer stranger;
    owners[stranger.Port()] = kOwnUid;  // even a program of our own on another port
    ASSERT_TRUE(stranger.SendTo(port, {9, 9}));
    EXPECT_EQ(Receive(*client).status, Status::Ignored);
    ASSERT_TRUE(driver.SendTo(port, {1, 2, 3}));
    const auto arrival = Receive(*client);
    ASSERT_EQ(arrival.status, Status::Datagram);
    EXPECT_EQ(Got(arrival), (Bytes{1, 2, 3}));
    EXPECT_EQ(Receive(*client, 0).status, Status::None);

    const uint8_t hello[] = {0, 0xFF, 2};
    ASSERT_TRUE(client->Send(hello, sizeof hello));
    EXPECT_EQ(driver.Receive(), Bytes(hello, hello + sizeof hello));
    EXPECT_EQ(driver.LastSourcePort(), port);
    EXPECT_FALSE(stranger.Pending());
    EXPECT_EQ(client->Gate().Refused(), 0u);
}

// Another user's program on the driver's port is named and never heard; a port that changes
// hands is noticed once the gate's answer for it has aged, on the clock it was given.
TEST_F(ClientAgainstADriver, AnotherUsersProgramOnTheDriversPortIsRefused) {
    auto client = Client(true);
    const uint16_t port = client->Socket().Local().port;
    EXPECT_EQ(client->PeerOwner(), kOwnUid);
    ASSERT_TRUE(driver.SendTo(port, {1}));
    EXPECT_EQ(Receive(*client).status, Status::Datagram);

    owners[driver.Port()] = kOtherUid;
    EXPECT_EQ(client->PeerOwner(), kOtherUid);  // asked now, not from the gate's memory
    ASSERT_TRUE(driver.SendTo(port, {2}));
    EXPECT_EQ(Receive(*client).status, Status::Datagram);  // the last answer still holds
    clock.Advance(PeerGate::kCacheMs);
    ASSERT_TRUE(driver.SendTo(port, {3}));
    EXPECT_EQ(Receive(*client).status, Status::Refused);
    EXPECT_EQ(client->Gate().Refused(), 1u);
    EXPECT_EQ(client->Gate().LastRefusedUid(), kOtherUid);

    // Nobody to be found on the port is refused too; trusting the loopback takes anyone.
    owners.clear();
    clock.Advance(PeerGate::kCacheMs);
    ASSERT_TRUE(driver.SendTo(port, {4}));
    EXPECT_EQ(Receive(*client).status, Status::Refused);
    owners[driver.Port()] = kOtherUid;
    auto trusting = Client(true, true);
    ASSERT_TRUE(driver.SendTo(trusting->Socket().Local().port, {5}));
    const auto taken = Receive(*trusting);
    ASSERT_EQ(taken.status, Status::Datagram);
    EXPECT_EQ(Got(taken), Bytes{5});
}

// kvctl's way: connected, so that a driver that has ended is noticed, by a receive or by a
// send, and one that listens on the port again clears the mark.
TEST_F(ClientAgainstADriver, ConnectedItNoticesTheDriverGoneAndBackAgain) {
    auto running = std::make_unique<UdpPeer>();
    const uint16_t driverPort = running->Port();
    owners[driverPort] = kOwnUid;
    ClientSocket client({kLoopback, driverPort}, std::make_unique<PortOwners>(owners), kOwnUid,
                        false, clock);
    ASSERT_EQ(client.Open({kLoopback, 0}, true), "");
    const uint16_t port = client.Socket().Local().port;
    const uint8_t record[] = {0, 0xFF, 0x10};
    const Bytes sent(record, record + sizeof record);
    ASSERT_TRUE(client.Send(record, sizeof record));
    EXPECT_EQ(running->Receive(), sent);
    EXPECT_FALSE(client.PeerGone());

    running.reset();  // the driver ends
    ASSERT_TRUE(client.Send(record, sizeof record));
    EXPECT_EQ(Receive(client).status, Status::PeerGone);
    EXPECT_TRUE(client.PeerGone());

    running = std::make_unique<UdpPeer>("127.0.0.1", driverPort);
    ASSERT_TRUE(running->SendTo(port, {1}));
    EXPECT_EQ(Receive(client).status, Status::Datagram);
    EXPECT_FALSE(client.PeerGone());

    // Told at a send, the refusal marks the driver gone and that datagram is still sent.
    running.reset();
    bool everySent = true;
    EXPECT_TRUE(WaitFor([&] {
        everySent = client.Send(record, sizeof record) && everySent;
        return client.PeerGone();
    }));
    EXPECT_TRUE(everySent);
}

}  // namespace
}  // namespace kv::test
