// The UDP endpoint: what both programs' sides share (the address, the bind and its retries, the
// receive thread, the locked send, the stop), and the endpoint's face.
#include "transport/network.h"

#include <boost/asio/ip/address.hpp>
#include <chrono>

#include "protocol/wire.h"
#include "transport/controller_endpoint.h"
#include "transport/driver_endpoint.h"

namespace kv {

bool Network::Impl::Resolve() {
    boost::system::error_code ec;
    const boost::asio::ip::address parsed = boost::asio::ip::make_address(config.address, ec);
    if (ec) {
        error = "bad address " + config.address + ": " + ec.message();
        return false;
    }
    // Only the two programs on this machine may reach the endpoint.
    if (!parsed.is_v4() || !IsLoopback(parsed.to_v4().to_uint())) {
        error = "address " + config.address + " is not an IPv4 loopback address";
        return false;
    }
    address = parsed.to_v4().to_uint();
    peer = Pack({address, config.peerPort});
    return true;
}

bool Network::Impl::Bind() {
    std::unique_lock lock(socketMutex);
    // Programs this one starts (the Controller starts the Driver) do not inherit the socket.
    const UdpEndpoint local{address, config.localPort};
    const std::string failure = Open(local);
    if (!failure.empty()) {
        std::lock_guard errorLock(errorMutex);
        error = "cannot bind UDP " + config.address + ":" + std::to_string(config.localPort) +
                ": " + failure;
        return false;
    }
    localPort = Socket().Local().port;
    {
        std::lock_guard errorLock(errorMutex);
        error.clear();
    }
    ok = true;
    return true;
}

bool Network::Impl::SleepUnlessStopping(int ms) const {
    constexpr int kSliceMs = 10;
    for (int slept = 0; slept < ms && !stopping; slept += kSliceMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    }
    return !stopping;
}

// A port held by someone else (a second user's driver, a program that has not let go yet) is
// tried again every second; meanwhile the rest of the program goes on without the network.
bool Network::Impl::WaitForBind() {
    while (!ok) {
        if (!SleepUnlessStopping(kBindRetryMs)) {
            return false;
        }
        Bind();
    }
    return true;
}

bool Network::Impl::SendDatagram(const uint8_t* bytes, size_t length, uint64_t to) {
    std::shared_lock lock(socketMutex);
    if (!Socket().IsOpen() || stopping) {
        return false;
    }
    return Transmit(bytes, length, to);
}

void Network::Impl::SendHello() {
    const auto hello = wire::HelloDatagram(registry.SenderId());
    if (!SendDatagram(hello.data(), hello.size(), peer)) {
        OnSendFailed();
    }
}

void Network::Impl::Run() {
    if (!WaitForBind() || !AwaitReady()) {
        return;
    }
    SendHello();
    // The running flag is looked at once per datagram, as the driver's shutdown expects.
    while (running && !stopping) {
        Serve();
    }
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
            std::shared_lock lock(socketMutex);
            Socket().WakeReceive();
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
    Socket().Close();
}

Network::Network(Registry& registry, NetworkConfig config)
    : impl_(
          config.role == ProgramRole::Driver
              ? std::unique_ptr<Impl>(std::make_unique<DriverEndpoint>(registry, std::move(config)))
              : std::make_unique<ControllerEndpoint>(registry, std::move(config))) {
    if (!impl_->resolved) {
        return;
    }
    impl_->Bind();
    registry.SetTransport(this);
    impl_->registered = true;
    impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

Network::~Network() {
    Stop();
}

bool Network::Ok() const {
    return impl_->ok;
}
std::string Network::Error() const {
    std::lock_guard lock(impl_->errorMutex);
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
uint64_t Network::RefusedDatagrams() const {
    return impl_->Gate().Refused();
}
bool Network::CanTellSenders() const {
    return impl_->Gate().HasLookup() || impl_->Gate().TrustsLoopback();
}
std::optional<uint32_t> Network::PeerPortOwner() const {
    const uint32_t local = impl_->address;
    return impl_->Gate().OwnerOf({local, impl_->config.peerPort}, {local, impl_->localPort});
}
bool Network::Accepts(uint32_t uid) const {
    return impl_->Gate().Accepts(uid);
}
size_t Network::BufferedBytes() const {
    return impl_->buffered;
}

// The driver talks only to peers heard within the last 5000 ms; when none is left it returns
// the milliseconds of silence. The controller always sends; a failed send marks it
// disconnected.
int32_t Network::Send(const uint8_t* bytes, size_t length) {
    return impl_->ok ? impl_->Send(bytes, length) : 0;
}

void Network::OnPeersSilent() {
    impl_->OnPeersSilent();
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
    return impl_->Connected();
}

size_t Network::LivePeers() const {
    return impl_->LivePeers();
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
