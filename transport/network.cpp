// The UDP endpoint on Boost.Asio: loopback socket, receive thread, frame cutting, sending.
#include "transport/network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include <unistd.h>

#include "protocol/frame_cutter.h"
#include "protocol/relaxed.h"
#include "protocol/wire.h"

namespace kv {

namespace {

namespace asio = boost::asio;
using Udp = asio::ip::udp;

constexpr size_t kReceiveBufferSize = 30000;
constexpr int kReadyPollMs = 10;
// A hello's publish-all waits until the datagrams already queued have been read, so that a
// burst of hellos gets one answer; a stream that never lets up delays it by this many at most
// (dropped ones included).
constexpr size_t kMaxHelloDeferral = 256;
// While a publish-all is paced the socket is read this often, so that a flood never fills its
// queue; one look reads this many datagrams at most, so that the pacing goes on whatever comes.
constexpr int kReadSliceMs = 10;
constexpr int kMaxReadsPerLook = 1024;

bool IsLoopback(const asio::ip::address& address) {
    return address.is_v4() && (address.to_v4().to_uint() >> 24) == 127;
}

// An endpoint packed into one word, so the receive thread can replace it while other threads
// send, without a lock: IPv4 address in the upper bits, port in the lowest 16. 0 is no one.
uint64_t Pack(const Udp::endpoint& endpoint) {
    return static_cast<uint64_t>(endpoint.address().to_v4().to_uint()) << 16 | endpoint.port();
}

Udp::endpoint Unpack(uint64_t packed) {
    return {asio::ip::address_v4(static_cast<uint32_t>(packed >> 16)),
            static_cast<uint16_t>(packed & 0xFFFF)};
}

int32_t ClampMs(int64_t ms) {
    return static_cast<int32_t>(ms > INT32_MAX ? INT32_MAX : ms);
}

// Datagrams taken while a publish-all is paced, to be acted on after it in the order they came:
// one fixed block, nothing allocated per datagram, and a bound on what may wait.
class HeldDatagrams {
public:
    static constexpr size_t kBytes = 64 * 1024;

    // False when there is no room.
    bool Push(const uint8_t* bytes, size_t length, uint64_t from) {
        const size_t need = kHeader + length;
        if (tail_ + need > kBytes && head_ > 0) {
            std::memmove(block_.data(), block_.data() + head_, tail_ - head_);
            tail_ -= head_;
            head_ = 0;
        }
        if (tail_ + need > kBytes) {
            return false;
        }
        const Header header{from, length};
        std::memcpy(block_.data() + tail_, &header, kHeader);
        std::memcpy(block_.data() + tail_ + kHeader, bytes, length);
        tail_ += need;
        return true;
    }
    // The oldest, into out (room for any datagram pushed); false when none waits.
    bool Pop(uint8_t* out, size_t& length, uint64_t& from) {
        if (Empty()) {
            return false;
        }
        const Header header = HeaderAt(head_);
        std::memcpy(out, block_.data() + head_ + kHeader, header.length);
        length = header.length;
        from = header.from;
        head_ += kHeader + header.length;
        if (head_ == tail_) {
            head_ = tail_ = 0;
        }
        return true;
    }
    // Drops the latest; false when none waits.
    bool DropNewest() {
        if (Empty()) {
            return false;
        }
        size_t last = head_;
        for (size_t at = head_; at < tail_; at += kHeader + HeaderAt(at).length) {
            last = at;
        }
        tail_ = last;
        if (head_ == tail_) {
            head_ = tail_ = 0;
        }
        return true;
    }
    bool Empty() const { return head_ == tail_; }

private:
    struct Header {
        uint64_t from;
        size_t length;
    };
    static constexpr size_t kHeader = sizeof(Header);

    Header HeaderAt(size_t at) const {
        Header header{};
        std::memcpy(&header, block_.data() + at, kHeader);
        return header;
    }

    std::array<uint8_t, kBytes> block_{};
    size_t head_ = 0;
    size_t tail_ = 0;
};

// What became of a datagram read from the socket.
enum class Arrival { Taken, Dropped, None };

}  // namespace

// One program talking to the driver. Each has its own liveness, so a kvctl session beside the
// Controller neither takes the Controller's traffic nor keeps a silent Controller "connected".
struct PeerSlot {
    std::atomic<uint64_t> endpoint{0};  // packed; 0 when the slot is free
    std::atomic<int64_t> lastHeard{0};  // on the registry's clock
    Relaxed<bool> connected = false;    // had its publish-all since it was last silent
    bool helloPending = false;          // receive thread only: a hello awaits its publish-all
};

// Set on the receive thread while it answers one peer (publish-all, the hello's DoReset):
// those records go to that peer only, not to everyone.
thread_local const Network::Impl* tDirectedBy = nullptr;
thread_local uint64_t tDirectedTo = 0;

class DirectedSends {
public:
    DirectedSends(const Network::Impl* by, uint64_t to) {
        tDirectedBy = by;
        tDirectedTo = to;
    }
    ~DirectedSends() { tDirectedBy = nullptr; }
    DirectedSends(const DirectedSends&) = delete;
    DirectedSends& operator=(const DirectedSends&) = delete;
};

struct Network::Impl final : FrameSink {
    Impl(Registry& owner, NetworkConfig configuration)
        : registry(owner),
          config(std::move(configuration)),
          gate(MakeSystemSocketOwnerLookup(), ::geteuid(), config.trustLoopback),
          socket(io) {
        gate.SetRefusalReport(config.onRefusal);
    }

