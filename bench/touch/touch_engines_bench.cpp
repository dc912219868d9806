// One sensor frame from the touch detector's hand-over through the engine of each selection,
// its pointer pipelines and a recording pointer device.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>

#include "driver/touch/touch_engines.h"
#include "tests/support/counting_outputs.h"

namespace kv {
namespace {

PeakCandidate Peak(float position, float amplitude, int32_t count) {
    PeakCandidate p;
    p.position = position;
    p.amplitude = amplitude;
    p.index = static_cast<int32_t>(position * static_cast<float>(count - 1) + 0.5f);
    return p;
}

void BM_TouchEnginesFrame(benchmark::State& state) {
    const auto selection = static_cast<int32_t>(state.range(0));
    // No transport and no controller: publishing the Monitor queue stops at the liveness rule.
    auto registry = std::make_unique<Registry>(ProgramRole::Driver);
    registry->outputState.Enable = true;
    registry->outputState.Mode = 4;
    registry->outputState.Selection = selection;
    registry->commsActStatus.FramesLastPeriod = 200;
    FixedDisplay display(1920, 1080, 0);
    CalibrationModel calibration(*registry, display);
    test::CountingPointer injector;
    test::CountingContacts contacts;
    test::CountingPairOutput tuio;
    auto engines =
        std::make_unique<TouchEngines>(*registry, calibration, display, injector, contacts, tuio);
    engines->SetGestureLimits(200);
    TouchEngine& engine = engines->For(*TouchModeOf(selection));
    engine.PeriodicStep(200);
    // The single-finger engines read one peak per axis, the two-finger engines two.
    const bool twoFinger = selection >= 2;

    constexpr int32_t kX = 40;
    constexpr int32_t kY = 24;
    int frame = 0;
    for (auto _ : state) {
        // A finger circling slowly (moves every frame), and a second one still.
        const float wobble = static_cast<float>(frame % 16) * 0.002f;
        const PeakCandidate x1 = Peak(0.3f + wobble, 20.0f, kX);
        const PeakCandidate x2 = Peak(0.7f, 15.0f, kX);
        const PeakCandidate y1 = Peak(0.4f + wobble, 20.0f, kY);
        const PeakCandidate y2 = Peak(0.6f, 15.0f, kY);
        engine.Feed(AxisPeaks{x1, twoFinger ? x2 : PeakCandidate{}, 0, kX, false, 9.0f, 10.0f});
        engine.Feed(AxisPeaks{y1, twoFinger ? y2 : PeakCandidate{}, 1, kY, true, 9.0f, 10.0f});
        ++frame;
    }
    benchmark::DoNotOptimize(injector.count);
    benchmark::DoNotOptimize(contacts.sum);
    benchmark::DoNotOptimize(tuio.sum);
    state.counters["injected"] = static_cast<double>(injector.count);
}
BENCHMARK(BM_TouchEnginesFrame)->DenseRange(0, 3)->ArgName("selection");

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
