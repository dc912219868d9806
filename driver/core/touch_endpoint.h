// Where the virtual touch device's contact reports go: the HID endpoint, a uinput
// touchscreen, a recorder in tests; QueuedTouchEndpoint writes to either from a thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

class TouchEndpoint {
public:
    virtual ~TouchEndpoint() = default;
    // Opens the endpoint once; false when it is not there.
    virtual bool Open() = 0;
    // Sends one out report (report ID first); failures are not reported.
    virtual void Write(const uint8_t* report, size_t length) = 0;
};

}  // namespace kv
