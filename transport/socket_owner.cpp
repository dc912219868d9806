// The admission rule of both programs and the choice of a working owner lookup.
#include "transport/socket_owner.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr uint32_t kRootUid = 0;
constexpr uint32_t kLoopback = 0x7F000001;

uint64_t Key(UdpEndpoint endpoint) {
    return static_cast<uint64_t>(endpoint.address) << 16 | endpoint.port;
}

// Whether lookup finds a socket this process has just bound, with our own uid.
bool FindsOwnSocket(SocketOwnerLookup& lookup) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = htonl(kLoopback);
    socklen_t length = sizeof bound;
    bool found = false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        const UdpEndpoint own{kLoopback, ntohs(bound.sin_port)};
        found = lookup.OwnerOf(own, own) == ::geteuid();
    }
    ::close(fd);
    return found;
}

}  // namespace

std::unique_ptr<SocketOwnerLookup> MakeSystemSocketOwnerLookup() {
    std::unique_ptr<SocketOwnerLookup> candidates[] = {MakeSockDiagLookup(),
                                                       MakeProcNetUdpLookup()};
    for (auto& lookup : candidates) {
        if (FindsOwnSocket(*lookup)) {
            return std::move(lookup);
        }
    }
    return nullptr;
}

std::string NoOwnerLookupMessage(const char* program) {
    return std::string(program) +
           ": cannot tell which local user sends to this program (the kernel has no udp_diag "
           "and /proc/net/udp cannot be read), so every datagram is refused; "
           "--trust-loopback lets any local user control it";
}

PeerGate::PeerGate(std::unique_ptr<SocketOwnerLookup> lookup, uint32_t ownUid, bool trustLoopback)
    : lookup_(std::move(lookup)), ownUid_(ownUid), trust_(trustLoopback) {}

bool PeerGate::Accepts(std::optional<uint32_t> uid) const {
    return uid && (*uid == ownUid_ || *uid == kRootUid);
}

std::optional<uint32_t> PeerGate::OwnerOf(UdpEndpoint sender, UdpEndpoint receiver) {
    std::lock_guard lock(lookupMutex_);
    return lookup_ ? lookup_->OwnerOf(sender, receiver) : std::nullopt;
}

std::optional<uint32_t> PeerGate::LastRefusedUid() const {
    const int64_t uid = lastRefusedUid_;
    return uid < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(uid));
}

Admission PeerGate::Admit(UdpEndpoint sender, UdpEndpoint receiver, int64_t nowMs, bool count) {
    if (trust_) {
        return Admission::Accept;
    }
    const uint64_t source = Key(sender);
    Cached* known = nullptr;
    for (Cached& entry : cache_) {
        if (entry.source == source) {
            known = &entry;
            break;
        }
    }
    if (known != nullptr && nowMs - known->at < kCacheMs && known->at <= nowMs) {
        if (!known->accepted && count) {
            ++refused_;
        }
        return known->accepted ? Admission::Accept : Admission::Refuse;
    }
    const std::optional<uint32_t> uid = OwnerOf(sender, receiver);
    // A program of ours that sent and ended while its datagrams waited (behind a publish-all)
    // has left no socket to look at; its datagrams are still its own. Someone else on that
    // port now would be found, and refused.
    if (!uid && known != nullptr && known->accepted && nowMs - known->at < kClosedGraceMs) {
        return Admission::Accept;
    }
    const bool accepted = Accepts(uid);
    if (known == nullptr) {
        known = &cache_[nextCached_];
        nextCached_ = (nextCached_ + 1) % cache_.size();
    }
    *known = {source, nowMs, accepted};
    if (accepted) {
        return Admission::Accept;
    }
    refused_ += count ? 1 : 0;
    if (uid) {
        lastRefusedUid_ = *uid;
    }
    Report(source, uid, sender.port, nowMs);
    return Admission::Refuse;
}

// Once per source (as far as the last kReported sources go), so that a flood says one line
// per port and not one per datagram; and at most kReportsPerInterval lines an interval, so that
// a flood from many ports says a few lines and how many sources it left out. A source left out
// is named at one of its next lookups (once a second) when the rate allows.
void PeerGate::Report(uint64_t source, std::optional<uint32_t> uid, uint16_t port, int64_t nowMs) {
    Reported* entry = nullptr;
    for (Reported& seen : reported_) {
        if (seen.source == source) {
            entry = &seen;
            break;
        }
    }
    if (entry != nullptr && entry->named) {
        return;
    }
    if (entry == nullptr) {
        entry = &reported_[nextReported_];
        nextReported_ = (nextReported_ + 1) % reported_.size();
        unnamed_ -= entry->source != 0 && !entry->named ? 1 : 0;  // forgotten, not named
        *entry = {source, false};
        ++unnamed_;
    }
    if (!intervalStart_ || nowMs - *intervalStart_ >= kReportIntervalMs ||
        nowMs < *intervalStart_) {
        intervalStart_ = nowMs;
        reportsInInterval_ = 0;
    }
    if (reportsInInterval_ >= kReportsPerInterval) {
        return;
    }
    ++reportsInInterval_;
    entry->named = true;
    --unnamed_;
    if (report_) {
        report_(uid, port, unnamed_);
    }
}

}  // namespace kv
