// The controller's side of the UDP endpoint: its client socket, what it reads from the driver
// and what it sends there.
#include "transport/controller_endpoint.h"

#include <exception>

namespace kv {

ControllerEndpoint::ControllerEndpoint(Registry& owner, NetworkConfig configuration)
    : Impl(owner, std::move(configuration)),
      client(UdpEndpoint{address, config.peerPort}, config.trustLoopback, registry.GetClock()) {
    client.Gate().SetRefusalReport(config.onRefusal);
    // The controller is running from the start; the driver's start-up sets the flag itself.
    running = true;
}

int32_t ControllerEndpoint::Send(const uint8_t* bytes, size_t length) {
    if (!SendDatagram(bytes, length, peer)) {
        OnSendFailed();
        return 0;
    }
    return static_cast<int32_t>(length);
}

void ControllerEndpoint::Serve() {
    size_t received = 0;
    if (!NextFromDriver(received)) {
        return;
    }
    peer = Pack(client.Peer());
    // A driver heard again after silence may be another one, or may have changed since: what
    // it told before counts no more, and its publish-all follows.
    if (registry.SilenceMs() >= kPeerSilenceMs) {
        registry.ForgetArrivals();
    }
    registry.MarkPeerHeard();
    connected = true;
    // Nothing here throws by design; should anything still do so, the datagram is dropped and
    // the endpoint keeps serving.
    try {
        cutter.Append(receiveBuffer.data(), received, *this);
    } catch (const std::exception&) {
    }
    Counted();
}

// What comes from elsewhere than the driver's port, or from another user's program there, never
// counts as the driver being heard.
bool ControllerEndpoint::NextFromDriver(size_t& received) {
    const ClientSocket::Arrival arrival =
        client.Receive(receiveBuffer.data(), receiveBuffer.size(), LoopbackSocket::kWaitForever);
    if (stopping) {
        return false;
    }
    switch (arrival.status) {
        case ClientSocket::Arrival::Status::Datagram:
            received = arrival.length;
            return true;
        case ClientSocket::Arrival::Status::Ignored:
            ++ignored;
            ++datagrams;
            return false;
        case ClientSocket::Arrival::Status::Refused:
            ++datagrams;
            return false;
        default:
            connected = false;
            return false;
    }
}

}  // namespace kv
