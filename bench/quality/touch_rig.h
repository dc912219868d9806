// The driver's whole touch path in one process, for the quality figures: the simulated board
// behind its sensor link, read by the real main loop (CHid) on a fake clock, through the real
// signal chain (signal processing, calibration, touch engines, pointer pipelines) into a
// recording pointer device. Steady-clock time stamps are taken here, around the calls between
// the stages, never inside them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/board/main_loop.h"
#include "driver/board/signal_chain.h"
#include "driver/core/display_info.h"
#include "driver/core/touch_path.h"
#include "driver/core/verbose_log.h"
#include "driver/sim/simulated_sensor_link.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"
#include "protocol/touch_modes.h"
#include "tests/support/counting_outputs.h"
#include "tests/support/fake_clock.h"
#include "tests/support/main_loop_fakes.h"

namespace kv::quality {

using SteadyClock = std::chrono::steady_clock;

// One injected pointer event with the frame that caused it.
struct InjectedEvent {
    int64_t frame = 0;
    double frameTime = 0.0;  // scenario seconds of that frame
    uint32_t flags = 0;
    double x = 0.0;  // normalised screen position of a move (0..1), else 0
    double y = 0.0;
};

// One report of the virtual touch device (two-finger native touch mode): contact 1 or 2,
// state 2 at its landing and lifting, 3 while touching, 0 when it is up.
struct ContactEvent {
    int64_t frame = 0;
    double frameTime = 0.0;
    uint8_t state = 0;
    uint16_t number = 0;
    double x = 0.0;  // normalised screen position (0..1)
    double y = 0.0;
};

// The first peak of each axis as the touch detector handed it to the engine, per frame.
struct FramePeaks {
    int64_t frame = 0;
    double frameTime = 0.0;
    double x = 0.0;  // normalised sensor position
    double y = 0.0;
};

// Where one frame's time went, in microseconds. The signal processing runs the X axis first and
// hands its peaks to the engine, then the Y axis, whose hand-over completes the frame.
struct FrameTimes {
    double linkToChain = 0.0;  // last report's arrival -> frame handed to the signal chain
    double dspX = 0.0;         // splitter, X history, correlator, peak finder, detector -> engine
    double dspY = 0.0;         // the same for Y, and what the chain does after the engine returns
    double touch = 0.0;        // inside the touch engine, its pointer pipeline and the device
    double toInject = -1.0;    // arrival -> first injected event; negative: none this frame
    double whole = 0.0;        // arrival -> the signal chain returns
};

class TouchRig {
public:
    // The scenario must name its layout; "Select / Move / Release", output on, in the touch
    // mode given (single touch unless said).
    TouchRig(const std::string& scenarioText, bool timeStages,
             TouchMode mode = TouchMode::SingleTouch, TouchPath path = TouchPath::Classic);
    ~TouchRig();
    TouchRig(const TouchRig&) = delete;
    TouchRig& operator=(const TouchRig&) = delete;

    // Runs the main loop until frames have been processed.
    void RunFrames(int64_t frames);
    // Runs the main loop until the scenario time has passed.
    void RunUntil(double seconds);

    double Rate() const { return rate_; }
    const SensorLayout& Layout() const { return layout_; }
    int64_t Frames() const;
    const std::vector<InjectedEvent>& Events() const;
    // The virtual touch device's reports (two-finger native touch mode).
    const std::vector<ContactEvent>& Contacts() const;
    // One entry per processed frame (only when built without timeStages).
    const std::vector<FramePeaks>& Peaks() const;
    // One entry per processed frame (only when built with timeStages).
    const std::vector<FrameTimes>& Times() const;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
    double rate_ = 100.0;
    SensorLayout layout_;
};

}  // namespace kv::quality
