// Who sent a datagram: the lines of the kernel's UDP table, the admission rule with its cache,
// and both lookups against a socket of this process.
#include "transport/socket_owner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <vector>

namespace kv {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
const UdpEndpoint kDriver{kLoopback, 11249};

TEST(ProcNetUdp, ALineNamesTheOwnerOfTheSenderOnly) {
    const UdpEndpoint sender{kLoopback, 0x9C40};  // port 40000
    struct Row {
        const char* line;
        std::optional<uint32_t> uid;
    };
    const Row rows[] = {
        // bound to 127.0.0.1:40000, unconnected
        {"  12: 0100007F:9C40 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000  0 "
         "4242 2 0000000000000000 0",
         1000},
        // bound to any address on the port
        {"  3: 00000000:9C40 00000000:0000 07 00000000:00000000 00:00000000 00000000  0  0 1 2", 0},
        // connected to the driver's port
        {"  4: 0100007F:9C40 0100007F:2BF1 01 00000000:00000000 00:00000000 00000000 65534 0 1",
         65534},
        // connected elsewhere, another port, another address, the header, a cut line
        {"  5: 0100007F:9C40 0100007F:2BF2 01 00000000:00000000 00:00000000 00000000 7 0 1", {}},
        {"  6: 0100007F:9C41 00000000:0000 07 00000000:00000000 00:00000000 00000000 7 0 1", {}},
        {"  7: 0200007F:9C40 00000000:0000 07 00000000:00000000 00:00000000 00000000 7 0 1", {}},
        {"  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid", {}},
        {"  8: 0100007F:9C40 00000000:0000 07", {}},
        {"  9: 0100007F:9C40 00000000:0000 07 00000000:00000000 00:00000000 00000000 -1 0 1", {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProcNetUdpOwner(row.line, sender, kDriver), row.uid) << row.line;
    }
}

// A lookup that answers from a table and counts its calls.
class TableLookup final : public SocketOwnerLookup {
public:
    explicit TableLookup(std::map<uint16_t, uint32_t>& owners, int& calls)
        : owners_(owners), calls_(calls) {}
    std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint) override {
        ++calls_;
        const auto found = owners_.find(sender.port);
        return found == owners_.end() ? std::nullopt : std::optional<uint32_t>(found->second);
    }
    const char* Name() const override { return "table"; }

private:
    std::map<uint16_t, uint32_t>& owners_;
    int& calls_;
};

TEST(PeerGate, TakesOurOwnAndRootsProgramsAndNamesEachOtherSourceOnce) {
    std::map<uint16_t, uint32_t> owners = {{1, 1000}, {2, 0}, {3, 65534}, {4, 1001}};
    int calls = 0;
    PeerGate gate(std::make_unique<TableLookup>(owners, calls), 1000, false);
    std::vector<std::pair<std::optional<uint32_t>, uint16_t>> said;
    gate.SetRefusalReport([&said](std::optional<uint32_t> uid, uint16_t port, uint64_t) {
        said.emplace_back(uid, port);
    });
    const auto admit = [&gate](uint16_t port, int64_t now) {
        return gate.Admit({kLoopback, port}, kDriver, now) == Admission::Accept;
    };
    EXPECT_TRUE(admit(1, 0));
    EXPECT_TRUE(admit(2, 0));
    EXPECT_FALSE(admit(3, 0));  // another user namespace, or nobody
    EXPECT_FALSE(admit(4, 0));
    EXPECT_FALSE(admit(5, 0));  // no such socket
    EXPECT_FALSE(admit(4, 10));
    EXPECT_EQ(calls, 5);  // the second datagram from port 4 was answered from the cache
    EXPECT_EQ(gate.Refused(), 4u);
    EXPECT_EQ(gate.LastRefusedUid(), 1001u);
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0], std::make_pair(std::optional<uint32_t>(65534), uint16_t{3}));
    EXPECT_EQ(said[2], std::make_pair(std::optional<uint32_t>(), uint16_t{5}));

    // A port that changed hands is looked up again after a second at most.
    owners[1] = 1001;
    EXPECT_TRUE(admit(1, PeerGate::kCacheMs - 1));
    EXPECT_FALSE(admit(1, PeerGate::kCacheMs));
    EXPECT_EQ(said.size(), 4u);

    // A program of ours that has ended: what it sent before is still taken for a while.
    owners.erase(2);
    EXPECT_TRUE(admit(2, PeerGate::kClosedGraceMs - 1));
    EXPECT_FALSE(admit(2, PeerGate::kClosedGraceMs));
}

