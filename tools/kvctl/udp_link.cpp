// The UDP backend of kvctl's datagram link: Boost.Asio for the socket, poll() for the wait.
#include <poll.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "tools/kvctl/datagram_link.h"

namespace kv::kvctl {

namespace {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

class UdpLink final : public DatagramLink {
public:
    explicit UdpLink(uint16_t driverPort)
        : socket_(io_), driver_(asio::ip::address_v4::loopback(), driverPort) {}

    bool Open(std::string& error) {
        boost::system::error_code ec;
        socket_.open(Udp::v4(), ec);
        if (!ec) {
            // An ephemeral port, so that kvctl works beside a running Controller.
            socket_.bind(Udp::endpoint(asio::ip::address_v4::loopback(), 0), ec);
        }
        if (!ec) {
            // Connected, so that the system reports a port nobody listens on any more (the
            // driver ended) and passes on the driver's datagrams alone.
            socket_.connect(driver_, ec);
        }
        if (!ec) {
            socket_.non_blocking(true, ec);
        }
        if (ec) {
            error = "cannot open a UDP socket on 127.0.0.1: " + ec.message();
            return false;
        }
        return true;
    }

    bool Send(const uint8_t* bytes, size_t length) override {
        boost::system::error_code ec;
        socket_.send(asio::buffer(bytes, length), 0, ec);
        if (ec == asio::error::connection_refused) {
            // The refusal of an earlier datagram, reported now; this one was not sent.
            gone_ = true;
            socket_.send(asio::buffer(bytes, length), 0, ec);
        }
        return !ec;
    }

    size_t Receive(uint8_t* buffer, size_t capacity, int timeoutMs) override {
        for (;;) {
            pollfd descriptor{socket_.native_handle(), POLLIN, 0};
            if (::poll(&descriptor, 1, timeoutMs < 0 ? 0 : timeoutMs) <= 0) {
                return 0;  // time-out, or a signal asking us to stop
            }
            boost::system::error_code ec;
            const size_t received = socket_.receive(asio::buffer(buffer, capacity), 0, ec);
            if (ec == asio::error::would_block) {
                continue;
            }
            if (ec == asio::error::connection_refused) {
                // An earlier datagram found nobody on the driver's port.
                gone_ = true;
                return 0;
            }
            if (ec) {
                return 0;
            }
            // The connected socket takes datagrams from the driver's port alone; one from it
            // means someone listens there again, whatever was refused before.
            gone_ = false;
            return received;
        }
    }

    bool PeerGone() const override { return gone_; }

    std::string PeerName() const override {
        return driver_.address().to_string() + ":" + std::to_string(driver_.port());
    }

private:
    asio::io_context io_{1};
    Udp::socket socket_;
    Udp::endpoint driver_;
    bool gone_ = false;
};

}  // namespace

std::unique_ptr<DatagramLink> OpenUdpLink(uint16_t driverPort, std::string& error) {
    auto link = std::make_unique<UdpLink>(driverPort);
    if (!link->Open(error)) {
        return nullptr;
    }
    return link;
}

}  // namespace kv::kvctl
