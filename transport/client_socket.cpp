// The client's socket: sends to the driver's port and screens what comes back by its source
// and its source's owner.
#include "transport/client_socket.h"

#include <arpa/inet.h>
#include <unistd.h>

namespace kv {

ClientSocket::ClientSocket(UdpEndpoint peer, bool trustLoopback, const Clock& clock)
    : ClientSocket(peer, MakeSystemSocketOwnerLookup(), ::geteuid(), trustLoopback, clock) {}

ClientSocket::ClientSocket(UdpEndpoint peer, std::unique_ptr<SocketOwnerLookup> lookup,
                           uint32_t ownUid, bool trustLoopback, const Clock& clock)
    : peer_(peer), clock_(clock), gate_(std::move(lookup), ownUid, trustLoopback) {}

std::string ClientSocket::Open(UdpEndpoint local, bool connected) {
    connected_ = connected;
    gone_ = false;
    return socket_.Open(local, connected ? std::optional(peer_) : std::nullopt);
}

bool ClientSocket::Send(const uint8_t* bytes, size_t length) {
    SendStatus sent =
        connected_ ? socket_.Send(bytes, length) : socket_.SendTo(bytes, length, peer_);
    if (sent == SendStatus::PeerGone) {
        // The refusal of an earlier datagram, reported now; this one was not sent.
        gone_ = true;
        sent = socket_.Send(bytes, length);
    }
    return sent == SendStatus::Sent;
}

ClientSocket::Arrival ClientSocket::Receive(uint8_t* buffer, size_t capacity, int timeoutMs) {
    const Received received = socket_.Receive(buffer, capacity, timeoutMs);
    switch (received.status) {
        case Received::Status::Datagram:
            break;
        case Received::Status::None:
            return {};
        case Received::Status::PeerGone:
            gone_ = true;
            return {Arrival::Status::PeerGone, 0};
        case Received::Status::Failed:
            return {Arrival::Status::Failed, 0};
    }
    // The driver's port alone: another program on the loopback can neither feed records nor
    // count as the driver being heard.
    if (received.source.address != peer_.address || received.source.port != peer_.port) {
        return {Arrival::Status::Ignored, 0};
    }
    // Someone listens on the driver's port again, whatever was refused before.
    gone_ = false;
    if (gate_.Admit(peer_, socket_.Local(), clock_.NowMs()) != Admission::Accept) {
        return {Arrival::Status::Refused, 0};  // another user's program holds the port
    }
    return {Arrival::Status::Datagram, received.length};
}

std::optional<uint32_t> ClientSocket::PeerOwner() {
    return gate_.OwnerOf(peer_, socket_.Local());
}

std::string ClientSocket::PeerName() const {
    in_addr address{htonl(peer_.address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ":" + std::to_string(peer_.port);
}

}  // namespace kv
