// The socket of a program that talks to the driver (the Controller, kvctl): it sends to the
// driver's port, takes datagrams from that port alone, and those only while a program of our
// own user or root holds it (any user's with trustLoopback).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "transport/loopback_socket.h"
#include "transport/socket_owner.h"

namespace kv {

class ClientSocket {
public:
    struct Arrival {
        enum class Status {
            Datagram,  // `length` bytes from the driver's port, of a program we accept
            None,      // nothing came in time, or a signal cut the wait short
            Ignored,   // from another port, or from off the loopback
            Refused,   // from the driver's port, but another user's program holds it
            PeerGone,  // an earlier datagram found nobody on the driver's port (connected)
            Failed,    // any other error, a socket woken to end the wait among them
        };
        Status status = Status::None;
        size_t length = 0;
    };

    // The owner lookup is the system's; the gate admits our own uid and root, and keeps its
    // answers by clock.
    ClientSocket(UdpEndpoint peer, bool trustLoopback, const Clock& clock = DefaultClock());
    // The gate on a lookup of the caller's, for ownUid.
    ClientSocket(UdpEndpoint peer, std::unique_ptr<SocketOwnerLookup> lookup, uint32_t ownUid,
                 bool trustLoopback, const Clock& clock);
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // Binds local (port 0: one the system picks). Connected, the system passes on the
    // driver's datagrams alone and says when nobody listens on its port any more, as a tool
    // beside a running Controller wants; unconnected, the Controller's fixed port hears
    // whoever sends and the others are screened out here. Empty on success, else the
    // system's reason.
    std::string Open(UdpEndpoint local, bool connected);

    // One datagram to the driver; false when the system refused it. A refusal reported for an
    // earlier datagram marks the driver gone, and this one is sent again.
    bool Send(const uint8_t* bytes, size_t length);
    // One datagram, waiting as LoopbackSocket::Receive does; screened by its source.
    Arrival Receive(uint8_t* buffer, size_t capacity, int timeoutMs);

    // Whether the system said nothing listens on the driver's port any more; a datagram from
    // it clears the mark.
    bool PeerGone() const { return gone_; }
    // Who holds the driver's port, asked now; empty when nobody does or the system cannot say.
    std::optional<uint32_t> PeerOwner();
    UdpEndpoint Peer() const { return peer_; }
    // "127.0.0.1:11249", for messages.
    std::string PeerName() const;

    PeerGate& Gate() { return gate_; }
    const PeerGate& Gate() const { return gate_; }
    // For the owner's own locking around opening, waking and closing.
    LoopbackSocket& Socket() { return socket_; }

private:
    UdpEndpoint peer_;
    const Clock& clock_;
    bool connected_ = false;
    LoopbackSocket socket_;
    PeerGate gate_;
    bool gone_ = false;
};

}  // namespace kv
