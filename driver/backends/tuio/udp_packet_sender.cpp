// Boost.Asio backend of the TUIO packet sender.
#include "driver/backends/tuio/udp_packet_sender.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace TUIO {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

struct UdpPacketSender::Socket {
    asio::io_context io{1};
    Udp::socket socket{io};
    Udp::endpoint target;
    bool open = false;
};

UdpPacketSender::UdpPacketSender(const std::string& host, uint16_t port)
    : socket_(std::make_unique<Socket>()) {
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec || !address.is_v4()) {
        return;
    }
    socket_->target = Udp::endpoint(address, port);
    socket_->socket.open(Udp::v4(), ec);
    socket_->open = !ec;
}

UdpPacketSender::~UdpPacketSender() {
    boost::system::error_code ignored;
    socket_->socket.close(ignored);
}

bool UdpPacketSender::IsOpen() const {
    return socket_->open;
}

void UdpPacketSender::Send(const char* data, std::size_t size) {
    if (!socket_->open) {
        return;
    }
    // No client listening, a full socket buffer: the frame is lost, the next one follows.
    boost::system::error_code ignored;
    socket_->socket.send_to(asio::buffer(data, size), socket_->target, 0, ignored);
}

}  // namespace TUIO