    // False only for an address that can never be bound (off the loopback, malformed).
    bool Resolve();
    bool Bind();
    void Run();
    bool WaitForBind();
    // The next datagram to act on, into receiveBuffer: one held during a publish-all first,
    // else one from the socket (waiting for it). False when nothing usable arrived (an error,
    // a datagram dropped, or shutdown). Stamps the peer and its address on success.
    bool NextDatagram(size_t& received, PeerSlot*& from);
    // Whether a datagram read from source may be acted on; counts it when it is dropped.
    Arrival Screen(const Udp::endpoint& source, const uint8_t* bytes, size_t length);
    void Stamp(uint64_t endpoint, PeerSlot*& from);
    PeerSlot& SlotFor(uint64_t endpoint);
    void Handle(size_t received, PeerSlot* from);
    // The registry's publish-all, cut short when a stop is under way; the socket is read in
    // its pauses.
    void PublishAll();
    // Reads what has arrived (refused and malformed datagrams go at once) and holds the rest.
    void HoldArrivals();
    void Hold(const uint8_t* bytes, size_t length, uint64_t from);
    // Whether bytes hold a Driver/DoStop request not handled yet.
    bool StopRequested(const uint8_t* bytes, size_t length) const;
    // Whether the hellos waiting for their publish-all are to be answered now.
    bool HelloAnswersDue();
    void AnswerHellos();
    int32_t SendDatagram(const uint8_t* bytes, size_t length, uint64_t to,
                         boost::system::error_code& ec);
    int32_t SendToPeers(const uint8_t* bytes, size_t length);
    void SendHello();
    void Stop();
    bool SleepUnlessStopping(int ms) const;

    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const DeliverResult result = registry.Deliver(buffer, start, validBytes);
        // A record the driver did not take: the sender is told what the driver holds.
        if (result.refused && IsDriver()) {
            const DirectedSends toSource(this, answering);
            result.record->Send();
        }
    }
    void OnHello() override;

    bool IsDriver() const { return config.role == ProgramRole::Driver; }
    int64_t Now() const { return registry.GetClock().NowMs(); }

    // Whether the datagram from source may reach the registry at all.
    bool Admitted(const Udp::endpoint& source);

    Registry& registry;
    const NetworkConfig config;
    PeerGate gate;  // receive thread, and PeerPortOwner under its own lock
    asio::ip::address_v4 address;
    std::atomic<bool> ok{false};
    mutable std::mutex errorMutex;
    std::string error;
    std::atomic<uint16_t> localPort{0};
    bool registered = false;

    asio::io_context io{1};
    Udp::socket socket;
    // Senders share the socket; only opening and closing it need it alone.
    std::shared_mutex socketMutex;
    // The controller's one peer (whoever spoke last) and where the driver's hello goes.
    std::atomic<uint64_t> peer{0};
    std::array<PeerSlot, kMaxPeers> peers{};
    uint64_t answering = 0;             // receive thread: who sent the datagram being handled
    PeerSlot* answeringSlot = nullptr;  // its slot (null on the controller's side)
    bool hellosPending = false;         // some slot has helloPending set
    size_t nextHelloSlot = 0;           // where the next search for a waiting hello begins
    size_t handledWhileHellosPending = 0;
    HeldDatagrams held;     // receive thread: taken during a publish-all, not yet acted on
    bool stopHeld = false;  // a stop request is among them: publish-alls end at once

    FrameCutter cutter;
    std::array<uint8_t, kReceiveBufferSize> receiveBuffer{};
    std::array<uint8_t, kReceiveBufferSize> arrivalBuffer{};

