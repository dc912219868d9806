// The driver's signal path as one in-process rig: a sensor link (simulated board, replayed or
// recorded file) read by the real CHid main loop on a fake clock, frames through DspStages
// (splitter, histories, correlators, peak finders, detector) into a sink that keeps every
// call with the frame it belongs to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "driver/board/main_loop.h"
#include "driver/core/frame_processor.h"
#include "driver/core/peak_candidate.h"
#include "driver/core/sensor_link.h"
#include "driver/core/touch_engine.h"
#include "driver/core/verbose_log.h"
#include "driver/dsp/dsp_stages.h"
#include "driver/settings/settings_file.h"
#include "driver/sim/scenario.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"
#include "tests/support/fake_clock.h"
#include "tests/support/main_loop_fakes.h"
#include "tests/support/recording_touch_engines.h"
#include "tests/support/scenario_text.h"

namespace kv::test {

// DspStages behind the main loop's engine interface, counting frames for the sink; with a
// frame period it also moves the clock on after each frame, so that the housekeeping cadence
// follows the frame count and is the same for every link that delivers the same frames.
class DspFrameProcessor final : public FrameProcessor {
public:
    DspFrameProcessor(DspStages& dsp, RecordingTouchEngines& sink, FakeClock& clock,
                      int framePeriodMs)
        : dsp_(dsp), sink_(sink), clock_(clock), framePeriodMs_(framePeriodMs) {}

    void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override;
    void MaintainHistories() override {
        ++housekeeping;
        dsp_.Housekeeping();
    }
    void SetGestureLimits(int32_t, int32_t) override {}
    void LiftTouches() override { dsp_.Detector().LiftAll(); }

    int64_t frames = 0;
    int housekeeping = 0;

private:
    DspStages& dsp_;
    RecordingTouchEngines& sink_;
    FakeClock& clock_;
    int framePeriodMs_;
};

// The rig. Build it, hand it a link with Start, then run it.
class WholePath {
public:
    // framePeriodMs 0: the link's pacing moves the clock; otherwise each frame moves it.
    explicit WholePath(const SensorLayout& layout, int framePeriodMs = 0);
    WholePath(const WholePath&) = delete;
    WholePath& operator=(const WholePath&) = delete;

    // Keeps a link for as long as the main loop may use it (CHid closes its link when it
    // goes); links are destroyed after the loop, the last one kept first.
    template <class Link>
    Link& Keep(std::unique_ptr<Link> link) {
        Link& kept = *link;
        links_.push_back(std::move(link));
        return kept;
    }
    // Builds CHid on the link (one the rig keeps) and connects.
    void Start(SensorLink& link);
    ~WholePath();
    // Loop iterations until the clock has run for the given seconds since the rig was built.
    void RunUntil(double seconds);
    void Iterate() { hid_->LoopIteration(); }
    double Seconds() const;

    // Time stands still until something sleeps: a paced link sleeps until its next frame is
    // due, and the frame engine moves it on by one frame period per processed frame.
    FakeClock clock{5'000'000};
    Registry registry{ProgramRole::Driver, clock};
    const int64_t startMs = clock.NowMs();
    RecordingTouchEngines sink{clock, startMs};
    std::unique_ptr<DspStages> dsp = std::make_unique<DspStages>(registry);
    DspFrameProcessor engine;
    // Whether Comms/ActStatus Connected was seen false after a start, checked per iteration.
    bool sawDisconnected = false;

private:
    SensorLayout layout_;
    CountingSettings settings_;
    CountingCalibration calibration_;
    VerboseLog log_{false};
    std::vector<std::unique_ptr<SensorLink>> links_;
    std::unique_ptr<CHid> hid_;
};

// The frame-complete (Y) and X calls of selection 0 in a time window, paired by frame.
struct FrameTouch {
    int64_t frame = 0;
    int64_t timeMs = 0;
    PeakCandidate x;
    PeakCandidate y;
    float press = 0.0f;  // the effective threshold on Y
};
std::vector<FrameTouch> FrameTouches(const std::vector<EngineCall>& calls, double fromSeconds,
                                     double toSeconds);

// The standard layout of a board model ("B64", "S128"); a name with none fails the test.
SensorLayout Layout(const std::string& model);

}  // namespace kv::test
