// The IPv4 address of the TUIO target: a dotted address as it is, a host name looked up once.
#pragma once

#include <string>

namespace TUIO {

struct HostAddress {
    std::string address;  // dotted IPv4; empty when the lookup failed
    std::string error;    // why it failed
};

// Looks host up through the system's resolver (/etc/hosts, DNS) for an IPv4 address.
HostAddress LookUpIpv4(const std::string& host);

}  // namespace TUIO
