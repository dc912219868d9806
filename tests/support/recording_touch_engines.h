// What the touch engines were handed: one recording engine per touch mode, all keeping their
// calls in one list, stamped with the frame a test says is being processed and, given a
// clock, the time since the test's start.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/clock.h"
#include "driver/core/peak_candidate.h"
#include "driver/core/touch_engine.h"

namespace kv::test {

struct EngineCall {
    int32_t selection = -1;  // the touch mode of the engine that was fed
    PeakCandidate first;
    PeakCandidate second;
    int32_t axis = -1;  // -1 and 0 for the two-finger modes, which do not use them
    int32_t count = 0;
    bool frameComplete = false;
    float release = 0.0f;  // 0 for the two-finger modes
    float press = 0.0f;    // the effective threshold
    int64_t frame = 0;
    int64_t timeMs = 0;  // the clock at the call, relative to the recorder's start
    bool palm = false;   // a palm's frame

    // Same call on the same frame (the time is left out: it follows from the frame).
    bool operator==(const EngineCall& other) const {
        auto same = [](const PeakCandidate& a, const PeakCandidate& b) {
            return a.index == b.index && a.position == b.position && a.amplitude == b.amplitude;
        };
        return frame == other.frame && selection == other.selection && same(first, other.first) &&
               same(second, other.second) && axis == other.axis && count == other.count &&
               frameComplete == other.frameComplete && release == other.release &&
               press == other.press && palm == other.palm;
    }
};

class RecordingTouchEngines final {
public:
    RecordingTouchEngines() = default;
    RecordingTouchEngines(const Clock& clock, int64_t startMs)
        : clock_(&clock), startMs_(startMs) {}
    RecordingTouchEngines(const RecordingTouchEngines&) = delete;
    RecordingTouchEngines& operator=(const RecordingTouchEngines&) = delete;

    // For the touch detector's SetTouchEngines.
    TouchEngineSet Set() { return {&engines_[0], &engines_[1], &engines_[2], &engines_[3]}; }

    int64_t frame = 0;  // set by the test (or its frame adapter) before each frame
    std::vector<EngineCall> calls;
    std::vector<int32_t> periodic;        // the touch mode of each periodic step
    std::vector<int64_t> periodicFrames;  // the frame at each periodic step
    std::vector<int32_t> periodicRates;   // the frame rate each periodic step was given

private:
    class Engine final : public TouchEngine {
    public:
        Engine(RecordingTouchEngines& owner, int32_t mode) : owner_(owner), mode_(mode) {}
        void Feed(const AxisPeaks& p) override {
            const bool twoFinger = mode_ >= static_cast<int32_t>(TouchMode::TwoFingerTuio);
            EngineCall call{mode_,
                            p.first,
                            p.second,
                            twoFinger ? -1 : p.axis,
                            twoFinger ? 0 : p.count,
                            p.frameComplete,
                            twoFinger ? 0.0f : p.releaseThreshold,
                            p.pressThreshold};
            call.palm = p.palm;
            owner_.Keep(call);
        }
        void PeriodicStep(int32_t framesLastPeriod) override {
            owner_.periodic.push_back(mode_);
            owner_.periodicFrames.push_back(owner_.frame);
            owner_.periodicRates.push_back(framesLastPeriod);
        }

    private:
        RecordingTouchEngines& owner_;
        const int32_t mode_;
    };

    void Keep(EngineCall call) {
        call.frame = frame;
        call.timeMs = clock_ != nullptr ? clock_->NowMs() - startMs_ : 0;
        calls.push_back(call);
    }

    const Clock* clock_ = nullptr;
    int64_t startMs_ = 0;
    std::array<Engine, kTouchModes> engines_{{{*this, 0}, {*this, 1}, {*this, 2}, {*this, 3}}};
};

}  // namespace kv::test
