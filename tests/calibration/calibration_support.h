// Fixtures for the calibration tests: a driver registry whose records really go out, the
// reference presets, and helpers that hold a steady touch for some frames.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/output/calibration_model.h"
#include "messaging/clock.h"
#include "messaging/registry.h"
#include "messaging/transport.h"
#include "messaging/wire.h"

namespace kv::test {

class StillClock final : public Clock {
public:
    int64_t NowMs() const override { return 500000; }
    void SleepMs(int) const override {}
};

// Keeps every frame; frames are told apart by the record address.
class FrameLog final : public Transport {
public:
    int32_t Send(const uint8_t* bytes, size_t length) override {
        frames.emplace_back(bytes, bytes + length);
        return static_cast<int32_t>(length);
    }
    int Count(const DataManipulation& record) const {
        int n = 0;
        for (const auto& frame : frames) {
            n += wire::GetInt(frame.data() + wire::kOffAddress) == record.Address() ? 1 : 0;
        }
        return n;
    }
    // The event-valid word of the last frame sent for the record, or -1 if none was sent.
    int32_t LastEventValid(const DataManipulation& record) const {
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if (wire::GetInt(it->data() + wire::kOffAddress) == record.Address()) {
                return wire::GetInt(it->data() + wire::kOffEventValid);
            }
        }
        return -1;
    }
    std::vector<std::vector<uint8_t>> frames;
};

class CalibrationTest : public ::testing::Test {
protected:
    CalibrationTest() : registry(ProgramRole::Driver, clock) {
        registry.SetTransport(&log);
        registry.MarkPeerHeard();
        SetReferences({0.1f, 0.1f}, {0.9f, 0.1f}, {0.1f, 0.9f});
        Target(registry.calibRefTL, 0.1f, 0.1f);
        Target(registry.calibRefTR, 0.9f, 0.1f);
        Target(registry.calibRefBL, 0.1f, 0.9f);
        model = std::make_unique<CalibrationModel>(registry, display);
    }

    static void Target(CalibrationData& ref, float sx, float sy) {
        ref.SX = sx;
        ref.SY = sy;
    }
    // Measured sensor positions of the three corners.
    void SetReferences(NormalPoint tl, NormalPoint tr, NormalPoint bl) {
        registry.calibRefTL.SA = tl.x, registry.calibRefTL.SB = tl.y;
        registry.calibRefTR.SA = tr.x, registry.calibRefTR.SB = tr.y;
        registry.calibRefBL.SA = bl.x, registry.calibRefBL.SB = bl.y;
    }

    void Hold(NormalPoint at, int frames, int32_t quality = 2) {
        for (int k = 0; k < frames; ++k) {
            model->captureStep({quality, at.x, at.y});
        }
    }
    // The controller's DoStart or DoStop as it arrives: event valid set.
    void Raise(SetValue& event) { event.header.eventValid = 1; }
    void StartCapture() {
        Raise(registry.calibDoStart);
        model->pollEvents();
        model->captureStep({});
    }
    // Holds each corner for exactly the frames that take it.
    void CaptureCorners(NormalPoint tl, NormalPoint tr, NormalPoint bl) {
        StartCapture();
        Hold(tl, CalibrationModel::kCornerSamples + 1);
        Hold(tr, CalibrationModel::kCornerSamples + 1);
        Hold(bl, CalibrationModel::kCornerSamples + 1);
    }

    StillClock clock;
    FrameLog log;
    Registry registry;
    FixedDisplay display{1024, 768, 0};
    std::unique_ptr<CalibrationModel> model;
};

inline void ExpectNear(NormalPoint actual, NormalPoint expected, float tolerance = 1e-4f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
}

}  // namespace kv::test
