// The UDP endpoint: its loopback socket, receive thread, frame cutting, sending, and who may
// speak to it.
#include "transport/network.h"

#include <unistd.h>

#include <boost/asio/ip/address.hpp>
#include <chrono>
#include <exception>

#include "protocol/wire.h"
#include "transport/network_impl.h"

namespace kv {

// Set on the receive thread while it answers one peer (publish-all, the hello's DoReset):
// those records go to that peer only, not to everyone.
thread_local const Network::Impl* tDirectedBy = nullptr;
thread_local uint64_t tDirectedTo = 0;

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
    const std::string failure = client ? client->Open(local, false) : serverSocket.Open(local);
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
    if (client) {
        return client->Send(bytes, length);
    }
    return serverSocket.SendTo(bytes, length, Unpack(to)) == SendStatus::Sent;
}

// The driver's send: to the peer being answered, or else to every peer heard within the last
// 5000 ms. A peer silent for longer is marked so, and its next datagram is first contact.
// Returns the bytes sent, or the milliseconds of silence when no peer is left.
int32_t Network::Impl::SendToPeers(const uint8_t* bytes, size_t length) {
    const auto sent = static_cast<int32_t>(length);
    if (tDirectedBy == this) {
        return SendDatagram(bytes, length, tDirectedTo) ? sent : 0;
    }
    const int64_t now = Now();
    int32_t result = 0;
    bool anyLive = false;
    for (PeerSlot& slot : peers) {
        const uint64_t endpoint = slot.endpoint;
        if (endpoint == 0) {
            continue;
        }
        if (now - slot.lastHeard >= kPeerSilenceMs) {
            slot.connected = false;
            continue;
        }
        anyLive = true;
        // One failing peer (a kvctl that has ended) never keeps the others from their record.
        if (SendDatagram(bytes, length, endpoint)) {
            result = sent;
        }
    }
    if (!anyLive) {
        return ClampMs(registry.SilenceMs());
    }
    return result;
}

void Network::Impl::SendHello() {
    const auto hello = wire::HelloDatagram(registry.SenderId());
    if (!SendDatagram(hello.data(), hello.size(), peer) && !IsDriver()) {
        connected = false;
    }
}

// The slot of a source: its own, a free one, or the one heard least recently.
PeerSlot& Network::Impl::SlotFor(uint64_t endpoint) {
    PeerSlot* oldest = &peers[0];
    for (PeerSlot& slot : peers) {
        if (slot.endpoint == endpoint) {
            return slot;
        }
    }
    for (PeerSlot& slot : peers) {
        if (slot.endpoint == 0) {
            oldest = &slot;
            break;
        }
        if (slot.lastHeard < oldest->lastHeard) {
            oldest = &slot;
        }
    }
    oldest->connected = false;
    oldest->helloPending = false;  // the hello's sender is gone from the table
    oldest->endpoint = endpoint;
    return *oldest;
}

bool Network::Impl::NextDatagram(size_t& received, PeerSlot*& from) {
    uint64_t endpoint = 0;
    if (held.Pop(receiveBuffer.data(), received, endpoint)) {
        stopHeld = stopHeld && !held.Empty();  // the stop request held is out, if it was last
    } else if (client) {
        if (!NextFromDriver(received)) {
            return false;
        }
        endpoint = Pack(client->Peer());
    } else {
        const Received arrival = serverSocket.Receive(receiveBuffer.data(), receiveBuffer.size(),
                                                      LoopbackSocket::kWaitForever);
        if (stopping) {
            return false;
        }
        if (arrival.status != Received::Status::Datagram) {
            return false;
        }
        received = arrival.length;
        if (Screen(arrival.source, receiveBuffer.data(), received) != Arrival::Taken) {
            return false;
        }
        endpoint = Pack(arrival.source);
    }
    Stamp(endpoint, from);
    return true;
}

// The controller hears the driver's port alone, and only while a program of our own user's (or
// root's) holds it: what comes from elsewhere never counts as the driver being heard.
bool Network::Impl::NextFromDriver(size_t& received) {
    const ClientSocket::Arrival arrival =
        client->Receive(receiveBuffer.data(), receiveBuffer.size(), LoopbackSocket::kWaitForever);
    if (stopping) {
        return false;
    }
    switch (arrival.status) {
        case ClientSocket::Arrival::Status::Datagram:
            received = arrival.length;
            return true;
        case ClientSocket::Arrival::Status::Ignored:
            ++ignored;
            ++datagrams;
            return false;
        case ClientSocket::Arrival::Status::Refused:
            ++datagrams;
            return false;
        default:
            connected = false;
            return false;
    }
}

