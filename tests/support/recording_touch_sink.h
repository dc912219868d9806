// What the touch engines were handed: a TouchSink that keeps every call, stamped with the frame
// a test says is being processed and, given a clock, the time since the test's start.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/core/peak_candidate.h"
#include "driver/core/touch_sink.h"
#include "messaging/clock.h"

namespace kv::test {

struct SinkCall {
    int32_t selection = -1;
    PeakCandidate first;
    PeakCandidate second;
    int32_t axis = -1;
    int32_t count = 0;
    bool frameComplete = false;
    float release = 0.0f;
    float press = 0.0f;  // the effective threshold for selections 2 and 3
    int64_t frame = 0;
    int64_t timeMs = 0;  // the clock at the call, relative to the sink's start

    // Same call on the same frame (the time is left out: it follows from the frame).
    bool operator==(const SinkCall& other) const {
        auto same = [](const PeakCandidate& a, const PeakCandidate& b) {
            return a.index == b.index && a.position == b.position && a.amplitude == b.amplitude;
        };
        return frame == other.frame && selection == other.selection && same(first, other.first) &&
               same(second, other.second) && axis == other.axis && count == other.count &&
               frameComplete == other.frameComplete && release == other.release &&
               press == other.press;
    }
};

class RecordingTouchSink final : public TouchSink {
public:
    RecordingTouchSink() = default;
    RecordingTouchSink(const Clock& clock, int64_t startMs) : clock_(&clock), startMs_(startMs) {}

    void SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override {
        Keep({0, first, second, axis, count, frameComplete, release, press});
    }
    void PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override {
        Keep({1, first, second, axis, count, frameComplete, release, press});
    }
    void DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second, bool frameComplete,
                       float threshold) override {
        Keep({2, first, second, -1, 0, frameComplete, 0.0f, threshold});
    }
    void DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                         bool frameComplete, float threshold) override {
        Keep({3, first, second, -1, 0, frameComplete, 0.0f, threshold});
    }
    void PeriodicStep(int32_t selection) override {
        periodic.push_back(selection);
        periodicFrames.push_back(frame);
    }

    int64_t frame = 0;  // set by the test (or its engine adapter) before each frame
    std::vector<SinkCall> calls;
    std::vector<int32_t> periodic;        // the selection of each periodic step
    std::vector<int64_t> periodicFrames;  // the frame at each periodic step

private:
    void Keep(SinkCall call) {
        call.frame = frame;
        call.timeMs = clock_ != nullptr ? clock_->NowMs() - startMs_ : 0;
        calls.push_back(call);
    }

    const Clock* clock_ = nullptr;
    int64_t startMs_ = 0;
};

}  // namespace kv::test
