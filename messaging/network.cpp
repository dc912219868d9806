// The UDP endpoint on Boost.Asio: loopback socket, receive thread, frame cutting, sending.
#include "messaging/network.h"

#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "messaging/frame_cutter.h"
#include "messaging/relaxed.h"
#include "messaging/wire.h"

namespace kv {

namespace {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

constexpr size_t kReceiveBufferSize = 30000;
constexpr int kReadyPollMs = 10;

bool IsLoopback(const asio::ip::address& address) {
    return address.is_v4() && (address.to_v4().to_uint() >> 24) == 127;
}

// The peer endpoint packed into one word, so the receive thread can replace it while other
// threads send, without a lock: IPv4 address in the upper bits, port in the lowest 16.
uint64_t Pack(const Udp::endpoint& endpoint) {
    return static_cast<uint64_t>(endpoint.address().to_v4().to_uint()) << 16 | endpoint.port();
}

Udp::endpoint Unpack(uint64_t packed) {
    return {asio::ip::address_v4(static_cast<uint32_t>(packed >> 16)),
            static_cast<uint16_t>(packed & 0xFFFF)};
}

}  // namespace

struct Network::Impl final : FrameSink {
    Impl(Registry& owner, NetworkConfig configuration)
        : registry(owner), config(std::move(configuration)), socket(io) {}

    void Open();
    void Run();
    // Receives one datagram into receiveBuffer; false when nothing usable arrived (error, a
    // source off the loopback, or shutdown). Stamps the peer and its address on success.
    bool ReceiveOne(size_t& received);
    void Handle(size_t received);
    int32_t SendDatagram(const uint8_t* bytes, size_t length, boost::system::error_code& ec);
    void SendHello();
    void Stop();

    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        registry.Deliver(buffer, start, validBytes);
    }
    void OnHello() override;

    bool IsDriver() const { return config.role == ProgramRole::Driver; }

    Registry& registry;
    const NetworkConfig config;
    bool ok = false;
    std::string error;
    uint16_t localPort = 0;
    bool registered = false;

    asio::io_context io{1};
    Udp::socket socket;
    // Senders share the socket; only closing it needs it alone.
    std::shared_mutex socketMutex;
    std::atomic<uint64_t> peer{0};

    FrameCutter cutter;
    std::array<uint8_t, kReceiveBufferSize> receiveBuffer{};

    Relaxed<bool> connected = false;
    Relaxed<bool> running = false;
    Relaxed<bool> ready = false;
    Relaxed<bool> stopping = false;
    // Sequentially consistent, so that whoever sees a count also sees what the datagram did.
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> ignored{0};
    std::atomic<size_t> buffered{0};

    std::mutex stopMutex;
    bool stopped = false;
    std::thread thread;
};

void Network::Impl::Open() {
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(config.address, ec);
    if (ec) {
        error = "bad address " + config.address + ": " + ec.message();
        return;
    }
    // Only the two programs on this machine may reach the endpoint.
    if (!IsLoopback(address)) {
        error = "address " + config.address + " is not an IPv4 loopback address";
        return;
    }
    socket.open(Udp::v4(), ec);
    if (!ec) {
        socket.bind(Udp::endpoint(address, config.localPort), ec);
    }
    if (ec) {
        error = "cannot bind UDP " + config.address + ":" + std::to_string(config.localPort) +
                ": " + ec.message();
        socket.close(ec);
        return;
    }
    localPort = socket.local_endpoint(ec).port();
    peer = Pack(Udp::endpoint(address, config.peerPort));
    ok = true;
}

int32_t Network::Impl::SendDatagram(const uint8_t* bytes, size_t length,
                                    boost::system::error_code& ec) {
    std::shared_lock lock(socketMutex);
    if (!socket.is_open() || stopping) {
        ec = asio::error::not_connected;
        return 0;
    }
    const size_t sent = socket.send_to(asio::buffer(bytes, length), Unpack(peer), 0, ec);
    return ec ? 0 : static_cast<int32_t>(sent);
}

void Network::Impl::SendHello() {
    const auto hello = wire::HelloDatagram(registry.SenderId());
    boost::system::error_code ec;
    SendDatagram(hello.data(), hello.size(), ec);
    if (ec && !IsDriver()) {
        connected = false;
    }
}

bool Network::Impl::ReceiveOne(size_t& received) {
    Udp::endpoint source;
    boost::system::error_code ec;
    received = socket.receive_from(asio::buffer(receiveBuffer), source, 0, ec);
    if (stopping) {
        return false;
    }
    if (ec) {
        if (!IsDriver()) {
            connected = false;
        }
        return false;
    }
    if (!IsLoopback(source.address())) {
        ++ignored;
        ++datagrams;
        return false;
    }
    peer = Pack(source);
    registry.MarkPeerHeard();
    return true;
}

