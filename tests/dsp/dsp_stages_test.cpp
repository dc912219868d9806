// The whole signal path: synthetic sensor frames in, touch candidates out.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>

#include "driver/dsp/dsp_stages.h"
#include "dsp_test_support.h"

namespace kv {
namespace {

constexpr int32_t kMux = 64;
constexpr int32_t kSplit0 = 24;
constexpr int32_t kSplit1 = 16;
constexpr int32_t kNx = kMux - kSplit1;  // 48
constexpr int32_t kNy = kSplit1;         // 16

class DspStagesPathTest : public ::testing::Test {
protected:
    DspStagesPathTest() {
        Registry& r = *shared.registry;
        r.splitState.Split0 = kSplit0;
        r.splitState.Split1 = kSplit1;
        r.splitState.Flip0 = 0;
        r.splitState.Flip1 = 0;
        r.splitState.Flip2 = 1;  // the standard layout: the second X segment runs backwards
        r.senseState.CoarseRange = 15;
        r.outputState.Selection = 0;
        engine = std::make_unique<DspStages>(r);
        engine->Detector().SetTouchEngines(sink.Set());
        // An untouched foil whose readings sit around the 8-bit wrap.
        for (int32_t e = 0; e < kNx; ++e) {
            x[static_cast<size_t>(e)] = 250 + e % 7;
        }
        for (int32_t e = 0; e < kNy; ++e) {
            y[static_cast<size_t>(e)] = 248 + e % 5;
        }
    }

    // Wires the electrode readings into a frame the way the foil is connected.
    void Send() {
        std::array<uint8_t, kMux> frame{};
        for (int32_t e = 0; e < kSplit0; ++e) {
            frame[static_cast<size_t>(e)] = static_cast<uint8_t>(x[static_cast<size_t>(e)]);
        }
        for (int32_t k = 0; k < kNx - kSplit0; ++k) {
            frame[static_cast<size_t>(kMux - 1 - k)] =
                static_cast<uint8_t>(x[static_cast<size_t>(kSplit0 + k)]);
        }
        for (int32_t k = 0; k < kNy; ++k) {
            frame[static_cast<size_t>(kSplit0 + k)] =
                static_cast<uint8_t>(y[static_cast<size_t>(k)]);
        }
        engine->ProcessFrame(kMux, frame.data());
    }
    // Two periods of untouched frames: the baselines become valid.
    void Settle() {
        Send();
        for (int period = 0; period < 2; ++period) {
            for (int f = 0; f < 10; ++f) {
                Send();
            }
            engine->Housekeeping();
        }
    }
    template <size_t N>
    static void AddBump(std::array<int32_t, N>& axis, int32_t centre, float height) {
        const float shape[] = {1, 3, 6, 3, 1};
        for (int32_t k = -2; k <= 2; ++k) {
            axis[static_cast<size_t>(centre + k)] +=
                static_cast<int32_t>(std::lround(height * shape[k + 2] / 6.0f));
        }
    }
    const test::EngineCall& LastCall(int32_t axis) const {
        for (auto it = sink.calls.rbegin(); it != sink.calls.rend(); ++it) {
            if (it->axis == axis) {
                return *it;
            }
        }
        static const test::EngineCall none;
        return none;
    }

    test::PublishingRegistry shared;
    test::RecordingTouchEngines sink;
    std::unique_ptr<DspStages> engine;
    std::array<int32_t, kNx> x{};
    std::array<int32_t, kNy> y{};
};

TEST_F(DspStagesPathTest, BumpOnBothAxesBecomesATouchCandidateAtItsPosition) {
    Settle();
    Send();
    ASSERT_FALSE(sink.calls.empty());
    EXPECT_LT(LastCall(0).first.amplitude, 1.0f);  // nothing on the settled foil
    EXPECT_LT(LastCall(1).first.amplitude, 1.0f);

    AddBump(x, 30, 30.0f);  // in the second, reversed X segment
    AddBump(y, 7, 24.0f);
    Send();

    const test::EngineCall& cx = LastCall(0);
    const test::EngineCall& cy = LastCall(1);
    EXPECT_EQ(cx.selection, 0);
    EXPECT_EQ(cx.count, kNx);
    EXPECT_FALSE(cx.frameComplete);
    EXPECT_EQ(cx.first.index, 30);
    EXPECT_NEAR(cx.first.position, 30.0f / (kNx - 1), 0.1f / (kNx - 1));
    EXPECT_GT(cx.first.amplitude, cx.press);
    EXPECT_EQ(cy.count, kNy);
    EXPECT_TRUE(cy.frameComplete);
    EXPECT_EQ(cy.first.index, 7);
    EXPECT_NEAR(cy.first.position, 7.0f / (kNy - 1), 0.1f / (kNy - 1));
    EXPECT_GT(cy.first.amplitude, cy.press);
    // The level the controller shows is the stronger axis.
    EXPECT_FLOAT_EQ(shared.registry->senseStatus.Value,
                    std::max(cx.first.amplitude, cy.first.amplitude));
    // The live graphs carry the signal above baseline, a quarter of it.
    EXPECT_FLOAT_EQ(shared.registry->graphState0.Values[30], 30.0f * 0.25f);
    EXPECT_EQ(shared.registry->graphState1.Param1, kNy);
}

TEST_F(DspStagesPathTest, BumpBetweenElectrodesLandsBetweenThem) {
    Settle();
    for (int32_t k = 0; k < 6; ++k) {
        const int32_t shape[] = {5, 15, 30, 30, 15, 5};
        x[static_cast<size_t>(10 + k)] += shape[k];
    }
    AddBump(y, 3, 30.0f);
    Send();
    const test::EngineCall& cx = LastCall(0);
    ASSERT_TRUE(cx.first.index == 12 || cx.first.index == 13) << cx.first.index;
    EXPECT_GT(cx.first.position, 12.0f / (kNx - 1));
    EXPECT_LT(cx.first.position, 13.0f / (kNx - 1));
}

TEST_F(DspStagesPathTest, JumpOnOneAxisLeavesTheOtherAlone) {
    Settle();
    x[3] += 121;
    Send();
    EXPECT_EQ(engine->Splitter().HistoryX().Channel(0).Entries(), 0);
    EXPECT_FALSE(engine->Splitter().HistoryX().Channel(0).BaselineValid());
    EXPECT_TRUE(engine->Splitter().HistoryY().Channel(0).BaselineValid());
    EXPECT_EQ(engine->Splitter().HistoryY().Channel(0).Entries(), 2);
}

TEST_F(DspStagesPathTest, NoTouchBeforeTheBaselineIsValid) {
    Send();
    for (int f = 0; f < 10; ++f) {
        Send();
    }
    engine->Housekeeping();  // one period: one ring entry, baseline not yet valid
    AddBump(x, 20, 40.0f);
    AddBump(y, 8, 40.0f);
    Send();
    EXPECT_EQ(LastCall(0).first.amplitude, 0.0f);
    EXPECT_EQ(LastCall(1).first.amplitude, 0.0f);
}

}  // namespace
}  // namespace kv
