// Pointer devices: flush rules of the desktop pointer and the hand-off of reports.
#include "driver/touch/mouse_device.h"

#include <algorithm>
#include <cmath>

#include "driver/core/unit_range.h"

namespace kv {

namespace {

constexpr int32_t kAbsoluteRange = 65536;
constexpr int32_t kWheelNotch = 120;

}  // namespace

MouseDevice1::MouseDevice1(PointerInjector& injector, const DisplayInfo& display,
                           const OutputState& output)
    : injector_(injector),
      output_(output),
      // A display that reports no size would make every move divide by zero.
      width_(std::max(display.Width(), 1)),
      height_(std::max(display.Height(), 1)) {}

void MouseDevice1::Update(const PointerReport* report) {
    if (report == nullptr) {
        Release();
        return;
    }
    primary_.newState = std::clamp(report->primaryState, 0, 2);
    primary_.x = Clamp01(report->primaryX);
    primary_.y = Clamp01(report->primaryY);
    secondary_.newState = std::clamp(report->secondaryState, 0, 2);
    secondary_.x = Clamp01(report->secondaryX);
    secondary_.y = Clamp01(report->secondaryY);
    if (primary_.newState > 0 && secondary_.newState > 0) {
        primary_.newState = 0;
        secondary_.newState = 0;
    }
    newRightClick_ = report->rightClick;
    newWheel_ = report->wheel;
    Flush();
}

void MouseDevice1::Release() {
    newWheel_ = 0.0f;
    primary_.newState = 0;
    secondary_.newState = 0;
    newRightClick_ = 0;
    Flush();
}

void MouseDevice1::Flush() {
    using namespace pointer_flags;
    const bool rightClick = newRightClick_ != previousRightClick_ && newRightClick_ == 1;
    if (primary_.newState < 2) {
        leftGivenUp_ = false;
    } else if (leftGivenUp_) {
        primary_.newState = 1;  // the finger still touches; the button stays up
    } else if (rightClick && primary_.previousState == 2) {
        leftGivenUp_ = true;
        primary_.newState = 1;
    }
    FlushChannel(primary_, kLeftDown, kLeftUp);
    FlushChannel(secondary_, kMiddleDown, kMiddleUp);
    if (rightClick) {
        Send(kRightDown, 0, 0, 0);
        Send(kRightUp, 0, 0, 0);
    }
    // One notch per frame whatever the magnitude: the pinch engine already spaces them out.
    if (newWheel_ > 0.0f) {
        Send(kWheel, 0, 0, kWheelNotch);
    } else if (newWheel_ < 0.0f) {
        Send(kWheel, 0, 0, -kWheelNotch);
    }
    primary_.previousState = primary_.newState;
    secondary_.previousState = secondary_.newState;
    previousRightClick_ = newRightClick_;
    previousWheel_ = newWheel_;
}

void MouseDevice1::FlushChannel(Channel& channel, uint32_t downFlag, uint32_t upFlag) {
    if (channel.newState > channel.previousState) {
        Move(channel.x, channel.y);
        if (channel.newState == 2) {
            Send(downFlag, 0, 0, 0);
        }
    } else if (channel.newState < channel.previousState) {
        if (channel.previousState == 2) {
            Send(upFlag, 0, 0, 0);
        }
    } else if (channel.newState > 0) {
        Move(channel.x, channel.y);
    }
}

void MouseDevice1::Move(float x, float y) {
    // Float products, as width x x reads with a float position: 0.7 of 1920 pixels is pixel
    // 1344, where the exact product of the stored 0.7f falls just short of it.
    const int32_t px = TruncSaturated(static_cast<float>(width_) * Clamp01(x));
    const int32_t py = TruncSaturated(static_cast<float>(height_) * Clamp01(y));
    if (px == lastPixelX_ && py == lastPixelY_) {
        return;
    }
    // The pixel is remembered even while output is off: only the sending is suppressed, so
    // switching output back on does not replay a move to where the pointer already went.
    lastPixelX_ = px;
    lastPixelY_ = py;
    if (!output_.Enable) {
        return;
    }
    // 64-bit: a 65536-pixel axis times 65536 does not fit 32 bits.
    const auto dx = static_cast<int32_t>(int64_t{px} * kAbsoluteRange / width_);
    const auto dy = static_cast<int32_t>(int64_t{py} * kAbsoluteRange / height_);
    injector_.Inject(pointer_flags::kMove | pointer_flags::kAbsolute, dx, dy, 0);
}

void MouseDevice1::Send(uint32_t flags, int32_t dx, int32_t dy, int32_t data) {
    if (output_.Enable) {
        injector_.Inject(flags, dx, dy, data);
    }
}

MouseDevice::MouseDevice(PointerInjector& injector, const DisplayInfo& display,
                         const OutputState& output, MonitorQueue& monitor)
    : monitor_(monitor) {
    slots_[0] = std::make_unique<DummyMouseDevice>();
    slots_[1] = std::make_unique<MouseDevice1>(injector, display, output);
}

IMouseDevice* MouseDevice::Slot(int32_t index) const {
    if (index < 0 || index >= kSlots) {
        return nullptr;
    }
    return slots_[static_cast<size_t>(index)].get();
}

void MouseDevice::HandOff(const PointerReport& report, bool drivePointer) {
    if (drivePointer) {
        if (report.deviceIndex != currentIndex_) {
            if (IMouseDevice* current = Slot(currentIndex_)) {
                current->Release();
            }
            currentIndex_ = report.deviceIndex;
        }
        if (IMouseDevice* current = Slot(currentIndex_)) {
            current->Update(&report);
        }
    }
    // Each holder writes at its own report counter; the tag tells the receiver which slot.
    monitor_.Put(reportCounter_, ToMonitorEntry(report));
    reportCounter_ = (reportCounter_ + 1) % MonitorQueue::kEntries;
    monitor_.Publish();
}

void MouseDevice::RefreshAll() {
    for (auto& slot : slots_) {
        if (slot) {
            slot->Refresh();
        }
    }
}

MonitorEntry MouseDevice::ToMonitorEntry(const PointerReport& report) {
    // The entry's value types follow the report's fields in order; the device index (always
    // 1) takes the one integer slot the report has no field for:
    //   Value1 engine id        Value2 wheel            Value3 rightClick
    //   Value4 primary state    Value5 primary state    Value6 primary x   Value7 primary y
    //   Value8 secondary state  Value9 device index     Value10 secondary x
    //   Value11 secondary y
    MonitorEntry entry;
    entry.Value1 = report.engineId;
    entry.Value2 = report.wheel;
    entry.Value3 = report.rightClick != 0;
    entry.Value4 = report.primaryState;
    entry.Value5 = report.primaryStateAgain;
    entry.Value6 = report.primaryX;
    entry.Value7 = report.primaryY;
    entry.Value8 = report.secondaryState;
    entry.Value9 = report.deviceIndex;
    entry.Value10 = report.secondaryX;
    entry.Value11 = report.secondaryY;
    return entry;
}

}  // namespace kv