    Relaxed<bool> connected = false;  // the controller's flag
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

bool Network::Impl::Resolve() {
    boost::system::error_code ec;
    const asio::ip::address parsed = asio::ip::make_address(config.address, ec);
    if (ec) {
        error = "bad address " + config.address + ": " + ec.message();
        return false;
    }
    // Only the two programs on this machine may reach the endpoint.
    if (!IsLoopback(parsed)) {
        error = "address " + config.address + " is not an IPv4 loopback address";
        return false;
    }
    address = parsed.to_v4();
    peer = Pack(Udp::endpoint(address, config.peerPort));
    return true;
}

bool Network::Impl::Bind() {
    std::unique_lock lock(socketMutex);
    boost::system::error_code ec;
    socket.open(Udp::v4(), ec);
    if (!ec && ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC) != 0) {
        // Programs this one starts (the Controller starts the Driver) must not inherit the
        // socket: they would keep the port after this program has ended.
        ec = boost::system::error_code(errno, boost::system::system_category());
    }
    if (!ec) {
        socket.bind(Udp::endpoint(address, config.localPort), ec);
    }
    if (ec) {
        boost::system::error_code ignore;
        socket.close(ignore);
        std::lock_guard errorLock(errorMutex);
        error = "cannot bind UDP " + config.address + ":" + std::to_string(config.localPort) +
                ": " + ec.message();
        return false;
    }
    localPort = socket.local_endpoint(ec).port();
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

int32_t Network::Impl::SendDatagram(const uint8_t* bytes, size_t length, uint64_t to,
                                    boost::system::error_code& ec) {
    std::shared_lock lock(socketMutex);
    if (!socket.is_open() || stopping) {
        ec = asio::error::not_connected;
        return 0;
    }
    const size_t sent = socket.send_to(asio::buffer(bytes, length), Unpack(to), 0, ec);
    return ec ? 0 : static_cast<int32_t>(sent);
}

// The driver's send: to the peer being answered, or else to every peer heard within the last
// 5000 ms. A peer silent for longer is marked so, and its next datagram is first contact.
// Returns the bytes sent, or the milliseconds of silence when no peer is left.
int32_t Network::Impl::SendToPeers(const uint8_t* bytes, size_t length) {
    boost::system::error_code ec;
    if (tDirectedBy == this) {
        return SendDatagram(bytes, length, tDirectedTo, ec);
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
        const int32_t sent = SendDatagram(bytes, length, endpoint, ec);
        if (!ec) {
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
    boost::system::error_code ec;
    SendDatagram(hello.data(), hello.size(), peer, ec);
    if (ec && !IsDriver()) {
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
    } else {
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
        if (Screen(source, receiveBuffer.data(), received) != Arrival::Taken) {
            return false;
        }
        endpoint = Pack(source);
    }
    Stamp(endpoint, from);
    return true;
}

// Off the loopback, another user's, or (to the driver) without a whole frame: such a datagram
// is dropped before it can take a peer slot, count as first contact or wait anywhere.
Arrival Network::Impl::Screen(const Udp::endpoint& source, const uint8_t* bytes, size_t length) {
    if (!IsLoopback(source.address())) {
        ++ignored;
        ++datagrams;
        return Arrival::Dropped;
    }
    if (!Admitted(source)) {
        ++datagrams;
        return Arrival::Dropped;
    }
    // The programs send whole frames; random bytes (a runaway program of our own user's) would
    // otherwise take a peer slot and a publish-all per port.
    if (IsDriver() && !wire::HoldsFrame(bytes, length)) {
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

// Before a datagram can take a peer slot, count as the peer being heard or reach a record:
// the controller listens to the driver's port alone, and both take only the datagrams of
// their own user's (and root's) programs.
bool Network::Impl::Admitted(const Udp::endpoint& source) {
    const UdpEndpoint sender{source.address().to_v4().to_uint(), source.port()};
    if (!IsDriver() && (sender.address != address.to_uint() || sender.port != config.peerPort)) {
        ++ignored;
        return false;
    }
    return gate.Admit(sender, {address.to_uint(), localPort}, Now()) == Admission::Accept;
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

// Every record in table order with its pause, as Registry::PublishAll, except that a stop ends
// it: the endpoint stopping, or a stop request among the datagrams that came meanwhile. A stop
// then takes effect at once instead of after the rest of the 1.1 s. The pauses are spent
// reading the socket: refusing costs nothing, and what is taken waits for its turn.
void Network::Impl::PublishAll() {
    const Clock& clock = registry.GetClock();
    for (const TableEntry& entry : registry.Table()) {
        entry.record->Send();
        for (int slept = 0;; slept += kReadSliceMs) {
            HoldArrivals();
            if (stopping || stopHeld) {
                return;
            }
            if (slept >= kPublishAllGapMs) {
                break;
            }
            clock.SleepMs(std::min(kReadSliceMs, kPublishAllGapMs - slept));
        }
    }
}

void Network::Impl::HoldArrivals() {
    for (int read = 0; read < kMaxReadsPerLook && !stopping; ++read) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received =
            ::recvfrom(socket.native_handle(), arrivalBuffer.data(), arrivalBuffer.size(),
                       MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        // Nothing more now; an error (a peer gone, told by ICMP) ends this look too.
        if (received < 0 || from.sin_family != AF_INET) {
            return;
        }
        const Udp::endpoint source(asio::ip::address_v4(ntohl(from.sin_addr.s_addr)),
                                   ntohs(from.sin_port));
        const auto length = static_cast<size_t>(received);
        if (Screen(source, arrivalBuffer.data(), length) == Arrival::Taken) {
            Hold(arrivalBuffer.data(), length, Pack(source));
        }
    }
}

// When the block is full the datagram is dropped (counted as ignored), unless it holds a stop
// request: that one is kept in the place of the latest others.
void Network::Impl::Hold(const uint8_t* bytes, size_t length, uint64_t from) {
    const bool stop = StopRequested(bytes, length);
    while (!held.Push(bytes, length, from)) {
        ++ignored;
        ++datagrams;
        if (!stop || !held.DropNewest()) {
            return;
        }
    }
    stopHeld = stopHeld || stop;
}

bool Network::Impl::StopRequested(const uint8_t* bytes, size_t length) const {
    const int32_t stopAddress = registry.driverDoStop.Address();
    for (size_t i = 0; i + wire::kFrameHeader <= length; ++i) {
        if (bytes[i] == 0x00 && bytes[i + 1] == 0xFF && bytes[i + 2] == wire::kCommandRecord &&
            wire::GetInt(bytes + i + wire::kOffAddress) == stopAddress &&
            wire::GetInt(bytes + i + wire::kOffEventValid) != 0 &&
            wire::GetInt(bytes + i + wire::kOffSequence) != registry.driverDoStop.lastHandled) {
            return true;
        }
    }
    return false;
}

bool Network::Impl::HelloAnswersDue() {
    if (!hellosPending) {
        return false;
    }
    if (handledWhileHellosPending >= kMaxHelloDeferral) {
        return true;
    }
    if (!held.Empty()) {
        return false;
    }
    boost::system::error_code ec;
    const size_t waiting = socket.available(ec);
    return ec || waiting == 0;
}

// One publish-all and DoReset for the next peer with hellos waiting, however many it sent: a
// hello that arrives during the publish-all marks the peer again and gets a complete one after
// it. One peer at a time, so that a new peer's first contact, or the next peer's hello, waits
// for one publish-all at most and not for everyone's.
void Network::Impl::AnswerHellos() {
    handledWhileHellosPending = 0;
    PeerSlot* next = nullptr;
    size_t waiting = 0;
    for (size_t k = 0; k < peers.size(); ++k) {
        PeerSlot& slot = peers[(nextHelloSlot + k) % peers.size()];
        if (slot.helloPending) {
            next = next == nullptr ? &slot : next;
            ++waiting;
        }
    }
    hellosPending = waiting > 1;
    if (next == nullptr) {
        return;
    }
    next->helloPending = false;
    nextHelloSlot = static_cast<size_t>(next - peers.data() + 1) % peers.size();
    if (stopping) {
        return;
    }
    try {
        const DirectedSends toSource(this, next->endpoint);
        PublishAll();
        registry.driverDoReset.RaiseCounted();
    } catch (const std::exception&) {
    }
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

// A hello asks the driver for its whole state; the DoReset that follows tells the peer the
// sequence is complete. Both go to the peer that asked, once the datagrams already waiting
// have been read (AnswerHellos): the 38 records take over a second, and a peer that says hello
// again and again meanwhile is owed one more publish-all, not one per hello.
void Network::Impl::OnHello() {
    if (!IsDriver()) {
        // The driver says hello as it starts: a new driver, whose records are still to come.
        registry.ForgetArrivals();
        return;
    }
    if (answeringSlot == nullptr) {
        return;
    }
    answeringSlot->helloPending = true;
    hellosPending = true;
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
            if (socket.is_open()) {
                socket.shutdown(Udp::socket::shutdown_receive, ec);
                const uint8_t wake = 0;
                socket.send_to(asio::buffer(&wake, 1), Udp::endpoint(address, localPort), 0, ec);
            }
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
    if (!impl_->Resolve()) {
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
    return impl_->gate.Refused();
}
bool Network::CanTellSenders() const {
    return impl_->gate.HasLookup() || impl_->gate.TrustsLoopback();
}
std::optional<uint32_t> Network::PeerPortOwner() const {
    const uint32_t local = impl_->address.to_uint();
    return impl_->gate.OwnerOf({local, impl_->config.peerPort}, {local, impl_->localPort});
}
bool Network::Accepts(uint32_t uid) const {
    return impl_->gate.Accepts(uid);
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
    boost::system::error_code ec;
    const int32_t sent = impl_->SendDatagram(bytes, length, impl_->peer, ec);
    if (ec) {
        impl_->connected = false;
    }
    return sent;
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
