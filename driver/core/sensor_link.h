// The link to the sensor board: find and open it, tell whether it is still there, read one
// input report. Backends: hidapi (the real board), the scripted board, the simulated board
// and the replay of a recording (driver/sim).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// The longest input report a link delivers in full; longer reports are cut to the
// destination's capacity.
constexpr size_t kMaxInputReport = 4096;
// How long one read waits for a report: short, so that a board that stops sending is noticed
// within a few of its frames.
constexpr int kReadTimeoutMs = 50;

class SensorLink {
public:
    virtual ~SensorLink() = default;

    // Closes any handle left from an earlier open, then opens the first matching board.
    virtual bool Open() = 0;
    // False when no board is open or the open one has gone away.
    virtual bool Alive() = 0;
    // Waits up to kReadTimeoutMs for one input report and copies it to dest, the report ID at
    // dest[0], never more than capacity bytes; a time-out leaves dest as it was. Returns the
    // board's input report length minus one: negative when it declares no input reports. The
    // result does not say whether data arrived.
    virtual int32_t Read(uint8_t* dest, size_t capacity) = 0;
    virtual void Close() = 0;
    // Bytes the last Read put into dest (report ID included), 0 when it timed out or failed;
    // tells the main loop a silent board from a frame, and lets a recorder keep exactly the
    // reports that arrived.
    virtual size_t LastDelivered() const = 0;
};

}  // namespace kv
