// Socket owners from the kernel's UDP socket table in /proc/net/udp, where there is no
// udp_diag: the whole table is read for each lookup.
#include <arpa/inet.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string_view>

#include "common/command_line.h"
#include "transport/socket_owner.h"

namespace kv {

namespace {

// "0100007F:2BF1": the address as the kernel holds it (network order) in hex, then the port.
std::optional<UdpEndpoint> ParseEndpoint(const std::string& text) {
    const auto hex = [](std::string_view digits) -> std::optional<uint32_t> {
        uint32_t value = 0;
        for (const char c : digits) {
            const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                              : c >= 'A' && c <= 'F'                      ? c - 'A' + 10
                              : c >= 'a' && c <= 'f'                      ? c - 'a' + 10
                                                                          : -1;
            if (digit < 0) {
                return std::nullopt;
            }
            value = value << 4 | static_cast<uint32_t>(digit);
        }
        return value;
    };
    if (text.size() != 13 || text[8] != ':') {
        return std::nullopt;
    }
    const auto address = hex(std::string_view(text).substr(0, 8));
    const auto port = hex(std::string_view(text).substr(9));
    if (!address || !port) {
        return std::nullopt;
    }
    return UdpEndpoint{ntohl(*address), static_cast<uint16_t>(*port)};
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
