// Pointer injection through a uinput absolute pointer made with libevdev: works on X11,
// Wayland and the console. Also the event batch and device handle the uinput backends share.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "desktop/input_devices.h"
#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"

struct libevdev;
struct libevdev_uinput;

namespace kv {

// One evdev event as written to a uinput device.
struct UinputEvent {
    uint16_t type = 0;
    uint16_t code = 0;
    int32_t value = 0;

    bool operator==(const UinputEvent&) const = default;
};

// The events built for one injected event or contact report; a fixed array, so building
// never allocates.
class UinputEventBatch {
public:
    static constexpr size_t kCapacity = 24;

    void Push(uint16_t type, uint16_t code, int32_t value);
    // Ends the current evdev frame (EV_SYN SYN_REPORT).
    void Sync();

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const UinputEvent& operator[](size_t index) const { return events_[index]; }
    const UinputEvent* begin() const { return events_.data(); }
    const UinputEvent* end() const { return events_.data() + size_; }

private:
    std::array<UinputEvent, kCapacity> events_{};
    size_t size_ = 0;
};

// A created uinput device; destroying the object removes the device.
class UinputDevice {
public:
    // Opens the uinput node at path and creates the device that describe() sets up on a
    // fresh libevdev description. Null with a one-line reason in error on failure.
    static std::unique_ptr<UinputDevice> Create(const std::string& path,
                                                const std::function<void(libevdev*)>& describe,
                                                std::string& error);
    ~UinputDevice();
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;

    // Write failures are not reported: injection results are not examined.
    void Write(const UinputEventBatch& batch);
    // The event node the kernel made ("/dev/input/eventN"), or "" when unknown.
    std::string DevNode() const;

private:
    UinputDevice(libevdev_uinput* uinput, int fd) : uinput_(uinput), fd_(fd) {}

    libevdev_uinput* uinput_;
    int fd_;
};

// The resolution of an axis whose positions 0..max span mm millimetres, in units per
// millimetre (at least 1): libinput and the toolkits take a device's physical size, and with
// it their gesture thresholds, from it. 0 (unknown) for a size of 0 or less.
int32_t UnitsPerMm(int32_t max, int32_t mm);

constexpr const char* kUinputPointerName = kPointerDevice.name;
// ABS_X and ABS_Y carry dx and dy directly; 65536 (a position of exactly 1.0) is clamped.
constexpr int32_t kUinputPointerMax = 65535;
constexpr int32_t kWheelDelta = 120;

// The evdev events the absolute pointer writes for one injected event: the move, then each
// button change and the wheel, each in its own frame so that a press and release given
// together stay two clicks' worth of events. Moves without kAbsolute are not used by the
// pointer device and are ignored.
UinputEventBatch PointerEvents(uint32_t flags, int32_t dx, int32_t dy, int32_t data);

class UinputPointer final : public PointerInjector {
public:
    // Null with a reason in error when the device cannot be created. Its axes span a picture
    // of the given size.
    static std::unique_ptr<UinputPointer> Create(const std::string& path, std::string& error,
                                                 ScreenMillimetres screen = kDefaultScreenMm);

    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override;
    std::string DevNode() const { return device_->DevNode(); }

private:
    explicit UinputPointer(std::unique_ptr<UinputDevice> device) : device_(std::move(device)) {}

    std::unique_ptr<UinputDevice> device_;
};

}  // namespace kv
