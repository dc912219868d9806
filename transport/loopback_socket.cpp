// The loopback socket on Boost.Asio; the receive is the system's recvfrom, so that one call
// can wait, wait a while (poll) or not wait at all on the same blocking socket.
#include "transport/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <cerrno>

namespace kv {

namespace {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

Udp::endpoint ToAsio(UdpEndpoint endpoint) {
    return {asio::ip::address_v4(endpoint.address), endpoint.port};
}

SendStatus StatusOf(const boost::system::error_code& ec) {
    if (!ec) {
        return SendStatus::Sent;
    }
    return ec == asio::error::connection_refused ? SendStatus::PeerGone : SendStatus::Failed;
}

// A receive that brought no datagram.
Received Without(Received::Status status) {
    Received received;
    received.status = status;
    return received;
}

}  // namespace

struct LoopbackSocket::Impl {
    asio::io_context io{1};
    Udp::socket socket{io};
    UdpEndpoint local;
};

LoopbackSocket::LoopbackSocket() : impl_(std::make_unique<Impl>()) {}

LoopbackSocket::~LoopbackSocket() {
    Close();
}

std::string LoopbackSocket::Open(UdpEndpoint local, std::optional<UdpEndpoint> peer) {
    Udp::socket& socket = impl_->socket;
    boost::system::error_code ec;
    socket.open(Udp::v4(), ec);
    if (!ec && ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC) != 0) {
        ec = boost::system::error_code(errno, boost::system::system_category());
    }
    if (!ec) {
        socket.bind(ToAsio(local), ec);
    }
    if (!ec && peer) {
        socket.connect(ToAsio(*peer), ec);
    }
    Udp::endpoint bound;
    if (!ec) {
        bound = socket.local_endpoint(ec);
    }
    if (ec) {
        boost::system::error_code ignore;
        socket.close(ignore);
        return ec.message();
    }
    impl_->local = {bound.address().to_v4().to_uint(), bound.port()};
    return {};
}

bool LoopbackSocket::IsOpen() const {
    return impl_->socket.is_open();
}

UdpEndpoint LoopbackSocket::Local() const {
    return impl_->local;
}

SendStatus LoopbackSocket::SendTo(const uint8_t* bytes, size_t length, UdpEndpoint to) {
    boost::system::error_code ec;
    impl_->socket.send_to(asio::buffer(bytes, length), ToAsio(to), 0, ec);
    return StatusOf(ec);
}

SendStatus LoopbackSocket::Send(const uint8_t* bytes, size_t length) {
    boost::system::error_code ec;
    impl_->socket.send(asio::buffer(bytes, length), 0, ec);
    return StatusOf(ec);
}

Received LoopbackSocket::Receive(uint8_t* buffer, size_t capacity, int timeoutMs) {
    const int fd = impl_->socket.native_handle();
    const int flags = timeoutMs == kWaitForever ? 0 : MSG_DONTWAIT;
    for (;;) {
        if (timeoutMs > 0) {
            pollfd descriptor{fd, POLLIN, 0};
            if (::poll(&descriptor, 1, timeoutMs) <= 0) {
                return {};  // time-out, or a signal asking us to stop
            }
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = ::recvfrom(fd, buffer, capacity, flags,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && timeoutMs > 0) {
                continue;  // said to be readable, but nothing was there after all
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return {};
            }
            return Without(errno == ECONNREFUSED ? Received::Status::PeerGone
                                                 : Received::Status::Failed);
        }
        // A socket shut down by WakeReceive ends the wait without a datagram or its source.
        if (from.sin_family != AF_INET) {
            return Without(Received::Status::Failed);
        }
        return {Received::Status::Datagram,
                static_cast<size_t>(received),
                {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)}};
    }
}

size_t LoopbackSocket::Waiting() const {
    boost::system::error_code ec;
    const size_t waiting = impl_->socket.available(ec);
    return ec ? 0 : waiting;
}

void LoopbackSocket::WakeReceive() {
    if (!impl_->socket.is_open()) {
        return;
    }
    boost::system::error_code ec;
    impl_->socket.shutdown(Udp::socket::shutdown_receive, ec);
    const uint8_t wake = 0;
    impl_->socket.send_to(asio::buffer(&wake, 1), ToAsio(impl_->local), 0, ec);
}

void LoopbackSocket::Close() {
    boost::system::error_code ec;
    impl_->socket.close(ec);
    impl_->local = {};
}

}  // namespace kv
