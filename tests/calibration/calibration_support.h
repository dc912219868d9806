// Fixtures for the calibration tests: a driver registry whose records really go out, the
// reference presets, and helpers that hold a steady touch for some frames.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "driver/calibration/calibration_model.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "protocol/wire.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"

namespace kv::test {

class CalibrationTest : public ::testing::Test {
protected:
    CalibrationTest() : registry(ProgramRole::Driver, clock) {
        clock.StandStill();
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
            model->CaptureStep({quality, at.x, at.y});
        }
    }
    // The controller's DoStart or DoStop as it arrives: event valid set.
    void Raise(SetValue& event) { event.header.eventValid = 1; }
    // Raises the event and lets the model poll: it is consumed and, as acknowledged events
    // are, echoed with its valid word cleared.
    ::testing::AssertionResult RaisedAndAcknowledged(SetValue& event) {
        Raise(event);
        model->PollEvents();
        if (event.header.eventValid != 0) {
            return ::testing::AssertionFailure() << "the event is still raised";
        }
        if (const int32_t echoed = log.LastEventValid(event); echoed != 0) {
            return ::testing::AssertionFailure()
                   << (echoed < 0 ? "no echo" : "the echo is still valid");
        }
        return ::testing::AssertionSuccess();
    }
    void StartCapture() {
        Raise(registry.calibDoStart);
        model->PollEvents();
        model->CaptureStep({});
    }
    // Holds each corner for exactly the frames that take it.
    void CaptureCorners(NormalPoint tl, NormalPoint tr, NormalPoint bl) {
        StartCapture();
        Hold(tl, CalibrationModel::kCornerSamples + 1);
        Hold(tr, CalibrationModel::kCornerSamples + 1);
        Hold(bl, CalibrationModel::kCornerSamples + 1);
    }

    FakeClock clock{500000};
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
