// Test doubles for the transport: a controllable clock, a plain UDP socket standing in for
// the other program, frame builders and a bounded wait for the receive thread.
#pragma once

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>

#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "messaging/clock.h"
#include "messaging/network.h"
#include "messaging/registry.h"
#include "messaging/wire.h"

namespace kv::test {

using Bytes = std::vector<uint8_t>;

// Time moves only when a test or a publish-all pause moves it, so five seconds of silence
// cost nothing and a publish-all runs at once.
class FakeClock final : public Clock {
public:
    int64_t NowMs() const override { return now_.load(); }
    void SleepMs(int ms) const override { now_ += ms; }
    void Advance(int64_t ms) { now_ += ms; }

private:
    mutable std::atomic<int64_t> now_{1'000'000};
};

// Waits for something the receive thread does. The limit only ends a broken test; nothing
// is asserted about how long it took.
template <class Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The bytes a record puts on the wire from a program of the given registry.
inline Bytes FrameOf(DataManipulation& record, const Registry& from) {
    Bytes frame(static_cast<size_t>(record.FrameSize()));
    record.WriteFrame(frame.data(), from.SenderId());
    return frame;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline Bytes HelloBytes(int32_t sender) {
    const auto hello = wire::HelloDatagram(sender);
    return Bytes(hello.begin(), hello.end());
}

inline int32_t AddressOf(const Bytes& frame) {
    return wire::GetInt(frame.data() + wire::kOffAddress);
}

// A plain UDP socket playing the other program, so tests see the exact datagrams.
class RawPeer {
public:
    explicit RawPeer(const std::string& address = "127.0.0.1", uint16_t port = 0) : socket_(io_) {
        using Udp = boost::asio::ip::udp;
        socket_.open(Udp::v4());
        socket_.bind(Udp::endpoint(boost::asio::ip::make_address_v4(address), port));
    }

    uint16_t Port() const { return socket_.local_endpoint().port(); }

    void SendTo(uint16_t port, const Bytes& bytes) {
        using Udp = boost::asio::ip::udp;
        socket_.send_to(boost::asio::buffer(bytes),
                        Udp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port));
    }

    // The next datagram, or nothing if none comes within the limit (a broken test).
    std::optional<Bytes> Receive(int limitMs = 20000) {
        pollfd fd{socket_.native_handle(), POLLIN, 0};
        if (::poll(&fd, 1, limitMs) <= 0) {
            return std::nullopt;
        }
        Bytes bytes(65536);
        boost::asio::ip::udp::endpoint source;
        const size_t n = socket_.receive_from(boost::asio::buffer(bytes), source);
        bytes.resize(n);
        return bytes;
    }

    // True when a datagram is waiting now; used once whatever could have been sent was sent.
    bool Pending() {
        pollfd fd{socket_.native_handle(), POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }

    std::vector<Bytes> ReceiveMany(size_t count) {
        std::vector<Bytes> all;
        while (all.size() < count) {
            auto next = Receive();
            if (!next) {
                break;
            }
            all.push_back(std::move(*next));
        }
        return all;
    }

private:
    boost::asio::io_context io_;
    boost::asio::ip::udp::socket socket_;
};

// The first IPv4 address of this machine outside 127.0.0.0/8, if there is one.
inline std::optional<std::string> NonLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    for (ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        const boost::asio::ip::address_v4 address(ntohl(in->sin_addr.s_addr));
        if (!address.is_loopback()) {
            found = address.to_string();
        }
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace kv::test
