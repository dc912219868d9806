// Fixtures for the signal processing tests: a registry whose records go out, a recording
// calibration collector.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "driver/core/peak_candidate.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "protocol/wire.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/recording_touch_engines.h"

namespace kv::test {

// A driver registry whose records really go out (the controller counts as heard), so that
// tests can see what is published.
struct PublishingRegistry {
    PublishingRegistry() : registry(std::make_unique<Registry>(ProgramRole::Driver, clock)) {
        registry->SetTransport(&transport);
        registry->MarkPeerHeard();
    }
    FakeClock clock{100000};
    FrameLog transport;
    std::unique_ptr<Registry> registry;
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
