// Cost of one sensor frame through the whole signal path, splitter to touch detector.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>

#include "common/clock.h"
#include "driver/dsp/dsp_stages.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "tests/support/discard_transport.h"

namespace {

// Standard foil layouts: the X count is 2 x Split0, Y is Split1.
struct Layout {
    int32_t mux, split0, split1;
};
Layout LayoutFor(int64_t mux) {
    switch (mux) {
        case 40:
            return {40, 12, 16};
        case 128:
            return {128, 40, 48};
        default:
            return {64, 20, 24};
    }
}

// Frames as the splitter sees them, with a finger-shaped bump per finger on both axes and
// one count of noise that alternates between the two frames.
void BuildFrames(const Layout& layout, int fingers, std::array<uint8_t, 256>& a,
                 std::array<uint8_t, 256>& b) {
    const int32_t nx = layout.mux - layout.split1;
    std::array<int32_t, 256> x{};
    std::array<int32_t, 256> y{};
    for (int32_t e = 0; e < nx; ++e) {
        x[static_cast<size_t>(e)] = 120 + e % 5;
    }
    for (int32_t e = 0; e < layout.split1; ++e) {
        y[static_cast<size_t>(e)] = 130 + e % 3;
    }
    const int32_t shape[] = {5, 15, 30, 15, 5};
    for (int f = 0; f < fingers; ++f) {
        const int32_t cx = nx * (f + 1) / 3;
        const int32_t cy = layout.split1 * (2 - f) / 3;
        for (int32_t k = -2; k <= 2; ++k) {
            x[static_cast<size_t>(cx + k)] += shape[k + 2];
            y[static_cast<size_t>(cy + k)] += shape[k + 2];
        }
    }
    // Flip2 = 1: the second X segment runs backwards from the end of the frame.
    for (int32_t e = 0; e < layout.split0; ++e) {
        a[static_cast<size_t>(e)] = static_cast<uint8_t>(x[static_cast<size_t>(e)]);
    }
    for (int32_t k = 0; k < nx - layout.split0; ++k) {
        a[static_cast<size_t>(layout.mux - 1 - k)] =
            static_cast<uint8_t>(x[static_cast<size_t>(layout.split0 + k)]);
    }
    for (int32_t k = 0; k < layout.split1; ++k) {
        a[static_cast<size_t>(layout.split0 + k)] = static_cast<uint8_t>(y[static_cast<size_t>(k)]);
    }
    b = a;
    for (int32_t i = 0; i < layout.mux; i += 2) {
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(b[static_cast<size_t>(i)] + 1);
    }
}

// args: mux size, fingers, controller present (1: the graphs and level are really sent)
void BM_Frame(benchmark::State& state) {
    const Layout layout = LayoutFor(state.range(0));
    const int fingers = static_cast<int>(state.range(1));
    const bool publishing = state.range(2) != 0;

    kv::test::DiscardTransport transport;
    auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Driver);
    registry->SetTransport(&transport);
    registry->splitState.Split0 = layout.split0;
    registry->splitState.Split1 = layout.split1;
    registry->splitState.Flip0 = 0;
    registry->splitState.Flip1 = 0;
    registry->splitState.Flip2 = 1;
    auto engine = std::make_unique<kv::DspStages>(*registry);

    std::array<uint8_t, 256> untouched{};
    std::array<uint8_t, 256> untouchedNoise{};
    BuildFrames(layout, 0, untouched, untouchedNoise);
    std::array<uint8_t, 256> a{};
    std::array<uint8_t, 256> b{};
    BuildFrames(layout, fingers, a, b);

    // Two periods on the untouched foil make the baselines valid.
    engine->ProcessFrame(layout.mux, untouched.data());
    for (int period = 0; period < 2; ++period) {
        for (int f = 0; f < 20; ++f) {
            engine->ProcessFrame(layout.mux, (f & 1) ? untouchedNoise.data() : untouched.data());
        }
        engine->Housekeeping();
    }
    if (publishing) {
        registry->MarkPeerHeard();  // the liveness window outlasts any benchmark run
    }

    bool odd = false;
    for (auto _ : state) {
        engine->ProcessFrame(layout.mux, odd ? b.data() : a.data());
        odd = !odd;
    }
    benchmark::DoNotOptimize(registry->senseStatus.Value);
    state.counters["level"] = registry->senseStatus.Value.Load();
}

BENCHMARK(BM_Frame)
    ->ArgNames({"mux", "fingers", "publish"})
    ->ArgsProduct({{40, 64, 128}, {0, 1, 2}, {0}})
    ->Args({64, 1, 1})
    ->Args({128, 2, 1});

}  // namespace

BENCHMARK_MAIN();
