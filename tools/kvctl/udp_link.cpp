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
        socket_.send_to(asio::buffer(bytes, length), driver_, 0, ec);
        return !ec;
    }

    size_t Receive(uint8_t* buffer, size_t capacity, int timeoutMs) override {
        for (;;) {
            pollfd descriptor{socket_.native_handle(), POLLIN, 0};
            if (::poll(&descriptor, 1, timeoutMs < 0 ? 0 : timeoutMs) <= 0) {
                return 0;  // time-out, or a signal asking us to stop
            }
            Udp::endpoint source;
            boost::system::error_code ec;
            const size_t received =
                socket_.receive_from(asio::buffer(buffer, capacity), source, 0, ec);
            if (ec == asio::error::would_block) {
                continue;
            }
            if (ec) {
                // Port unreachable from an earlier send to a driver that is not there.
                return 0;
            }
            // Anything not from the driver is dropped; the caller's deadline decides whether
            // to wait on.
            return source == driver_ ? received : 0;
        }
    }

    std::string PeerName() const override {
        return driver_.address().to_string() + ":" + std::to_string(driver_.port());
    }

private:
    asio::io_context io_{1};
    Udp::socket socket_;
    Udp::endpoint driver_;
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