// Another user's flood from 200 ports, each sending every 50 ms for 25 s: a lookup per source a
// second (not one a datagram), and at most so many lines per interval, each source named once and
// the sources not named yet counted in every line.
TEST(PeerGate, AFloodFromManyPortsIsLookedUpOnceASecondAndNamedAtABoundedRate) {
    constexpr uint16_t kSources = 200;
    constexpr int64_t kFloodMs = 25000;
    std::map<uint16_t, uint32_t> owners;
    for (uint16_t port = 1; port <= kSources; ++port) {
        owners[port] = 65534;
    }
    int calls = 0;
    PeerGate gate(std::make_unique<TableLookup>(owners, calls), 1000, false);
    std::map<uint16_t, int> named;
    std::vector<uint64_t> unnamed;
    gate.SetRefusalReport([&](std::optional<uint32_t>, uint16_t port, uint64_t notYet) {
        ++named[port];
        unnamed.push_back(notYet);
    });
    for (int64_t now = 0; now < kFloodMs; now += 50) {
        for (uint16_t port = 1; port <= kSources; ++port) {
            ASSERT_EQ(gate.Admit({kLoopback, port}, kDriver, now), Admission::Refuse);
        }
    }
    EXPECT_EQ(calls, kSources * kFloodMs / PeerGate::kCacheMs);
    EXPECT_EQ(gate.Refused(), uint64_t{kSources} * kFloodMs / 50);
    const size_t intervals =
        (kFloodMs + PeerGate::kReportIntervalMs - 1) / PeerGate::kReportIntervalMs;
    EXPECT_EQ(unnamed.size(), intervals * PeerGate::kReportsPerInterval);
    for (const auto& [port, times] : named) {
        EXPECT_EQ(times, 1) << "port " << port;
    }
    // Every source is either named or among those counted as not named yet.
    ASSERT_FALSE(unnamed.empty());
    EXPECT_EQ(named.size() + unnamed.back(), size_t{kSources});
}

TEST(PeerGate, WithoutALookupOnlyATrustedLoopbackIsTaken) {
    PeerGate refusing(nullptr, 1000, false);
    EXPECT_EQ(refusing.Admit({kLoopback, 1}, kDriver, 0), Admission::Refuse);
    PeerGate trusting(nullptr, 1000, true);
    EXPECT_EQ(trusting.Admit({kLoopback, 1}, kDriver, 0), Admission::Accept);
}

// Both lookups find a socket of this process, bound and connected to the "driver", as ours.
TEST(SocketOwnerLookup, BothFindASocketOfThisProcess) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const UdpEndpoint sender{kLoopback, ntohs(address.sin_port)};
    sockaddr_in driver{};
    driver.sin_family = AF_INET;
    driver.sin_addr.s_addr = htonl(kLoopback);
    driver.sin_port = htons(kDriver.port);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&driver), sizeof driver), 0);

    auto procLookup = MakeProcNetUdpLookup();
    EXPECT_EQ(procLookup->OwnerOf(sender, kDriver), ::geteuid());
    EXPECT_EQ(procLookup->OwnerOf(sender, {kLoopback, 11250}), std::nullopt);
    auto diagLookup = MakeSockDiagLookup();
    const auto found = diagLookup->OwnerOf(sender, kDriver);
    if (!found) {
        ::close(fd);
        GTEST_SKIP() << "no socket diagnostics here (a kernel without udp_diag, or qemu-user, "
                        "which does not pass NETLINK_SOCK_DIAG on)";
    }
    EXPECT_EQ(*found, ::geteuid());
    ::close(fd);
    EXPECT_EQ(diagLookup->OwnerOf(sender, kDriver), std::nullopt);  // gone
}

}  // namespace
}  // namespace kv
