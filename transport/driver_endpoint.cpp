// The driver's side of the UDP endpoint: who may speak to it, a slot per peer, what it reads
// and where its records go.
#include "transport/driver_endpoint.h"

#include <unistd.h>

#include <chrono>
#include <exception>

#include "protocol/wire.h"

namespace kv {

thread_local const Network::Impl* tDirectedBy = nullptr;
thread_local uint64_t tDirectedTo = 0;

namespace {

int32_t ClampMs(int64_t ms) {
    return static_cast<int32_t>(ms > INT32_MAX ? INT32_MAX : ms);
}

}  // namespace

DriverEndpoint::DriverEndpoint(Registry& owner, NetworkConfig configuration)
    : Impl(owner, std::move(configuration)),
      gate(MakeSystemSocketOwnerLookup(), ::geteuid(), config.trustLoopback) {
    gate.SetRefusalReport(config.onRefusal);
}

// A peer silent for longer than 5000 ms is marked so, and its next datagram is first contact.
// Returns the bytes sent, or the milliseconds of silence when no peer is left.
int32_t DriverEndpoint::Send(const uint8_t* bytes, size_t length) {
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

// The receive thread waits for the driver's start-up before it says hello and listens.
bool DriverEndpoint::AwaitReady() {
    while (!ready) {
        if (stopping) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kReadyPollMs));
    }
    return true;
}

void DriverEndpoint::Serve() {
    if (HelloAnswersDue()) {
        AnswerHellos();
        return;
    }
    size_t received = 0;
    PeerSlot* from = nullptr;
    if (NextDatagram(received, from)) {
        Handle(received, from);
    }
    // Dropped ones count too: a flood that never lets the socket empty delays no answer for
    // longer than this many datagrams.
    handledWhileHellosPending += hellosPending ? 1 : 0;
}

// The slot of a source: its own, a free one, or the one heard least recently.
PeerSlot& DriverEndpoint::SlotFor(uint64_t endpoint) {
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

bool DriverEndpoint::NextDatagram(size_t& received, PeerSlot*& from) {
    uint64_t endpoint = 0;
    if (held.Pop(receiveBuffer.data(), received, endpoint)) {
        stopHeld = stopHeld && !held.Empty();  // the stop request held is out, if it was last
    } else {
        const Received arrival = socket.Receive(receiveBuffer.data(), receiveBuffer.size(),
                                                LoopbackSocket::kWaitForever);
        if (stopping || arrival.status != Received::Status::Datagram) {
            return false;
        }
        received = arrival.length;
        if (Screen(arrival.source, receiveBuffer.data(), received) != Arrival::Taken) {
            return false;
        }
        endpoint = Pack(arrival.source);
    }
    from = &SlotFor(endpoint);
    from->lastHeard = Now();
    registry.MarkPeerHeard();
    return true;
}

// Off the loopback, another user's, or without a whole frame: such a datagram is dropped
// before it can take a peer slot, count as first contact or wait anywhere.
Arrival DriverEndpoint::Screen(UdpEndpoint source, const uint8_t* bytes, size_t length) {
    if (!IsLoopback(source.address)) {
        ++ignored;
        ++datagrams;
        return Arrival::Dropped;
    }
    if (gate.Admit(source, {address, localPort}, Now()) != Admission::Accept) {
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

// One received datagram, after its source has been checked and stamped.
void DriverEndpoint::Handle(size_t received, PeerSlot* from) {
    // Nothing here throws by design; should anything still do so, the datagram is dropped and
    // the endpoint keeps serving instead of ending the program.
    try {
        // A peer's first contact after silence: it gets every record before anything it sent
        // is acted on.
        answering = from->endpoint;
        answeringSlot = from;
        if (!from->connected) {
            from->connected = true;
            const DirectedSends toSource(this, answering);
            PublishAll();
        }
        cutter.Append(receiveBuffer.data(), received, *this);
        // A presence record stamps the registry after a publish-all has taken its time; the
        // peer that sent it counts as heard from then too.
        if (from->lastHeard < registry.LastHeard()) {
            from->lastHeard = registry.LastHeard();
        }
    } catch (const std::exception&) {
    }
    Counted();
}

bool DriverEndpoint::Connected() const {
    for (const PeerSlot& slot : peers) {
        if (slot.endpoint != 0 && slot.connected) {
            return true;
        }
    }
    return false;
}

size_t DriverEndpoint::LivePeers() const {
    const int64_t now = Now();
    size_t live = 0;
    for (const PeerSlot& slot : peers) {
        live += slot.endpoint != 0 && now - slot.lastHeard < kPeerSilenceMs ? 1 : 0;
    }
    return live;
}

void DriverEndpoint::OnPeersSilent() {
    const int64_t now = Now();
    for (PeerSlot& slot : peers) {
        if (now - slot.lastHeard >= kPeerSilenceMs) {
            slot.connected = false;
        }
    }
}

}  // namespace kv
