// The uinput absolute pointer: which evdev events each injected event becomes, and the
// libevdev device that carries them.
#include "driver/backends/uinput/uinput_pointer.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

void DescribePointer(libevdev* dev, ScreenMillimetres screen) {
    libevdev_set_name(dev, kUinputPointerName);
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_set_id_vendor(dev, kPointerDevice.vendor);
    libevdev_set_id_product(dev, kPointerDevice.product);
    input_absinfo axis{};
    axis.minimum = 0;
    axis.maximum = kUinputPointerMax;
    libevdev_enable_event_type(dev, EV_ABS);
    axis.resolution = UnitsPerMm(kUinputPointerMax, screen.width);
    libevdev_enable_event_code(dev, EV_ABS, ABS_X, &axis);
    axis.resolution = UnitsPerMm(kUinputPointerMax, screen.height);
    libevdev_enable_event_code(dev, EV_ABS, ABS_Y, &axis);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, BTN_LEFT, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, BTN_RIGHT, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, BTN_MIDDLE, nullptr);
    libevdev_enable_event_type(dev, EV_REL);
    libevdev_enable_event_code(dev, EV_REL, REL_WHEEL, nullptr);
}

void PushButton(UinputEventBatch& batch, uint16_t code, int32_t value) {
    batch.Push(EV_KEY, code, value);
    batch.Sync();
}

}  // namespace

int32_t UnitsPerMm(int32_t max, int32_t mm) {
    if (mm <= 0) {
        return 0;  // unknown, as evdev has it
    }
    return std::max<int32_t>(1, static_cast<int32_t>(std::lround(static_cast<double>(max) / mm)));
}

void UinputEventBatch::Push(uint16_t type, uint16_t code, int32_t value) {
    // Every builder stays far below the capacity; a longer batch is a bug.
    assert(size_ < kCapacity);
    if (size_ < kCapacity) {
        events_[size_++] = {type, code, value};
    }
}

void UinputEventBatch::Sync() {
    Push(EV_SYN, SYN_REPORT, 0);
}

std::unique_ptr<UinputDevice> UinputDevice::Create(const std::string& path,
                                                   const std::function<void(libevdev*)>& describe,
                                                   std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    libevdev* dev = libevdev_new();
    if (dev == nullptr) {
        close(fd);
        error = "cannot allocate a libevdev device";
        return nullptr;
    }
    describe(dev);
    libevdev_uinput* uinput = nullptr;
    const int rc = libevdev_uinput_create_from_device(dev, fd, &uinput);
    libevdev_free(dev);
    if (rc < 0) {
        close(fd);
        error = "cannot create a uinput device on " + path + ": " + std::strerror(-rc);
        return nullptr;
    }
    return std::unique_ptr<UinputDevice>(new UinputDevice(uinput, fd));
}

UinputDevice::~UinputDevice() {
    libevdev_uinput_destroy(uinput_);
    close(fd_);
}

void UinputDevice::Write(const UinputEventBatch& batch) {
    for (const UinputEvent& event : batch) {
        libevdev_uinput_write_event(uinput_, event.type, event.code, event.value);
    }
}

std::string UinputDevice::DevNode() const {
    const char* node = libevdev_uinput_get_devnode(uinput_);
    return node != nullptr ? node : "";
}

UinputEventBatch PointerEvents(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    namespace pf = pointer_flags;
    UinputEventBatch batch;
    if ((flags & pf::kMove) != 0 && (flags & pf::kAbsolute) != 0) {
        batch.Push(EV_ABS, ABS_X, std::clamp(dx, 0, kUinputPointerMax));
        batch.Push(EV_ABS, ABS_Y, std::clamp(dy, 0, kUinputPointerMax));
        batch.Sync();
    }
    // The order of one combined call: press before release, left, right, middle.
    if ((flags & pf::kLeftDown) != 0) {
        PushButton(batch, BTN_LEFT, 1);
    }
    if ((flags & pf::kLeftUp) != 0) {
        PushButton(batch, BTN_LEFT, 0);
    }
    if ((flags & pf::kRightDown) != 0) {
        PushButton(batch, BTN_RIGHT, 1);
    }
    if ((flags & pf::kRightUp) != 0) {
        PushButton(batch, BTN_RIGHT, 0);
    }
    if ((flags & pf::kMiddleDown) != 0) {
        PushButton(batch, BTN_MIDDLE, 1);
    }
    if ((flags & pf::kMiddleUp) != 0) {
        PushButton(batch, BTN_MIDDLE, 0);
    }
    // Positive data is away from the user, as positive REL_WHEEL is.
    if ((flags & pf::kWheel) != 0 && data / kWheelDelta != 0) {
        batch.Push(EV_REL, REL_WHEEL, data / kWheelDelta);
        batch.Sync();
    }
    return batch;
}

std::unique_ptr<UinputPointer> UinputPointer::Create(const std::string& path, std::string& error,
                                                     ScreenMillimetres screen) {
    std::unique_ptr<UinputDevice> device = UinputDevice::Create(
        path, [screen](libevdev* dev) { DescribePointer(dev, screen); }, error);
    if (!device) {
        return nullptr;
    }
    return std::unique_ptr<UinputPointer>(new UinputPointer(std::move(device)));
}

void UinputPointer::Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    device_->Write(PointerEvents(flags, dx, dy, data));
}

}  // namespace kv
