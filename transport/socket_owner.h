// Which local user sent a datagram. The protocol carries no user; the kernel knows who owns
// every socket on the loopback, so each program asks it before a datagram from a new source
// can reach a record: only the program's own user and root may control it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kv {

// An IPv4 address and port in host byte order.
struct UdpEndpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Asks the system which user owns the UDP socket at sender that sends to receiver.
class SocketOwnerLookup {
public:
    virtual ~SocketOwnerLookup() = default;
    // The owner's uid; empty when no such socket is found or the lookup failed.
    virtual std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint receiver) = 0;
    // What the lookup uses, for messages ("sock_diag", "/proc/net/udp").
    virtual const char* Name() const = 0;
};

// The kernel's socket diagnostics (NETLINK_SOCK_DIAG, udp_diag): one exact-match request per
// lookup, a few microseconds whatever the number of sockets.
std::unique_ptr<SocketOwnerLookup> MakeSockDiagLookup();
// The socket table in the given file (/proc/net/udp): slower, read whole per lookup; used
// where the kernel has no udp_diag.
std::unique_ptr<SocketOwnerLookup> MakeProcNetUdpLookup(std::string path = "/proc/net/udp");

// The uid of the socket in one line of a /proc/net/udp table that is bound to sender (or to
// any address on its port) and is unconnected or connected to receiver; empty otherwise.
std::optional<uint32_t> ProcNetUdpOwner(const std::string& line, UdpEndpoint sender,
                                        UdpEndpoint receiver);

// The first lookup of sock_diag and /proc/net/udp that finds a socket of this process, or null
// when neither does (no udp_diag and no /proc, an odd container).
std::unique_ptr<SocketOwnerLookup> MakeSystemSocketOwnerLookup();

// The one line a program prints when it cannot tell who sends to it.
std::string NoOwnerLookupMessage(const char* program);

// What the receiver does with a datagram from a source.
enum class Admission { Accept, Refuse };

// The admission rule of both programs: the datagrams of sockets owned by our own uid or by
// root are taken, everything else is dropped without an answer. An answer is kept per source
// for at most 1 s (a port that changes hands is looked up again), for as many sources as a
// flood from a few hundred ports uses, so that refusing costs a lookup a second per source.
// Never accepts 65534 unless that is our own uid: sockets of another user namespace show as
// 65534. Without a lookup everything is refused, unless the loopback is trusted
// (--trust-loopback).
class PeerGate {
public:
    static constexpr int64_t kCacheMs = 1000;
    // How long after its last lookup an accepted source whose socket has closed keeps its
    // acceptance (its datagrams may wait behind a publish-all of 1.1 s).
    static constexpr int64_t kClosedGraceMs = 5000;
    static constexpr size_t kCached = 256;
    static constexpr size_t kReported = 256;
    // Refused sources are named once each, at most this many in each interval; those left
    // for later are counted in the next report.
    static constexpr size_t kReportsPerInterval = 5;
    static constexpr int64_t kReportIntervalMs = 5000;

    // Told once per refused source: its uid (empty when unknown), its port, and how many other
    // refused sources are not named yet (the reports' rate is bounded; they come later).
    using RefusalReport =
        std::function<void(std::optional<uint32_t> uid, uint16_t port, uint64_t unnamed)>;

    PeerGate(std::unique_ptr<SocketOwnerLookup> lookup, uint32_t ownUid, bool trustLoopback);

    // The verdict on a datagram from sender; counted unless it is only being looked at (a
    // datagram peeked at before it is read).
    Admission Admit(UdpEndpoint sender, UdpEndpoint receiver, int64_t nowMs, bool count = true);
    // Who owns the socket at sender, looked up now (no cache).
    std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint receiver);

    bool Accepts(std::optional<uint32_t> uid) const;
    bool HasLookup() const { return lookup_ != nullptr; }
    bool TrustsLoopback() const { return trust_; }
    // Read from any thread.
    uint64_t Refused() const { return refused_; }
    // The uid of the last refused source, if the lookup found one.
    std::optional<uint32_t> LastRefusedUid() const;
    void SetRefusalReport(RefusalReport report) { report_ = std::move(report); }

private:
    struct Cached {
        uint64_t source = 0;  // address << 16 | port; 0: free
        int64_t at = 0;
        bool accepted = false;
    };

    struct Reported {
        uint64_t source = 0;  // 0: free
        bool named = false;   // false: counted in unnamed_, to be named when the rate allows
    };

    void Report(uint64_t source, std::optional<uint32_t> uid, uint16_t port, int64_t nowMs);

    std::mutex lookupMutex_;  // the receive thread and a window may both ask
    std::unique_ptr<SocketOwnerLookup> lookup_;
    uint32_t ownUid_;
    bool trust_;
    std::array<Cached, kCached> cache_{};
    size_t nextCached_ = 0;
    std::array<Reported, kReported> reported_{};
    size_t nextReported_ = 0;
    uint64_t unnamed_ = 0;
    std::optional<int64_t> intervalStart_;
    size_t reportsInInterval_ = 0;
    std::atomic<uint64_t> refused_{0};
    std::atomic<int64_t> lastRefusedUid_{-1};
    RefusalReport report_;
};

}  // namespace kv
