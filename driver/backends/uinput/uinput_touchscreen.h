// The virtual touch device's contact reports as a uinput multitouch touchscreen (protocol
// type B, two slots), for systems without the HID endpoint: native two-finger touch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/backends/uinput/uinput_pointer.h"
#include "driver/core/touch_endpoint.h"

namespace kv {

constexpr const char* kUinputTouchscreenName = kTouchscreenDevice.name;
constexpr int32_t kTouchscreenMax = 32767;

// Turns 30-byte contact out reports (state at byte 1, X at 3, Y at 5, contact number at 13,
// little-endian) into slot events: contact 1 and 2 are slots 0 and 1; a report with the tip
// bit (state 3) touches at X/Y, state 6 (in range, no finger) marks the contact a palm's, so
// that it is cancelled, and any other state (2 in range, 0 gone) lifts it.
// ABS_X/ABS_Y and BTN_TOUCH follow the lowest touching slot, as a single-touch reader
// expects. Kept apart from the device so that tests see exactly what would be written.
class TouchscreenEventBuilder {
public:
    static constexpr int kSlots = 2;
    static constexpr size_t kMinReportBytes = 15;

    // The events for one report; empty when the report changes nothing or is malformed.
    UinputEventBatch Build(const uint8_t* report, size_t length);

    bool Down(int slot) const { return slots_[static_cast<size_t>(slot)].down; }

private:
    struct Slot {
        bool down = false;
        int32_t x = 0;
        int32_t y = 0;
        bool palm = false;  // its tool is a palm (until its next contact)
    };

    // The slot single-touch readers follow, or -1 when none touches.
    int PrimarySlot() const;

    std::array<Slot, kSlots> slots_{};
    int32_t nextTrackingId_ = 0;
};

class UinputTouchscreen final : public TouchEndpoint {
public:
    // Its positions span a picture of the given size.
    explicit UinputTouchscreen(std::string path = "/dev/uinput",
                               ScreenMillimetres screen = kDefaultScreenMm)
        : path_(std::move(path)), screen_(screen) {}

    // Creates the touchscreen; false (with Error() saying why) when uinput is not usable.
    bool Open() override;
    void Write(const uint8_t* report, size_t length) override;

    const std::string& Error() const { return error_; }
    std::string DevNode() const { return device_ ? device_->DevNode() : std::string(); }

private:
    std::string path_;
    ScreenMillimetres screen_;
    std::string error_;
    std::unique_ptr<UinputDevice> device_;
    TouchscreenEventBuilder builder_;
};

}  // namespace kv
