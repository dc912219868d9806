// The datagram path between kvctl and a running Driver, as an interface so that the live
// commands can be driven by a scripted peer in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kv::kvctl {

class DatagramLink {
public:
    virtual ~DatagramLink() = default;
    // Sends one datagram to the driver; false when the system refused it.
    virtual bool Send(const uint8_t* bytes, size_t length) = 0;
    // Waits up to timeoutMs for one datagram from the driver and returns its size; 0 when
    // none came in time (or a signal cut the wait short).
    virtual size_t Receive(uint8_t* buffer, size_t capacity, int timeoutMs) = 0;
    // Whether the system said nothing listens on the driver's port any more (a datagram sent
    // there was refused): the driver has ended.
    virtual bool PeerGone() const = 0;
    // "127.0.0.1:11249": where the driver is expected, for messages.
    virtual std::string PeerName() const = 0;
    // Why datagrams from the driver's port were dropped (another user's program holds it);
    // empty when none was.
    virtual std::string Refusal() const { return {}; }
};

// A UDP socket on an ephemeral loopback port that talks to the driver on driverPort. Only
// datagrams from that port on the loopback, of a program of our own user or root (any user
// with trustLoopback), are taken, and a refusal from it is noticed. Null with a reason when
// the socket cannot be opened or another user's program holds the port.
std::unique_ptr<DatagramLink> OpenUdpLink(uint16_t driverPort, bool trustLoopback,
                                          std::string& error);

}  // namespace kv::kvctl
