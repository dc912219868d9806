// The driver's signal path as one in-process rig: a sensor link (simulated board, replayed or
// recorded file) read by the real CHid main loop on a fake clock, frames through DspEngine
// (splitter, histories, correlators, peak finders, detector) into a sink that keeps every
// call with the frame it belongs to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/app/settings_file.h"
#include "driver/board/chid.h"
#include "driver/core/frame_engine.h"
#include "driver/core/peak_candidate.h"
#include "driver/core/sensor_link.h"
#include "driver/core/touch_sink.h"
#include "driver/core/verbose_log.h"
#include "driver/dsp/dsp_engine.h"
#include "driver/sim/scenario.h"
#include "driver/sim/sensor_layout.h"
#include "messaging/clock.h"
#include "messaging/registry.h"

namespace kv::test {

// Time stands still until something sleeps: a paced link sleeps until its next frame is due,
// and the frame clock of WholePath moves it on by one frame period per processed frame.
class ManualClock final : public Clock {
public:
    int64_t NowMs() const override { return now_; }
    void SleepMs(int ms) const override { now_ += ms; }
    void Advance(int64_t ms) { now_ += ms; }

private:
    mutable int64_t now_ = 5'000'000;
};

// One call into the touch engines, stamped with the frame that caused it.
struct SinkCall {
    int64_t frame = 0;
    int64_t timeMs = 0;  // the clock at the call, relative to the rig's start
    int32_t selection = -1;
    PeakCandidate first;
    PeakCandidate second;
    int32_t axis = -1;
    int32_t count = 0;
    bool frameComplete = false;
    float release = 0.0f;
    float press = 0.0f;  // the effective threshold for selections 2 and 3

    bool operator==(const SinkCall& other) const;
};

class RecordingTouchSink final : public TouchSink {
public:
    RecordingTouchSink(const Clock& clock, int64_t startMs) : clock_(clock), startMs_(startMs) {}

    void SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override;
    void PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override;
    void DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second, bool frameComplete,
                       float threshold) override;
    void DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                         bool frameComplete, float threshold) override;
    void PeriodicStep(int32_t selection) override;

    int64_t frame = 0;  // set by the engine adapter before each frame
    std::vector<SinkCall> calls;
    std::vector<int64_t> periodicFrames;  // the frame count at each periodic step

private:
    void Keep(SinkCall call);

    const Clock& clock_;
    int64_t startMs_;
};

// DspEngine behind the main loop's engine interface, counting frames for the sink; with a
// frame period it also moves the clock on after each frame, so that the housekeeping cadence
// follows the frame count and is the same for every link that delivers the same frames.
class DspFrameEngine final : public FrameEngine {
public:
    DspFrameEngine(DspEngine& dsp, RecordingTouchSink& sink, ManualClock& clock, int framePeriodMs)
        : dsp_(dsp), sink_(sink), clock_(clock), framePeriodMs_(framePeriodMs) {}

    void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override;
    void MaintainHistories() override {
        ++housekeeping;
        dsp_.Housekeeping();
    }
    void SetGestureLimits(int32_t, int32_t) override {}

    int64_t frames = 0;
    int housekeeping = 0;

private:
    DspEngine& dsp_;
    RecordingTouchSink& sink_;
    ManualClock& clock_;
    int framePeriodMs_;
};

class NoSettings final : public SettingsStore {
public:
    void Load(Registry&) override {}
    bool Save(const Registry&) override { return true; }
};

// The rig. Build it, hand it a link with Start, then run it.
class WholePath {
public:
    // framePeriodMs 0: the link's pacing moves the clock; otherwise each frame moves it.
    explicit WholePath(const sim::SensorLayout& layout, int framePeriodMs = 0);
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

    ManualClock clock;
    Registry registry{ProgramRole::Driver, clock};
    const int64_t startMs = clock.NowMs();
    RecordingTouchSink sink{clock, startMs};
    std::unique_ptr<DspEngine> dsp = std::make_unique<DspEngine>(registry);
    DspFrameEngine engine;
    // Whether Comms/ActStatus Connected was seen false after a start, checked per iteration.
    bool sawDisconnected = false;

private:
    sim::SensorLayout layout_;
    NoSettings settings_;
    NullCalibration calibration_;
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
std::vector<FrameTouch> FrameTouches(const std::vector<SinkCall>& calls, double fromSeconds,
                                     double toSeconds);

// Parses scenario text; a failure fails the calling test with the line and the reason.
sim::Scenario ScenarioOf(const std::string& text);

}  // namespace kv::test