// Off the loopback, another user's, or without a whole frame: such a datagram is dropped
// before it can take a peer slot, count as first contact or wait anywhere.
Arrival Network::Impl::Screen(UdpEndpoint source, const uint8_t* bytes, size_t length) {
    if (!IsLoopback(source.address)) {
        ++ignored;
        ++datagrams;
        return Arrival::Dropped;
    }
    if (serverGate->Admit(source, {address, localPort}, Now()) != Admission::Accept) {
        ++datagrams;
        return Arrival::Dropped;
    }
    // The programs send whole frames; random bytes (a runaway program of our own user's) would
    // otherwise take a peer slot and a publish-all per port.
    if (!wire::HoldsFrame(bytes, length)) {
        ++ignored;
        ++datagrams;
        return Arrival::Dropped;
    }
    return Arrival::Taken;
}

void Network::Impl::Stamp(uint64_t endpoint, PeerSlot*& from) {
    if (IsDriver()) {
        from = &SlotFor(endpoint);
        from->lastHeard = Now();
    } else {
        peer = endpoint;
        // A driver heard again after silence may be another one, or may have changed since:
        // what it told before counts no more, and its publish-all follows.
        if (registry.SilenceMs() >= kPeerSilenceMs) {
            registry.ForgetArrivals();
        }
    }
    registry.MarkPeerHeard();
}

// One received datagram, after its source has been checked and stamped.
void Network::Impl::Handle(size_t received, PeerSlot* from) {
    // Nothing here throws by design; should anything still do so, the datagram is dropped and
    // the endpoint keeps serving instead of ending the program.
    try {
        if (IsDriver()) {
            // A peer's first contact after silence: it gets every record before anything it
            // sent is acted on.
            answering = from->endpoint;
            answeringSlot = from;
            if (!from->connected) {
                from->connected = true;
                const DirectedSends toSource(this, answering);
                PublishAll();
            }
        } else {
            connected = true;
        }
        cutter.Append(receiveBuffer.data(), received, *this);
        // A presence record stamps the registry after a publish-all has taken its time; the
        // peer that sent it counts as heard from then too.
        if (from != nullptr && from->lastHeard < registry.LastHeard()) {
            from->lastHeard = registry.LastHeard();
        }
    } catch (const std::exception&) {
    }
    buffered = cutter.Buffered();
    ++datagrams;
}

void Network::Impl::Run() {
    if (!WaitForBind()) {
        return;
    }
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
        if (HelloAnswersDue()) {
            AnswerHellos();
            continue;
        }
        size_t received = 0;
        PeerSlot* from = nullptr;
        if (NextDatagram(received, from)) {
            Handle(received, from);
        }
        // Dropped ones count too: a flood that never lets the socket empty delays no answer
        // for longer than this many datagrams.
        handledWhileHellosPending += hellosPending ? 1 : 0;
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
    : impl_(std::make_unique<Impl>(registry, std::move(config))) {
    if (!impl_->resolved) {
        return;
    }
    impl_->Bind();
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
    if (!impl_->ok) {
        return 0;
    }
    if (impl_->IsDriver()) {
        return impl_->SendToPeers(bytes, length);
    }
    if (!impl_->SendDatagram(bytes, length, impl_->peer)) {
        impl_->connected = false;
        return 0;
    }
    return static_cast<int32_t>(length);
}

void Network::OnPeersSilent() {
    const int64_t now = impl_->Now();
    for (PeerSlot& slot : impl_->peers) {
        if (now - slot.lastHeard >= kPeerSilenceMs) {
            slot.connected = false;
        }
    }
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
    if (!impl_->IsDriver()) {
        return impl_->connected;
    }
    for (const PeerSlot& slot : impl_->peers) {
        if (slot.endpoint != 0 && slot.connected) {
            return true;
        }
    }
    return false;
}

size_t Network::LivePeers() const {
    const int64_t now = impl_->Now();
    size_t live = 0;
    for (const PeerSlot& slot : impl_->peers) {
        live += slot.endpoint != 0 && now - slot.lastHeard < kPeerSilenceMs ? 1 : 0;
    }
    return live;
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
