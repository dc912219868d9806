// A UDP socket on the loopback: the one way the programs open, bind, send and receive their
// datagrams (the Driver's and the Controller's endpoint, kvctl's link). Opening and closing
// are for one thread at a time; sends may come from several while it stays open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transport/socket_owner.h"

namespace kv {

enum class SendStatus {
    Sent,
    // The system reported that an earlier datagram found nobody on the connected peer's port;
    // this one was not sent.
    PeerGone,
    Failed,
};

struct Received {
    enum class Status {
        Datagram,  // `length` bytes from `source`
        None,      // nothing came in time, or a signal cut the wait short
        PeerGone,  // an earlier datagram found nobody on the connected peer's port
        Failed,    // any other error, a shut-down socket among them
    };
    Status status = Status::None;
    size_t length = 0;
    UdpEndpoint source;
};

class LoopbackSocket {
public:
    // Receive waits for a datagram however long it takes (or until WakeReceive).
    static constexpr int kWaitForever = -1;

    LoopbackSocket();
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    // Opens the socket, which programs started meanwhile do not inherit (they would keep the
    // port after this program has ended), binds it to local (port 0: one the system picks)
    // and, when peer is given, connects it there: the system then passes on the peer's
    // datagrams alone and reports when nobody listens on its port any more. Empty on success,
    // else the system's reason, with the socket closed again.
    std::string Open(UdpEndpoint local, std::optional<UdpEndpoint> peer = std::nullopt);
    bool IsOpen() const;
    // Where the socket is bound; port 0 while it is closed.
    UdpEndpoint Local() const;

    // One datagram to `to`, or (Send) to the connected peer.
    SendStatus SendTo(const uint8_t* bytes, size_t length, UdpEndpoint to);
    SendStatus Send(const uint8_t* bytes, size_t length);

    // One datagram into buffer: waiting up to timeoutMs for it (0: only one already there),
    // or, with kWaitForever, until one comes.
    Received Receive(uint8_t* buffer, size_t capacity, int timeoutMs);
    // The size of the next datagram waiting; 0 when there is none (or the system cannot say).
    size_t Waiting() const;

    // Ends a receive blocked on another thread: shutting the socket down ends it on Linux; a
    // datagram to ourselves does so wherever shutdown does not.
    void WakeReceive();
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kv
