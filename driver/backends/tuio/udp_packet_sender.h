// The TUIO datagrams over a Boost.Asio UDP socket to a client on this machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/core/packet_sender.h"

namespace TUIO {

class UdpPacketSender final : public PacketSender {
public:
    // Opens an IPv4 UDP socket aimed at host:port. A host that does not parse or a socket that
    // cannot be opened leaves the sender closed: every Send is then a no-operation.
    UdpPacketSender(const std::string& host, uint16_t port);
    ~UdpPacketSender() override;
    UdpPacketSender(const UdpPacketSender&) = delete;
    UdpPacketSender& operator=(const UdpPacketSender&) = delete;

    bool IsOpen() const;
    void Send(const char* data, std::size_t size) override;

private:
    struct Socket;  // keeps Boost.Asio out of this header
    std::unique_ptr<Socket> socket_;
};

}  // namespace TUIO
