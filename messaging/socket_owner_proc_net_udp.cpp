// Socket owners from the kernel's UDP socket table in /proc/net/udp, where there is no
// udp_diag: the whole table is read for each lookup.
#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "messaging/command_line.h"
#include "messaging/socket_owner.h"

namespace kv {

namespace {

// "0100007F:2BF1": the address as the kernel holds it (network order) in hex, then the port.
std::optional<UdpEndpoint> ParseEndpoint(const std::string& text) {
    unsigned address = 0;
    unsigned port = 0;
    char end = 0;
    if (text.size() != 13 || std::sscanf(text.c_str(), "%8x:%4x%c", &address, &port, &end) != 2) {
        return std::nullopt;
    }
    return UdpEndpoint{ntohl(address), static_cast<uint16_t>(port)};
}

class ProcNetUdpLookup final : public SocketOwnerLookup {
public:
    explicit ProcNetUdpLookup(std::string path) : path_(std::move(path)) {}

    std::optional<uint32_t> OwnerOf(UdpEndpoint sender, UdpEndpoint receiver) override {
        std::ifstream table(path_);
        std::string line;
        std::getline(table, line);  // the column names
        while (std::getline(table, line)) {
            if (const auto uid = ProcNetUdpOwner(line, sender, receiver)) {
                return uid;
            }
        }
        return std::nullopt;
    }

    const char* Name() const override { return "/proc/net/udp"; }

private:
    std::string path_;
};

}  // namespace

std::optional<uint32_t> ProcNetUdpOwner(const std::string& line, UdpEndpoint sender,
                                        UdpEndpoint receiver) {
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
    std::istringstream columns(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid;
    if (!(columns >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) {
        return std::nullopt;
    }
    const auto bound = ParseEndpoint(local);
    const auto peer = ParseEndpoint(remote);
    if (!bound || !peer || bound->port != sender.port ||
        (bound->address != sender.address && bound->address != 0)) {
        return std::nullopt;
    }
    const bool connectedElsewhere =
        peer->port != 0 && (peer->port != receiver.port || peer->address != receiver.address);
    if (connectedElsewhere) {
        return std::nullopt;
    }
    return ParseDecimal<uint32_t>(uid);
}

std::unique_ptr<SocketOwnerLookup> MakeProcNetUdpLookup(std::string path) {
    return std::make_unique<ProcNetUdpLookup>(std::move(path));
}

}  // namespace kv
