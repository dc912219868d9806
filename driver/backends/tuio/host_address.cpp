// getaddrinfo backend of the TUIO target lookup.
#include "driver/backends/tuio/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <memory>

namespace TUIO {

HostAddress LookUpIpv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found); status != 0) {
        return {{}, "cannot find an IPv4 address for '" + host + "': " + gai_strerror(status)};
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
    std::array<char, INET_ADDRSTRLEN> text{};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text.data(), text.size()) == nullptr) {
        return {{}, "cannot write the address of '" + host + "'"};
    }
    return {text.data(), {}};
}

}  // namespace TUIO
