// The UDP endpoint of each program: the socket, the peer's address, the receive thread that
// cuts datagrams into frames for the registry, and the sending side of the transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "protocol/registry.h"
#include "protocol/transport.h"
#include "transport/socket_owner.h"

namespace kv {

constexpr uint16_t kDriverPort = 11249;
constexpr uint16_t kControllerPort = 11243;

struct NetworkConfig {
    NetworkConfig() = default;
    NetworkConfig(ProgramRole programRole, uint16_t local, uint16_t peer,
                  std::string loopbackAddress = "127.0.0.1")
        : role(programRole),
          localPort(local),
          peerPort(peer),
          address(std::move(loopbackAddress)) {}

    ProgramRole role = ProgramRole::Driver;
    uint16_t localPort = kDriverPort;  // 0: an ephemeral port (tools)
    uint16_t peerPort = kControllerPort;
    std::string address = "127.0.0.1";  // bound and first peer; loopback only
    // Take datagrams of every local user, not only of our own and root (--trust-loopback).
    bool trustLoopback = false;
    // Told once per source whose datagrams are refused, at a bounded rate (the programs say it
    // under --verbose).
    PeerGate::RefusalReport onRefusal;

    // The production settings of each program.
    static NetworkConfig ForDriver() { return {ProgramRole::Driver, kDriverPort, kControllerPort}; }
    static NetworkConfig ForController() {
        return {ProgramRole::Controller, kControllerPort, kDriverPort};
    }
};

// The driver keeps this many peers at once: the Controller and a few kvctl sessions.
constexpr size_t kMaxPeers = 8;
// How long a failed bind waits before it is tried again.
constexpr int kBindRetryMs = 1000;

class Network final : public Transport {
public:
    // Binds the socket and starts the receive thread; registers itself as the registry's
    // transport. A port that is taken does not stop the endpoint: the receive thread tries
    // the bind again every second, and Ok() turns true once it succeeds. Only an address off
    // the loopback is refused for good (Error() says why and nothing runs).
    Network(Registry& registry, NetworkConfig config);
    ~Network() override;  // Stop()
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // True while the socket is bound.
    bool Ok() const;
    // Why the socket is not bound (empty once it is).
    std::string Error() const;
    uint16_t LocalPort() const;

    // What the receive thread has seen, for tests and tools: datagrams received, those
    // ignored because their source is not on the loopback (or, for the controller, not the
    // driver's port; for the driver, because they hold no whole frame, or because too many
    // waited while a publish-all was sent), and bytes waiting in the cutter.
    uint64_t ReceivedDatagrams() const;
    uint64_t IgnoredDatagrams() const;
    // Datagrams dropped because another user's program sent them (or, without a way to tell,
    // any program).
    uint64_t RefusedDatagrams() const;
    // False when the system cannot say who sends and the loopback is not trusted: every
    // datagram is then refused (NoOwnerLookupMessage says so).
    bool CanTellSenders() const;
    // Who owns the socket on the peer's port, asked now: the controller's way to say that the
    // driver's port is held by another user's program. Empty when nobody holds it or the
    // system cannot say.
    std::optional<uint32_t> PeerPortOwner() const;
    // Whether a datagram of that uid would be taken.
    bool Accepts(uint32_t uid) const;
    size_t BufferedBytes() const;

    // Sends one datagram. The controller sends to the driver's port; the driver sends
    // to every peer heard within the last 5000 ms (see Send in the implementation).
    int32_t Send(const uint8_t* bytes, size_t length) override;
    void OnPeersSilent() override;
    void SendHello();

    // The driver's receive thread waits for this mark before it says hello and listens.
    void SetReady();
    // Controller: the driver is talking. Driver: some peer is connected.
    bool Connected() const;
    // Driver: peers heard within the last 5000 ms.
    size_t LivePeers() const;
    void SetRunning(bool running);
    bool Running() const;

    // Closes the socket and joins the receive thread; safe to call twice.
    void Stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kv
