// The UDP backend of kvctl's datagram link: Boost.Asio for the socket, poll() for the wait.
#include <poll.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "common/clock.h"
#include "tools/kvctl/datagram_link.h"
#include "transport/socket_owner.h"

namespace kv::kvctl {

namespace {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

class UdpLink final : public DatagramLink {
public:
    UdpLink(uint16_t driverPort, bool trustLoopback)
        : socket_(io_),
          driver_(asio::ip::address_v4::loopback(), driverPort),
          gate_(MakeSystemSocketOwnerLookup(), ::geteuid(), trustLoopback) {}

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
        local_ = {asio::ip::address_v4::loopback().to_uint(), socket_.local_endpoint(ec).port()};
        return OwnerAllowed(error);
    }

    // Another user's program on the driver's port is not our driver: nothing is sent to it.
    bool OwnerAllowed(std::string& error) {
        if (!gate_.HasLookup() && !gate_.TrustsLoopback()) {
            error = NoOwnerLookupMessage("kvctl");
            return false;
        }
        if (gate_.TrustsLoopback()) {
            return true;
        }
        const auto owner = gate_.OwnerOf(DriverEndpoint(), local_);
        if (owner && !gate_.Accepts(*owner)) {
            error = ForeignOwner(*owner);
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
            if (gate_.Admit(DriverEndpoint(), local_, DefaultClock().NowMs()) !=
                Admission::Accept) {
                continue;  // the port changed hands: another user's program holds it now
            }
            return received;
        }
    }

    bool PeerGone() const override { return gone_; }

    std::string PeerName() const override {
        return driver_.address().to_string() + ":" + std::to_string(driver_.port());
    }

    std::string Refusal() const override {
        const auto uid = gate_.LastRefusedUid();
        return gate_.Refused() == 0 ? std::string()
               : uid                ? ForeignOwner(*uid)
                                    : "the owner of " + PeerName() + " cannot be found";
    }

private:
    UdpEndpoint DriverEndpoint() const {
        return {driver_.address().to_v4().to_uint(), driver_.port()};
    }

    std::string ForeignOwner(uint32_t uid) const {
        const uid_t own = ::geteuid();
        return PeerName() + " is held by uid " + std::to_string(uid) + ", not by you (uid " +
               std::to_string(own) + (own == 0 ? ")" : ") or root") +
               "; kvctl does not talk to another user's program (--trust-loopback does)";
    }

    asio::io_context io_{1};
    Udp::socket socket_;
    Udp::endpoint driver_;
    UdpEndpoint local_;
    PeerGate gate_;
    bool gone_ = false;
};

}  // namespace

std::unique_ptr<DatagramLink> OpenUdpLink(uint16_t driverPort, bool trustLoopback,
                                          std::string& error) {
    auto link = std::make_unique<UdpLink>(driverPort, trustLoopback);
    if (!link->Open(error)) {
        return nullptr;
    }
    return link;
}

}  // namespace kv::kvctl
