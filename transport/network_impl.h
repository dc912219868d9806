// What both programs' UDP endpoints share (network.cpp), beneath the driver's side
// (driver_endpoint.h) and the controller's (controller_endpoint.h).
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "protocol/frame_cutter.h"
#include "protocol/relaxed.h"
#include "transport/loopback_socket.h"
#include "transport/network.h"

namespace kv {

inline constexpr size_t kReceiveBufferSize = 30000;

inline bool IsLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

// An endpoint packed into one word, so the receive thread can replace it while other threads
// send, without a lock: IPv4 address in the upper bits, port in the lowest 16. 0 is no one.
inline uint64_t Pack(UdpEndpoint endpoint) {
    return static_cast<uint64_t>(endpoint.address) << 16 | endpoint.port;
}

inline UdpEndpoint Unpack(uint64_t packed) {
    return {static_cast<uint32_t>(packed >> 16), static_cast<uint16_t>(packed & 0xFFFF)};
}

// What both programs' endpoints share: the socket's address and bind (tried again while the
// port is taken), the receive thread's run and stop, the frame cutter into the registry, the
// locked send and the counts. The driver's side (driver_endpoint.h) serves many peers; the
// controller's (controller_endpoint.h) is a client of the driver's port.
struct Network::Impl : FrameSink {
    Impl(Registry& owner, NetworkConfig configuration)
        : registry(owner), config(std::move(configuration)) {
        resolved = Resolve();
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // False only for an address that can never be bound (off the loopback, malformed).
    bool Resolve();
    bool Bind();
    void Run();
    bool WaitForBind();
    // False when the datagram was not sent (the socket closed or stopping, or an error).
    bool SendDatagram(const uint8_t* bytes, size_t length, uint64_t to);
    void SendHello();
    void Stop();
    bool SleepUnlessStopping(int ms) const;
    // A datagram acted on: counted, and what waits in the cutter noted.
    void Counted() {
        buffered = cutter.Buffered();
        ++datagrams;
    }

    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const DeliverResult result = registry.Deliver(buffer, start, validBytes);
        if (result.refused) {
            OnRefused(*result.record);
        }
    }

    // What each side does its own way.
    // Opens and binds the socket at local; empty, or why it failed.
    virtual std::string Open(UdpEndpoint local) = 0;
    virtual LoopbackSocket& Socket() = 0;
    // Receive thread, and PeerPortOwner under its own lock.
    virtual PeerGate& Gate() = 0;
    virtual const PeerGate& Gate() const = 0;
    // The send itself, under the socket's lock and with the socket open.
    virtual bool Transmit(const uint8_t* bytes, size_t length, uint64_t to) = 0;
    virtual void OnSendFailed() {}
    // Network::Send once the socket is bound.
    virtual int32_t Send(const uint8_t* bytes, size_t length) = 0;
    // Before the first hello: false when the endpoint stopped meanwhile.
    virtual bool AwaitReady() { return true; }
    // One turn of the receive loop: a datagram read and acted on, or whatever is due.
    virtual void Serve() = 0;
    // A peer's record the registry did not take.
    virtual void OnRefused(DataManipulation& record) { (void)record; }
    virtual bool Connected() const = 0;
    virtual size_t LivePeers() const { return 0; }
    virtual void OnPeersSilent() {}

    int64_t Now() const { return registry.GetClock().NowMs(); }

    Registry& registry;
    const NetworkConfig config;
    uint32_t address = 0;  // bound and first peer, host byte order
    bool resolved = false;
    std::atomic<bool> ok{false};
    mutable std::mutex errorMutex;
    std::string error;
    std::atomic<uint16_t> localPort{0};
    bool registered = false;

    // Senders share the socket; only opening and closing it need it alone.
    std::shared_mutex socketMutex;
    // The controller's one peer (the driver's port) and where the driver's hello goes.
    std::atomic<uint64_t> peer{0};

    FrameCutter cutter;
    std::array<uint8_t, kReceiveBufferSize> receiveBuffer{};

    Relaxed<bool> running = false;
    Relaxed<bool> ready = false;  // the driver's start-up is done (SetReady)
    Relaxed<bool> stopping = false;
    // Sequentially consistent, so that whoever sees a count also sees what the datagram did.
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> ignored{0};
    std::atomic<size_t> buffered{0};

    std::mutex stopMutex;
    bool stopped = false;
    std::thread thread;
};

}  // namespace kv
