// The uinput touchscreen: slot events from contact reports, and the device description.
#include "driver/backends/uinput/uinput_touchscreen.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <algorithm>

namespace kv {

namespace {

constexpr int32_t kMaxTrackingId = 0xFFFF;

void DescribeTouchscreen(libevdev* dev, ScreenMillimetres screen) {
    libevdev_set_name(dev, kUinputTouchscreenName);
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_set_id_vendor(dev, kTouchscreenDevice.vendor);
    libevdev_set_id_product(dev, kTouchscreenDevice.product);
    libevdev_enable_property(dev, INPUT_PROP_DIRECT);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, BTN_TOUCH, nullptr);

    input_absinfo positionX{};
    positionX.maximum = kTouchscreenMax;
    positionX.resolution = UnitsPerMm(kTouchscreenMax, screen.width);
    input_absinfo positionY = positionX;
    positionY.resolution = UnitsPerMm(kTouchscreenMax, screen.height);
    input_absinfo slot{};
    slot.maximum = TouchscreenEventBuilder::kSlots - 1;
    input_absinfo tracking{};
    tracking.maximum = kMaxTrackingId;
    libevdev_enable_event_type(dev, EV_ABS);
    libevdev_enable_event_code(dev, EV_ABS, ABS_X, &positionX);
    libevdev_enable_event_code(dev, EV_ABS, ABS_Y, &positionY);
    libevdev_enable_event_code(dev, EV_ABS, ABS_MT_SLOT, &slot);
    libevdev_enable_event_code(dev, EV_ABS, ABS_MT_TRACKING_ID, &tracking);
    libevdev_enable_event_code(dev, EV_ABS, ABS_MT_POSITION_X, &positionX);
    libevdev_enable_event_code(dev, EV_ABS, ABS_MT_POSITION_Y, &positionY);
    // Finger or palm: a contact a palm came down on is cancelled, not lifted (libinput sends a
    // touch cancel for it, so no tap ends there).
    input_absinfo tool{};
    tool.maximum = MT_TOOL_MAX;
    libevdev_enable_event_code(dev, EV_ABS, ABS_MT_TOOL_TYPE, &tool);
}

int32_t U16At(const uint8_t* report, size_t offset) {
    return static_cast<int32_t>(report[offset] | report[offset + 1] << 8);
}

}  // namespace

int TouchscreenEventBuilder::PrimarySlot() const {
    for (int k = 0; k < kSlots; ++k) {
        if (slots_[static_cast<size_t>(k)].down) {
            return k;
        }
    }
    return -1;
}

UinputEventBatch TouchscreenEventBuilder::Build(const uint8_t* report, size_t length) {
    UinputEventBatch batch;
    if (report == nullptr || length < kMinReportBytes) {
        return batch;
    }
    const int32_t contact = U16At(report, 13);
    if (contact < 1 || contact > kSlots) {
        return batch;
    }
    const int index = contact - 1;
    Slot& slot = slots_[static_cast<size_t>(index)];
    const bool tip = (report[1] & 0x01) != 0;
    const bool palm = (report[1] & 0x04) != 0;

    if (tip) {
        const bool anyDown = PrimarySlot() >= 0;
        const int32_t x = std::min(U16At(report, 3), kTouchscreenMax);
        const int32_t y = std::min(U16At(report, 5), kTouchscreenMax);
        batch.Push(EV_ABS, ABS_MT_SLOT, index);
        if (!slot.down) {
            batch.Push(EV_ABS, ABS_MT_TRACKING_ID, nextTrackingId_);
            nextTrackingId_ = (nextTrackingId_ + 1) & kMaxTrackingId;
            if (slot.palm) {
                batch.Push(EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_FINGER);  // the slot keeps its tool
            }
        }
        batch.Push(EV_ABS, ABS_MT_POSITION_X, x);
        batch.Push(EV_ABS, ABS_MT_POSITION_Y, y);
        slot = {true, x, y, false};
        if (!anyDown) {
            batch.Push(EV_KEY, BTN_TOUCH, 1);
        }
        if (PrimarySlot() == index) {
            batch.Push(EV_ABS, ABS_X, x);
            batch.Push(EV_ABS, ABS_Y, y);
        }
        batch.Sync();
        return batch;
    }

    if (!slot.down) {
        return batch;
    }
    if (palm) {
        // A palm on the contact: it is cancelled in a frame of its own, while still down, and
        // lifts with the next report.
        if (!slot.palm) {
            batch.Push(EV_ABS, ABS_MT_SLOT, index);
            batch.Push(EV_ABS, ABS_MT_TOOL_TYPE, MT_TOOL_PALM);
            batch.Sync();
            slot.palm = true;
        }
        return batch;
    }
    const bool wasPrimary = PrimarySlot() == index;
    batch.Push(EV_ABS, ABS_MT_SLOT, index);
    batch.Push(EV_ABS, ABS_MT_TRACKING_ID, -1);
    slot.down = false;
    const int primary = PrimarySlot();
    if (primary < 0) {
        batch.Push(EV_KEY, BTN_TOUCH, 0);
    } else if (wasPrimary) {
        // Single-touch readers move on to the contact still down.
        const Slot& next = slots_[static_cast<size_t>(primary)];
        batch.Push(EV_ABS, ABS_X, next.x);
        batch.Push(EV_ABS, ABS_Y, next.y);
    }
    batch.Sync();
    return batch;
}

bool UinputTouchscreen::Open() {
    if (!device_) {
        const ScreenMillimetres screen = screen_;
        device_ = UinputDevice::Create(
            path_, [screen](libevdev* dev) { DescribeTouchscreen(dev, screen); }, error_);
    }
    return device_ != nullptr;
}

void UinputTouchscreen::Write(const uint8_t* report, size_t length) {
    if (!device_) {
        return;
    }
    const UinputEventBatch batch = builder_.Build(report, length);
    if (!batch.empty()) {
        device_->Write(batch);
    }
}

}  // namespace kv