// One received datagram, after its source has been checked and stamped.
void Network::Impl::Handle(size_t received) {
    // Nothing here throws by design; should anything still do so, the datagram is dropped and
    // the endpoint keeps serving instead of ending the program.
    try {
        if (!connected) {
            connected = true;
            // The driver's first contact after silence: the controller gets every record
            // before anything it sent is acted on.
            if (IsDriver()) {
                registry.PublishAll();
            }
        }
        cutter.Append(receiveBuffer.data(), received, *this);
    } catch (const std::exception&) {
    }
    buffered = cutter.Buffered();
    ++datagrams;
}

void Network::Impl::Run() {
    if (IsDriver()) {
        while (!ready) {
            if (stopping) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMs));
        }
    }
    SendHello();
    // The running flag is looked at once per datagram, as the driver's shutdown expects.
    while (running && !stopping) {
        size_t received = 0;
        if (ReceiveOne(received)) {
            Handle(received);
        }
    }
}

// A hello asks the driver for its whole state; the DoReset that follows tells the controller
// the sequence is complete.
void Network::Impl::OnHello() {
    if (!IsDriver()) {
        return;
    }
    registry.PublishAll();
    registry.driverDoReset.RaiseCounted();
}

void Network::Impl::Stop() {
    std::lock_guard stopLock(stopMutex);
    if (stopped) {
        return;
    }
    stopped = true;
    stopping = true;
    if (thread.joinable()) {
        {
            // Wake a blocking receive: shutting the socket down ends it on Linux; the datagram
            // to ourselves does so wherever shutdown does not.
            std::shared_lock lock(socketMutex);
            boost::system::error_code ec;
            socket.shutdown(Udp::socket::shutdown_receive, ec);
            const uint8_t wake = 0;
            socket.send_to(asio::buffer(&wake, 1),
                           Udp::endpoint(asio::ip::make_address_v4(config.address, ec), localPort),
                           0, ec);
        }
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();  // stopped from its own handler: it ends on return
        } else {
            thread.join();
        }
    }
    // Only now: the receive thread publishes through the registry too.
    if (registered) {
        registry.SetTransport(nullptr);
        registered = false;
    }
    std::unique_lock lock(socketMutex);
    boost::system::error_code ec;
    socket.close(ec);
}

Network::Network(Registry& registry, NetworkConfig config)
    : impl_(std::make_unique<Impl>(registry, std::move(config))) {
    impl_->Open();
    if (!impl_->ok) {
        return;
    }
    // The controller is running from the start; the driver's start-up sets the flag itself.
    if (!impl_->IsDriver()) {
        impl_->running = true;
    }
    registry.SetTransport(this);
    impl_->registered = true;
    impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

Network::~Network() {
    Stop();
}

Network& Network::Instance() {
    static Network network(Registry::Instance(), Registry::Instance().Role() == ProgramRole::Driver
                                                     ? NetworkConfig::ForDriver()
                                                     : NetworkConfig::ForController());
    // Both programs' start-ups set the running flag right after creating the endpoint.
    static const bool started = (network.SetRunning(true), true);
    (void)started;
    return network;
}

bool Network::Ok() const {
    return impl_->ok;
}
const std::string& Network::Error() const {
    return impl_->error;
}
uint16_t Network::LocalPort() const {
    return impl_->localPort;
}
uint64_t Network::ReceivedDatagrams() const {
    return impl_->datagrams;
}
uint64_t Network::IgnoredDatagrams() const {
    return impl_->ignored;
}
size_t Network::BufferedBytes() const {
    return impl_->buffered;
}

// The driver talks only while the controller has been heard within the last 5000 ms; after
// that it returns the milliseconds of silence and marks the peer gone. The controller always
// sends; a failed send marks it disconnected.
int32_t Network::Send(const uint8_t* bytes, size_t length) {
    if (!impl_->ok) {
        return 0;
    }
    if (impl_->IsDriver()) {
        const int64_t silence = impl_->registry.SilenceMs();
        if (silence >= kPeerSilenceMs) {
            impl_->connected = false;
            return static_cast<int32_t>(silence > INT32_MAX ? INT32_MAX : silence);
        }
    }
    boost::system::error_code ec;
    const int32_t sent = impl_->SendDatagram(bytes, length, ec);
    if (ec && !impl_->IsDriver()) {
        impl_->connected = false;
    }
    return sent;
}

void Network::SendHello() {
    if (impl_->ok) {
        impl_->SendHello();
    }
}

void Network::SetReady() {
    impl_->ready = true;
}
bool Network::Connected() const {
    return impl_->connected;
}
void Network::SetRunning(bool running) {
    impl_->running = running;
}
bool Network::Running() const {
    return impl_->running;
}

void Network::Stop() {
    impl_->Stop();
}

}  // namespace kv
