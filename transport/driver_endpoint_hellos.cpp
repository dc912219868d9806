// The driver's answer to a hello: every record to the peer that asked, paced, with the socket
// read in the pauses so that a flood or a stop request is seen meanwhile.
#include <algorithm>
#include <exception>

#include "protocol/wire.h"
#include "transport/driver_endpoint.h"

namespace kv {

// Every record in table order with its pause, as Registry::PublishAll, except that a stop ends
// it: the endpoint stopping, or a stop request among the datagrams that came meanwhile. A stop
// then takes effect at once instead of after the rest of the 1.1 s. The pauses are spent
// reading the socket: refusing costs nothing, and what is taken waits for its turn.
void DriverEndpoint::PublishAll() {
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

void DriverEndpoint::HoldArrivals() {
    for (int read = 0; read < kMaxReadsPerLook && !stopping; ++read) {
        const Received arrival = socket.Receive(arrivalBuffer.data(), arrivalBuffer.size(), 0);
        // Nothing more now; an error (a peer gone, told by ICMP) ends this look too.
        if (arrival.status != Received::Status::Datagram) {
            return;
        }
        if (Screen(arrival.source, arrivalBuffer.data(), arrival.length) == Arrival::Taken) {
            Hold(arrivalBuffer.data(), arrival.length, Pack(arrival.source));
        }
    }
}

// When the block is full the datagram is dropped (counted as ignored), unless it holds a stop
// request: that one is kept in the place of the latest others.
void DriverEndpoint::Hold(const uint8_t* bytes, size_t length, uint64_t from) {
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

bool DriverEndpoint::StopRequested(const uint8_t* bytes, size_t length) const {
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

bool DriverEndpoint::HelloAnswersDue() {
    if (!hellosPending) {
        return false;
    }
    if (handledWhileHellosPending >= kMaxHelloDeferral) {
        return true;
    }
    if (!held.Empty()) {
        return false;
    }
    return socket.Waiting() == 0;
}

// One publish-all and DoReset for the next peer with hellos waiting, however many it sent: a
// hello that arrives during the publish-all marks the peer again and gets a complete one after
// it. One peer at a time, so that a new peer's first contact, or the next peer's hello, waits
// for one publish-all at most and not for everyone's.
void DriverEndpoint::AnswerHellos() {
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

// A hello asks the driver for its whole state; the DoReset that follows tells the peer the
// sequence is complete. Both go to the peer that asked, once the datagrams already waiting
// have been read (AnswerHellos): the 38 records take over a second, and a peer that says hello
// again and again meanwhile is owed one more publish-all, not one per hello.
void DriverEndpoint::OnHello() {
    if (answeringSlot == nullptr) {
        return;
    }
    answeringSlot->helloPending = true;
    hellosPending = true;
}

}  // namespace kv
