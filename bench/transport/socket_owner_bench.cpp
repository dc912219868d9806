// What the owner check costs: one lookup for a new peer (sock_diag, and /proc/net/udp where
// there is no udp_diag), with no and with 2000 other UDP sockets open, and the check of a
// datagram from a peer already looked up (the cache).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "transport/socket_owner.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
const kv::UdpEndpoint kReceiver{kLoopback, 11249};

// Bound UDP sockets on the loopback, closed at the end; the first is the one looked up.
class Sockets {
public:
    explicit Sockets(int count) {
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(kLoopback);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                break;
            }
            socklen_t length = sizeof address;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
            fds_.push_back(fd);
            if (i == 0) {
                first_ = {kLoopback, ntohs(address.sin_port)};
            }
        }
    }
    ~Sockets() {
        for (const int fd : fds_) {
            ::close(fd);
        }
    }
    Sockets(const Sockets&) = delete;
    Sockets& operator=(const Sockets&) = delete;
    kv::UdpEndpoint First() const { return first_; }
    size_t Count() const { return fds_.size(); }

private:
    std::vector<int> fds_;
    kv::UdpEndpoint first_;
};

void Lookup(benchmark::State& state, std::unique_ptr<kv::SocketOwnerLookup> lookup) {
    const Sockets sockets(1 + static_cast<int>(state.range(0)));
    if (sockets.Count() != static_cast<size_t>(1 + state.range(0)) ||
        !lookup->OwnerOf(sockets.First(), kReceiver)) {
        state.SkipWithError("cannot open the sockets or find their owner");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup->OwnerOf(sockets.First(), kReceiver));
    }
}

void BM_NewPeerSockDiag(benchmark::State& state) {
    Lookup(state, kv::MakeSockDiagLookup());
}
BENCHMARK(BM_NewPeerSockDiag)->Arg(0)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_NewPeerProcNetUdp(benchmark::State& state) {
    Lookup(state, kv::MakeProcNetUdpLookup());
}
BENCHMARK(BM_NewPeerProcNetUdp)->Arg(0)->Arg(2000)->Unit(benchmark::kMicrosecond);

// A datagram from a peer looked up less than a second ago.
void BM_DatagramOfAKnownPeer(benchmark::State& state) {
    const Sockets sockets(1);
    kv::PeerGate gate(kv::MakeSockDiagLookup(), ::geteuid(), false);
    if (gate.Admit(sockets.First(), kReceiver, 0) != kv::Admission::Accept) {
        state.SkipWithError("the lookup does not find our own socket");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(gate.Admit(sockets.First(), kReceiver, 1));
    }
}
BENCHMARK(BM_DatagramOfAKnownPeer)->Unit(benchmark::kNanosecond);

}  // namespace
