// kvctl's datagram link on the client socket of transport/: a connected socket on an ephemeral
// loopback port, and what kvctl says when the driver's port is not ours to talk to.
#include <unistd.h>

#include "tools/kvctl/datagram_link.h"
#include "transport/client_socket.h"

namespace kv::kvctl {

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

class UdpLink final : public DatagramLink {
public:
    UdpLink(uint16_t driverPort, bool trustLoopback)
        : client_({kLoopback, driverPort}, trustLoopback) {}

    bool Open(std::string& error) {
        // An ephemeral port, so that kvctl works beside a running Controller; connected, so
        // that a driver that has ended is noticed.
        const std::string failure = client_.Open({kLoopback, 0}, true);
        if (!failure.empty()) {
            error = "cannot open a UDP socket on 127.0.0.1: " + failure;
            return false;
        }
        return OwnerAllowed(error);
    }

    // Another user's program on the driver's port is not our driver: nothing is sent to it.
    bool OwnerAllowed(std::string& error) {
        const PeerGate& gate = client_.Gate();
        if (!gate.HasLookup() && !gate.TrustsLoopback()) {
            error = NoOwnerLookupMessage("kvctl");
            return false;
        }
        if (gate.TrustsLoopback()) {
            return true;
        }
        const auto owner = client_.PeerOwner();
        if (owner && !gate.Accepts(*owner)) {
            error = ForeignOwner(*owner);
            return false;
        }
        return true;
    }

    bool Send(const uint8_t* bytes, size_t length) override { return client_.Send(bytes, length); }

    size_t Receive(uint8_t* buffer, size_t capacity, int timeoutMs) override {
        for (;;) {
            const auto arrival = client_.Receive(buffer, capacity, timeoutMs < 0 ? 0 : timeoutMs);
            using Status = ClientSocket::Arrival::Status;
            if (arrival.status == Status::Datagram) {
                return arrival.length;
            }
            // Refused: the port changed hands, another user's program holds it now.
            if (arrival.status != Status::Refused && arrival.status != Status::Ignored) {
                return 0;
            }
        }
    }

    bool PeerGone() const override { return client_.PeerGone(); }

    std::string PeerName() const override { return client_.PeerName(); }

    std::string Refusal() const override {
        const PeerGate& gate = client_.Gate();
        const auto uid = gate.LastRefusedUid();
        return gate.Refused() == 0 ? std::string()
               : uid               ? ForeignOwner(*uid)
                                   : "the owner of " + PeerName() + " cannot be found";
    }

private:
    std::string ForeignOwner(uint32_t uid) const {
        const uid_t own = ::geteuid();
        return PeerName() + " is held by uid " + std::to_string(uid) + ", not by you (uid " +
               std::to_string(own) + (own == 0 ? ")" : ") or root") +
               "; kvctl does not talk to another user's program (--trust-loopback does)";
    }

    ClientSocket client_;
};

}  // namespace

std::unique_ptr<DatagramLink> OpenUdpLink(uint16_t driverPort, bool trustLoopback,
                                          std::string& error) {
    auto link = std::make_unique<UdpLink>(driverPort, trustLoopback);
    if (!link->Open(error)) {
        return nullptr;
    }
    return link;
}

}  // namespace kv::kvctl
