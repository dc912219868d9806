// The UDP endpoint's insides, shared by its files: network.cpp (socket, receive thread, sends,
// who may speak) and network_hellos.cpp (the driver's answer to a hello).
#pragma once

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "protocol/frame_cutter.h"
#include "protocol/relaxed.h"
#include "transport/client_socket.h"
#include "transport/held_datagrams.h"
#include "transport/loopback_socket.h"
#include "transport/network.h"

namespace kv {

inline constexpr size_t kReceiveBufferSize = 30000;
inline constexpr int kReadyPollMs = 10;
// A hello's publish-all waits until the datagrams already queued have been read, so that a
// burst of hellos gets one answer; a stream that never lets up delays it by this many at most
// (dropped ones included).
inline constexpr size_t kMaxHelloDeferral = 256;
// While a publish-all is paced the socket is read this often, so that a flood never fills its
// queue; one look reads this many datagrams at most, so that the pacing goes on whatever comes.
inline constexpr int kReadSliceMs = 10;
inline constexpr int kMaxReadsPerLook = 1024;

inline bool IsLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

// An endpoint packed into one word, so the receive thread can replace it while other threads
// send, without a lock: IPv4 address in the upper bits, port in the lowest 16. 0 is no one.
inline uint64_t Pack(UdpEndpoint endpoint) {
    return static_cast<uint64_t>(endpoint.address) << 16 | endpoint.port;
}

inline UdpEndpoint Unpack(uint64_t packed) {
    return {static_cast<uint32_t>(packed >> 16), static_cast<uint16_t>(packed & 0xFFFF)};
}

inline int32_t ClampMs(int64_t ms) {
    return static_cast<int32_t>(ms > INT32_MAX ? INT32_MAX : ms);
}

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

struct Network::Impl final : FrameSink {
    Impl(Registry& owner, NetworkConfig configuration)
        : registry(owner), config(std::move(configuration)) {
        resolved = Resolve();
        if (IsDriver()) {
            serverGate = std::make_unique<PeerGate>(MakeSystemSocketOwnerLookup(), ::geteuid(),
                                                    config.trustLoopback);
        } else {
            client = std::make_unique<ClientSocket>(UdpEndpoint{address, config.peerPort},
                                                    config.trustLoopback, registry.GetClock());
        }
        Gate().SetRefusalReport(config.onRefusal);
    }

    // False only for an address that can never be bound (off the loopback, malformed).
    bool Resolve();
    bool Bind();
    void Run();
    bool WaitForBind();
    // The next datagram to act on, into receiveBuffer: one held during a publish-all first,
    // else one from the socket (waiting for it). False when nothing usable arrived (an error,
    // a datagram dropped, or shutdown). Stamps the peer and its address on success.
    bool NextDatagram(size_t& received, PeerSlot*& from);
    // The controller's next datagram from the driver, into receiveBuffer; counts what the
    // client socket screened out.
    bool NextFromDriver(size_t& received);
    // Whether a datagram the driver read from source may be acted on; counts it when it is
    // dropped.
    Arrival Screen(UdpEndpoint source, const uint8_t* bytes, size_t length);
    void Stamp(uint64_t endpoint, PeerSlot*& from);
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
    // False when the datagram was not sent (the socket closed or stopping, or an error). The
    // driver's go to `to`; the controller's all go to the driver's port.
    bool SendDatagram(const uint8_t* bytes, size_t length, uint64_t to);
    int32_t SendToPeers(const uint8_t* bytes, size_t length);
    void SendHello();
    void Stop();
    bool SleepUnlessStopping(int ms) const;

    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const DeliverResult result = registry.Deliver(buffer, start, validBytes);
        // A record the driver did not take: the sender is told what the driver holds.
        if (result.refused && IsDriver()) {
            const DirectedSends toSource(this, answering);
            result.record->Send();
        }
    }
    void OnHello() override;

    bool IsDriver() const { return config.role == ProgramRole::Driver; }
    int64_t Now() const { return registry.GetClock().NowMs(); }

    // The driver listens on a socket of its own and screens every source itself; the controller
    // talks through a client socket, which hears the driver's port alone.
    LoopbackSocket& Socket() { return client ? client->Socket() : serverSocket; }
    // Receive thread, and PeerPortOwner under its own lock.
    PeerGate& Gate() { return client ? client->Gate() : *serverGate; }
    const PeerGate& Gate() const { return client ? client->Gate() : *serverGate; }

    Registry& registry;
    const NetworkConfig config;
    uint32_t address = 0;  // bound and first peer, host byte order
    bool resolved = false;
    std::atomic<bool> ok{false};
    mutable std::mutex errorMutex;
    std::string error;
    std::atomic<uint16_t> localPort{0};
    bool registered = false;

    LoopbackSocket serverSocket;
    std::unique_ptr<PeerGate> serverGate;
    std::unique_ptr<ClientSocket> client;
    // Senders share the socket; only opening and closing it need it alone.
    std::shared_mutex socketMutex;
    // The controller's one peer (the driver's port) and where the driver's hello goes.
    std::atomic<uint64_t> peer{0};
    std::array<PeerSlot, kMaxPeers> peers{};
    uint64_t answering = 0;             // receive thread: who sent the datagram being handled
    PeerSlot* answeringSlot = nullptr;  // its slot (null on the controller's side)
    bool hellosPending = false;         // some slot has helloPending set
    size_t nextHelloSlot = 0;           // where the next search for a waiting hello begins
    size_t handledWhileHellosPending = 0;
    HeldDatagrams held;     // receive thread: taken during a publish-all, not yet acted on
    bool stopHeld = false;  // a stop request is among them: publish-alls end at once

    FrameCutter cutter;
    std::array<uint8_t, kReceiveBufferSize> receiveBuffer{};
    std::array<uint8_t, kReceiveBufferSize> arrivalBuffer{};

    Relaxed<bool> connected = false;  // the controller's flag
    Relaxed<bool> running = false;
    Relaxed<bool> ready = false;
    Relaxed<bool> stopping = false;
    // Sequentially consistent, so that whoever sees a count also sees what the datagram did.
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> ignored{0};
    std::atomic<size_t> buffered{0};

    std::mutex stopMutex;
    bool stopped = false;
    std::thread thread;
};

}  // namespace kv
