// Where the TUIO server's datagrams go: a UDP socket in the driver, a recorder in tests.
#pragma once

#include <cstddef>

namespace TUIO {

class PacketSender {
public:
    virtual ~PacketSender() = default;
    // Sends one datagram; failures are swallowed (the touch output must carry on).
    virtual void Send(const char* data, std::size_t size) = 0;
};

}  // namespace TUIO
