// The precise signal path allocates nothing per frame: a counting operator new around a minute
// of frames (use over the whole foil, then two fingers crossing and a palm) on a foil with
// unequal gains and a dead electrode, once the path has been built and has seen its first frames.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "driver/core/touch_engine.h"
#include "driver/dsp/dsp_stages.h"
#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"

namespace {
bool gCounting = false;
long gAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (gCounting) {
        ++gAllocations;
    }
    if (void* p = std::malloc(size > 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace kv {
namespace {

class Sink final : public TouchEngine {
public:
    void Feed(const AxisPeaks& peaks) override { fed += peaks.frameComplete ? 1 : 0; }
    void PeriodicStep(int32_t) override {}
    long fed = 0;
};

TEST(PreciseSignalPath, AllocatesNothingPerFrame) {
    sim::ScenarioError error;
    const auto scenario = sim::ParseScenario(
        "layout B64\nrate 100\nseed 7\nprofile lorentzian\nwidth 0.6\ngain 0.15\ndead y 17\n"
        "at 5 down 0 0.02 0.02\nat 5.2 move 0 0.98 0.98 20\nat 25.2 move 0 0.02 0.02 20\n"
        "at 45.2 up 0\nat 46 down 1 0.5 0.43\nat 46.45 down 2 0.2 0.2 26\n"
        "at 46.6 move 2 0.8 0.8 2\nat 49 up 1\nat 49 up 2\nat 50 down 3 0.5 0.5 60 2.8\n"
        "at 52 up 3\nat 53 end\n",
        error);
    ASSERT_TRUE(scenario) << error.Text();
    const SensorLayout layout = *LayoutForModel("B64");
    sim::SimulatedBoard board(*scenario);
    std::vector<std::array<uint8_t, sim::kMaxSamples>> frames(5300);
    for (size_t f = 0; f < frames.size(); ++f) {
        board.AdvanceTo(static_cast<double>(f) / 100.0);
        board.Render(frames[f].data());
    }

    Registry registry(ProgramRole::Driver);
    SetLayout(registry, layout);
    auto dsp = std::make_unique<DspStages>(registry);
    Sink sink;
    dsp->Detector().SetTouchEngines({&sink, nullptr, nullptr, nullptr});
    dsp->Detector().SetPath(TouchPath::Precise);
    for (size_t f = 0; f < frames.size(); ++f) {
        gCounting = f >= 300;
        dsp->ProcessFrame(layout.muxSize, frames[f].data());
        if ((f + 1) % 200 == 0) {
            dsp->Housekeeping();
        }
    }
    gCounting = false;
    EXPECT_GT(sink.fed, 5000);
    EXPECT_EQ(gAllocations, 0);
}

}  // namespace
}  // namespace kv
