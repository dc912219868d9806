// Fixtures for the touch output tests: contact and TUIO recorders, a registry whose records
// really go out, and a touch output wired to all of them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "driver/calibration/calibration_model.h"
#include "driver/core/display_info.h"
#include "driver/core/finger_pair_output.h"
#include "driver/core/peak_candidate.h"
#include "driver/core/pointer_injector.h"
#include "driver/core/touch_engine.h"
#include "driver/touch/native_touch_output.h"
#include "driver/touch/touch_engines.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "protocol/wire.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/support/recording_pointer.h"

namespace kv::test {

struct Contact {
    uint8_t state = 0;
    uint16_t number = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    bool operator==(const Contact&) const = default;
};

class RecordingContacts final : public ContactOutput {
public:
    void SendContact(uint8_t state, uint16_t number, uint16_t x, uint16_t y) override {
        contacts.push_back({state, number, x, y});
    }
    std::vector<Contact> contacts;
};

struct TuioFrame {
    int32_t stateA = 0;
    float xA = 0.0f;
    float yA = 0.0f;
    int32_t stateB = 0;
    float xB = 0.0f;
    float yB = 0.0f;
};

class RecordingTuio final : public FingerPairOutput {
public:
    void SendPair(const PointerSample& a, const PointerSample& b) override {
        frames.push_back({a.state, a.x, a.y, b.state, b.x, b.y});
    }
    std::vector<TuioFrame> frames;
};

inline PeakCandidate Peak(float position, float amplitude, int32_t index) {
    PeakCandidate p;
    p.index = index;
    p.position = position;
    p.amplitude = amplitude;
    return p;
}

// One axis's call of the single-finger engines (selections 0 and 1).
inline void FeedAxis(TouchEngine& engine, const PeakCandidate& first, int32_t axis, int32_t count,
                     bool frameComplete, const PeakCandidate& second, float release, float press) {
    engine.Feed(AxisPeaks{first, second, axis, count, frameComplete, release, press});
}

// One axis's call of the two-finger engines (selections 2 and 3).
inline void FeedPair(TouchEngine& engine, const PeakCandidate& first, const PeakCandidate& second,
                     bool frameComplete, float threshold) {
    engine.Feed(AxisPeaks{first, second, 0, 0, frameComplete, 0.0f, threshold});
}

// Electrode index of a position on an axis of `count` electrodes.
inline int32_t IndexOf(float position, int32_t count) {
    return static_cast<int32_t>(position * static_cast<float>(count - 1) + 0.5f);
}

// A driver registry with output enabled whose records go out (the controller counts as
// heard), and everything a touch output needs around it.
struct OutputRig {
    explicit OutputRig(int32_t width = 1920, int32_t height = 1080)
        : registry(std::make_unique<Registry>(ProgramRole::Driver, clock)),
          display(width, height, 0),
          calibration(*registry, display) {
        registry->SetTransport(&transport);
        registry->MarkPeerHeard();
        registry->outputState.Enable = true;
        registry->outputState.Mode = 4;
        registry->commsActStatus.FramesLastPeriod = 50;
    }
    OutputContext Context() { return OutputContext{*registry, calibration, display, injector}; }
    // The touch engines, built after the test has adjusted the settings.
    TouchEngines& Engines() {
        if (!output) {
            output = std::make_unique<TouchEngines>(*registry, calibration, display, injector,
                                                    contacts, tuio, path);
        }
        return *output;
    }
    // The engine of a selection takes its periodic step at the registry's frame rate.
    void PeriodicStep(int32_t selection) {
        Engines()
            .For(*TouchModeOf(selection))
            .PeriodicStep(registry->commsActStatus.FramesLastPeriod);
    }
    // Monitor queue entries published so far.
    int MonitorFrames() const { return transport.Count(registry->monitorQueue); }
    // The newest Monitor queue entry.
    const MonitorEntry& LastEntry() const {
        return registry->monitorQueue
            .entries[static_cast<size_t>(static_cast<int32_t>(registry->monitorQueue.last))];
    }

    FakeClock clock{100000};
    FrameLog transport;
    std::unique_ptr<Registry> registry;
    FixedDisplay display;
    CalibrationModel calibration;
    RecordingPointer injector;
    RecordingContacts contacts;
    RecordingTuio tuio;
    TouchPath path = TouchPath::Classic;  // set before the engines are first asked for
    std::unique_ptr<TouchEngines> output;
};

}  // namespace kv::test
