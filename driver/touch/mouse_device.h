// Pointer devices: the interface, the desktop pointer that injects absolute moves, buttons and
// wheel notches, a device that does nothing, and the holder with its slots that also copies
// every report into the Monitor queue.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "driver/core/display_info.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/pointer_sample.h"
#include "protocol/records.h"

namespace kv {

class IMouseDevice {
public:
    virtual ~IMouseDevice() = default;
    // A null report means release.
    virtual void Update(const PointerReport* report) = 0;
    virtual void Release() = 0;
    virtual void Refresh() = 0;
};

class DummyMouseDevice final : public IMouseDevice {
public:
    void Update(const PointerReport*) override {}
    void Release() override {}
    void Refresh() override {}
};

// The desktop pointer. Events go out only while Output_State_Enable is true (read live, so
// switching output off takes effect at once); state is tracked either way.
class MouseDevice1 final : public IMouseDevice {
public:
    // The screen size is read here and never again.
    MouseDevice1(PointerInjector& injector, const DisplayInfo& display, const OutputState& output);

    void Update(const PointerReport* report) override;
    void Release() override;
    void Refresh() override {}

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

private:
    struct Channel {
        int32_t previousState = 0;
        int32_t newState = 0;
        float x = 0.0f;
        float y = 0.0f;
    };

    void Flush();
    void FlushChannel(Channel& channel, uint32_t downFlag, uint32_t upFlag);
    void Move(float x, float y);
    void Send(uint32_t flags, int32_t dx, int32_t dy, int32_t data);

    PointerInjector& injector_;
    const OutputState& output_;
    Channel primary_;
    Channel secondary_;
    uint8_t previousRightClick_ = 0;
    uint8_t newRightClick_ = 0;
    // A press-and-hold became a right click while the left button was down: the left button
    // was let go first and stays up until the finger lifts, so a long press is a right click
    // and not also a drag.
    bool leftGivenUp_ = false;
    float previousWheel_ = 0.0f;
    float newWheel_ = 0.0f;
    int32_t width_;
    int32_t height_;
    // No pixel has been injected yet: the first move always goes out.
    int32_t lastPixelX_ = -1;
    int32_t lastPixelY_ = -1;
};

// The holder of a pipeline's pointer devices: slot 0 a DummyMouseDevice, slot 1 the desktop
// pointer, slots 2 and 3 empty.
class MouseDevice {
public:
    static constexpr int32_t kSlots = 4;

    MouseDevice(PointerInjector& injector, const DisplayInfo& display, const OutputState& output,
                MonitorQueue& monitor);
    virtual ~MouseDevice() = default;
    MouseDevice(const MouseDevice&) = delete;
    MouseDevice& operator=(const MouseDevice&) = delete;

    // One report from the click filter: drives the pointer only when drivePointer is set
    // (selections 0 and 1), and always goes into the Monitor queue.
    void HandOff(const PointerReport& report, bool drivePointer);
    // refresh() on every occupied slot.
    void RefreshAll();

    int32_t CurrentIndex() const { return currentIndex_; }
    int32_t ReportCounter() const { return reportCounter_; }

    // How a report fills a Monitor queue entry (the Controller's trace reads Value6/Value7).
    static MonitorEntry ToMonitorEntry(const PointerReport& report);

private:
    IMouseDevice* Slot(int32_t index) const;

    MonitorQueue& monitor_;
    int32_t currentIndex_ = 0;
    std::array<std::unique_ptr<IMouseDevice>, kSlots> slots_;
    int32_t reportCounter_ = 0;
};

}  // namespace kv
