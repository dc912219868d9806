// Where a record's bytes go once written: the UDP endpoint in the programs, a recorder in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

class Transport {
public:
    virtual ~Transport() = default;
    // Sends one datagram. Returns the bytes sent, or a program-specific code (the driver's
    // endpoint returns the milliseconds of silence when it refuses to send).
    virtual int32_t Send(const uint8_t* bytes, size_t length) = 0;
    // The registry refused to publish because every peer has been silent too long: the
    // transport forgets that it was connected, so the next datagram is first contact again.
    virtual void OnPeersSilent() {}
};

}  // namespace kv
