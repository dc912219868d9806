// Socket owners from the kernel's socket diagnostics: one NETLINK_SOCK_DIAG request for the
// UDP socket that would take a datagram from the receiver to the sender, as `ss` asks.
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>

#include "transport/socket_owner.h"

namespace kv {

namespace {

// A lost answer must not hold the receive thread up.
constexpr int kAnswerWaitMs = 200;

class SockDiagLookup final : public SocketOwnerLookup {
public:
    ~SockDiagLookup() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint receiver) override {
        if (!Open()) {
            return std::nullopt;
        }
        struct {
            nlmsghdr header;
            inet_diag_req_v2 request;
        } message{};
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        message.header.nlmsg_flags = NLM_F_REQUEST;
        message.header.nlmsg_seq = ++sequence_;
        message.request.sdiag_family = AF_INET;
        message.request.sdiag_protocol = IPPROTO_UDP;
        message.request.idiag_states = ~0u;
        // The kernel looks up the socket bound at "dst" that would receive from "src".
        message.request.id.idiag_src[0] = htonl(receiver.address);
        message.request.id.idiag_sport = htons(receiver.port);
        message.request.id.idiag_dst[0] = htonl(sender.address);
        message.request.id.idiag_dport = htons(sender.port);
        message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
        message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                     sizeof kernel) != static_cast<ssize_t>(sizeof message)) {
            return std::nullopt;
        }
        // Answers to earlier requests that timed out are skipped by their sequence number.
        for (int attempt = 0; attempt < 4; ++attempt) {
            const ssize_t received = ::recv(fd_, answer_.data(), answer_.size(), 0);
            if (received <= 0) {
                return std::nullopt;
            }
            auto length = static_cast<unsigned>(received);
            for (auto* part = reinterpret_cast<nlmsghdr*>(answer_.data()); NLMSG_OK(part, length);
                 part = NLMSG_NEXT(part, length)) {
                if (part->nlmsg_seq != sequence_) {
                    continue;
                }
                if (part->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                    part->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                    return std::nullopt;  // NLMSG_ERROR: no such socket, or no udp_diag
                }
                const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(part));
                if (ntohs(found->id.idiag_sport) != sender.port) {
                    return std::nullopt;
                }
                return found->idiag_uid;
            }
        }
        return std::nullopt;
    }

    const char* Name() const override { return "sock_diag"; }

private:
    bool Open() {
        if (fd_ >= 0) {
            return true;
        }
        fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (fd_ < 0) {
            return false;
        }
        timeval wait{0, kAnswerWaitMs * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        return true;
    }

    int fd_ = -1;
    uint32_t sequence_ = 0;
    alignas(nlmsghdr) std::array<uint8_t, 8192> answer_{};
};

}  // namespace

std::unique_ptr<SocketOwnerLookup> MakeSockDiagLookup() {
    return std::make_unique<SockDiagLookup>();
}

}  // namespace kv
