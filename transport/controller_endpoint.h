// The controller's side of the UDP endpoint: a client socket that hears the driver's port
// alone, and only while a program of our own user's (or root's) holds it.
#pragma once

#include <memory>

#include "transport/client_socket.h"
#include "transport/network_impl.h"

namespace kv {

struct ControllerEndpoint final : Network::Impl {
    ControllerEndpoint(Registry& owner, NetworkConfig configuration);

    std::string Open(UdpEndpoint local) override { return client.Open(local, false); }
    LoopbackSocket& Socket() override { return client.Socket(); }
    PeerGate& Gate() override { return client.Gate(); }
    const PeerGate& Gate() const override { return client.Gate(); }
    bool Transmit(const uint8_t* bytes, size_t length, uint64_t to) override {
        (void)to;  // always the driver's port
        return client.Send(bytes, length);
    }
    // A failed send marks the driver gone until it is heard again.
    void OnSendFailed() override { connected = false; }
    int32_t Send(const uint8_t* bytes, size_t length) override;
    void Serve() override;
    // The driver says hello as it starts: a new driver, whose records are still to come.
    void OnHello() override { registry.ForgetArrivals(); }
    bool Connected() const override { return connected; }

    // The next datagram from the driver, into receiveBuffer; counts what the client socket
    // screened out.
    bool NextFromDriver(size_t& received);

    ClientSocket client;
    Relaxed<bool> connected = false;  // the driver is talking
};

}  // namespace kv
