// Fakes for the signal processing tests: clock, recording transport, recording sinks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/core/peak_candidate.h"
#include "driver/core/touch_sink.h"
#include "messaging/clock.h"
#include "messaging/registry.h"
#include "messaging/transport.h"
#include "messaging/wire.h"
#include "tests/support/frame_log.h"

namespace kv::test {

class FakeClock final : public Clock {
public:
    int64_t NowMs() const override { return now; }
    void SleepMs(int ms) const override { now += ms; }
    mutable int64_t now = 100000;
};

using RecordingTransport = FrameLog;

// A driver registry whose records really go out (the controller counts as heard), so that
// tests can see what is published.
struct PublishingRegistry {
    PublishingRegistry() : registry(std::make_unique<Registry>(ProgramRole::Driver, clock)) {
        registry->SetTransport(&transport);
        registry->MarkPeerHeard();
    }
    FakeClock clock;
    RecordingTransport transport;
    std::unique_ptr<Registry> registry;
};

struct SinkCall {
    int32_t selection = -1;
    PeakCandidate first;
    PeakCandidate second;
    int32_t axis = -1;
    int32_t count = 0;
    bool frameComplete = false;
    float release = 0.0f;
    float press = 0.0f;  // the effective threshold for selections 2 and 3
};

class RecordingTouchSink final : public TouchSink {
public:
    void SingleTouch(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override {
        calls.push_back({0, first, second, axis, count, frameComplete, release, press});
    }
    void PinchScroll(const PeakCandidate& first, int32_t axis, int32_t count, bool frameComplete,
                     const PeakCandidate& second, float release, float press) override {
        calls.push_back({1, first, second, axis, count, frameComplete, release, press});
    }
    void DualTouchTuio(const PeakCandidate& first, const PeakCandidate& second, bool frameComplete,
                       float threshold) override {
        calls.push_back({2, first, second, -1, 0, frameComplete, 0.0f, threshold});
    }
    void DualTouchNative(const PeakCandidate& first, const PeakCandidate& second,
                         bool frameComplete, float threshold) override {
        calls.push_back({3, first, second, -1, 0, frameComplete, 0.0f, threshold});
    }
    void PeriodicStep(int32_t selection) override { periodic.push_back(selection); }

    std::vector<SinkCall> calls;
    std::vector<int32_t> periodic;
};

struct CollectCall {
    int32_t axis;
    int32_t count;
    bool frameComplete;
    PeakCandidate first;
};

class RecordingCollector final : public CalibrationCollector {
public:
    void Collect(int32_t axis, int32_t count, bool frameComplete,
                 const PeakCandidate& first) override {
        calls.push_back({axis, count, frameComplete, first});
    }
    void PeriodicStep() override { ++periodic; }

    std::vector<CollectCall> calls;
    int periodic = 0;
};

}  // namespace kv::test
