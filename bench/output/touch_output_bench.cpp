// One sensor frame from the touch detector's hand-over through the engine of each selection,
// its pointer pipelines and a recording pointer device.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>

#include "driver/touch/touch_output.h"

namespace kv {
namespace {

// Keeps the last events in a fixed ring: recording without allocating.
class RingInjector final : public PointerInjector {
public:
    void Inject(uint32_t flags, int32_t dx, int32_t dy, int32_t data) override {
        events[count % events.size()] = {flags, dx, dy, data};
        ++count;
    }
    struct Event {
        uint32_t flags;
        int32_t dx, dy, data;
    };
    std::array<Event, 64> events{};
    size_t count = 0;
};

class CountingContacts final : public ContactOutput {
public:
    void SendContact(uint8_t state, uint16_t, uint16_t x, uint16_t y) override {
        sum += state + x + y;
    }
    uint64_t sum = 0;
};

class CountingTuio final : public TuioSink {
public:
    void SendFrame(int32_t stateA, float, float, int32_t stateB, float, float) override {
        sum += static_cast<uint64_t>(stateA + stateB);
    }
    uint64_t sum = 0;
};

PeakCandidate Peak(float position, float amplitude, int32_t count) {
    PeakCandidate p;
    p.position = position;
    p.amplitude = amplitude;
    p.index = static_cast<int32_t>(position * static_cast<float>(count - 1) + 0.5f);
    return p;
}

void BM_TouchOutputFrame(benchmark::State& state) {
    const auto selection = static_cast<int32_t>(state.range(0));
    // No transport and no controller: publishing the Monitor queue stops at the liveness rule.
    auto registry = std::make_unique<Registry>(ProgramRole::Driver);
    registry->outputState.Enable = true;
    registry->outputState.Mode = 4;
    registry->outputState.Selection = selection;
    registry->commsActStatus.FramesLastPeriod = 200;
    FixedDisplay display(1920, 1080, 0);
    CalibrationModel calibration(*registry, display);
    RingInjector injector;
    CountingContacts contacts;
    CountingTuio tuio;
    auto output =
        std::make_unique<TouchOutput>(*registry, calibration, display, injector, contacts, tuio);
    output->SetGestureLimits(200);
    output->PeriodicStep(selection);

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
        switch (selection) {
            case 0:
                output->SingleTouch(x1, 0, kX, false, PeakCandidate{}, 9.0f, 10.0f);
                output->SingleTouch(y1, 1, kY, true, PeakCandidate{}, 9.0f, 10.0f);
                break;
            case 1:
                output->PinchScroll(x1, 0, kX, false, PeakCandidate{}, 9.0f, 10.0f);
                output->PinchScroll(y1, 1, kY, true, PeakCandidate{}, 9.0f, 10.0f);
                break;
            case 2:
                output->DualTouchTuio(x1, x2, false, 9.0f);
                output->DualTouchTuio(y1, y2, true, 9.0f);
                break;
            default:
                output->DualTouchNative(x1, x2, false, 9.0f);
                output->DualTouchNative(y1, y2, true, 9.0f);
                break;
        }
        ++frame;
    }
    benchmark::DoNotOptimize(injector.count);
    benchmark::DoNotOptimize(contacts.sum);
    benchmark::DoNotOptimize(tuio.sum);
    state.counters["injected"] = static_cast<double>(injector.count);
}
BENCHMARK(BM_TouchOutputFrame)->DenseRange(0, 3)->ArgName("selection");

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
