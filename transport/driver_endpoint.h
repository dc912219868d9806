// The driver's side of the UDP endpoint: a socket of its own on the driver's port, each source
// screened (loopback, our own user or root, whole frames), a slot per peer with its own
// liveness, a publish-all for each peer's first contact and hello (driver_endpoint_hellos.cpp),
// and sends to every live peer.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "transport/held_datagrams.h"
#include "transport/network_impl.h"

namespace kv {

inline constexpr int kReadyPollMs = 10;
// A hello's publish-all waits until the datagrams already queued have been read, so that a
// burst of hellos gets one answer; a stream that never lets up delays it by this many at most
// (dropped ones included).
inline constexpr size_t kMaxHelloDeferral = 256;
// While a publish-all is paced the socket is read this often, so that a flood never fills its
// queue; one look reads this many datagrams at most, so that the pacing goes on whatever comes.
inline constexpr int kReadSliceMs = 10;
inline constexpr int kMaxReadsPerLook = 1024;

// What became of a datagram read from the socket.
enum class Arrival { Taken, Dropped, None };

// One program talking to the driver. Each has its own liveness, so a kvctl session beside the
// Controller neither takes the Controller's traffic nor keeps a silent Controller "connected".
struct PeerSlot {
    std::atomic<uint64_t> endpoint{0};  // packed; 0 when the slot is free
    std::atomic<int64_t> lastHeard{0};  // on the registry's clock
    Relaxed<bool> connected = false;    // had its publish-all since it was last silent
    bool helloPending = false;          // receive thread only: a hello awaits its publish-all
};

// Set on the receive thread while it answers one peer (publish-all, the hello's DoReset):
// those records go to that peer only, not to everyone.
extern thread_local const Network::Impl* tDirectedBy;
extern thread_local uint64_t tDirectedTo;

class DirectedSends {
public:
    DirectedSends(const Network::Impl* by, uint64_t to) {
        tDirectedBy = by;
        tDirectedTo = to;
    }
    ~DirectedSends() { tDirectedBy = nullptr; }
    DirectedSends(const DirectedSends&) = delete;
    DirectedSends& operator=(const DirectedSends&) = delete;
};

struct DriverEndpoint final : Network::Impl {
    DriverEndpoint(Registry& owner, NetworkConfig configuration);

    std::string Open(UdpEndpoint local) override { return socket.Open(local); }
    LoopbackSocket& Socket() override { return socket; }
    PeerGate& Gate() override { return gate; }
    const PeerGate& Gate() const override { return gate; }
    bool Transmit(const uint8_t* bytes, size_t length, uint64_t to) override {
        return socket.SendTo(bytes, length, Unpack(to)) == SendStatus::Sent;
    }
    // To the peer being answered, or else to every peer heard within the last 5000 ms.
    int32_t Send(const uint8_t* bytes, size_t length) override;
    bool AwaitReady() override;
    void Serve() override;
    // The sender is told what the driver holds.
    void OnRefused(DataManipulation& record) override {
        const DirectedSends toSource(this, answering);
        record.Send();
    }
    void OnHello() override;
    bool Connected() const override;
    size_t LivePeers() const override;
    void OnPeersSilent() override;

    // The next datagram to act on, into receiveBuffer: one held during a publish-all first,
    // else one from the socket (waiting for it). False when nothing usable arrived (an error,
    // a datagram dropped, or shutdown). Stamps the peer on success.
    bool NextDatagram(size_t& received, PeerSlot*& from);
    // Whether a datagram read from source may be acted on; counts it when it is dropped.
    Arrival Screen(UdpEndpoint source, const uint8_t* bytes, size_t length);
    PeerSlot& SlotFor(uint64_t endpoint);
    void Handle(size_t received, PeerSlot* from);
    // The registry's publish-all, cut short when a stop is under way; the socket is read in
    // its pauses.
    void PublishAll();
    // Reads what has arrived (refused and malformed datagrams go at once) and holds the rest.
    void HoldArrivals();
    void Hold(const uint8_t* bytes, size_t length, uint64_t from);
    // Whether bytes hold a Driver/DoStop request not handled yet.
    bool StopRequested(const uint8_t* bytes, size_t length) const;
    // Whether the hellos waiting for their publish-all are to be answered now.
    bool HelloAnswersDue();
    void AnswerHellos();

    LoopbackSocket socket;
    PeerGate gate;
    std::array<PeerSlot, kMaxPeers> peers{};
    uint64_t answering = 0;             // receive thread: who sent the datagram being handled
    PeerSlot* answeringSlot = nullptr;  // its slot
    bool hellosPending = false;         // some slot has helloPending set
    size_t nextHelloSlot = 0;           // where the next search for a waiting hello begins
    size_t handledWhileHellosPending = 0;
    HeldDatagrams held;     // receive thread: taken during a publish-all, not yet acted on
    bool stopHeld = false;  // a stop request is among them: publish-alls end at once
    std::array<uint8_t, kReceiveBufferSize> arrivalBuffer{};
};

}  // namespace kv
