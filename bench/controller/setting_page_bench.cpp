// The Setting page's cost per 30 ms refresh tick: the tick itself (labels, Enable, repaint
// requests) and the repaint of the level bar and the drawing area it causes, with the
// electrode bars of an S64 foil under a finger or with the touch trace of a full Monitor ring.
// Also the drawing area's picture alone. Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cmath>
#include <memory>

#include "controller/widgets/basic_graph.h"
#include "controller/widgets/basic_page.h"
#include "protocol/registry.h"

namespace kv::controller {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A finger near the middle of both axes on a low noise floor; every Monitor entry valid (a
// full ring is the most the trace draws).
void FillRegistry(Registry& registry) {
    registry.splitState.Split0 = 20;
    registry.splitState.Split1 = 24;
    registry.senseState.PressThreshold = 5;
    registry.senseState.CoarseRange = 11;
    registry.senseStatus.Value = 17.5f;
    registry.outputState.Enable = true;
    const auto fill = [](Graph& graph, int count, double centre) {
        for (int i = 0; i < count; ++i) {
            const double d = (i - centre) / 1.6;
            graph.Values[i] =
                static_cast<float>(0.6 + 0.25 * std::sin(i * 1.7) + 11.0 * std::exp(-d * d));
        }
    };
    fill(registry.graphState0, 2 * registry.splitState.Split0, 17.3);
    fill(registry.graphState1, registry.splitState.Split1, 9.6);
    for (int i = 0; i < MonitorQueue::kEntries; ++i) {
        const double t = 6.0 * kPi * i / MonitorQueue::kEntries;
        MonitorEntry& entry = registry.monitorQueue.entries[static_cast<size_t>(i)];
        entry.Value6 = static_cast<float>(0.16 + 0.6 * t / (6.0 * kPi) - 0.08 * std::sin(t));
        entry.Value7 = static_cast<float>(0.42 - 0.16 * std::cos(t));
    }
    registry.monitorQueue.last = MonitorQueue::kEntries - 1;
}

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    int64_t paints = 0;
};

// One refresh tick of a shown page and the repaint it causes. range(0): 1 electrode bars,
// 2 the trace ("Monitor").
void BM_SettingPageTick(benchmark::State& state) {
    Registry registry(ProgramRole::Controller);
    FillRegistry(registry);
    Kelvarin_Basic page(registry);
    // Only the benchmark ticks the page.
    for (QTimer* timer : page.findChildren<QTimer*>()) {
        timer->stop();
    }
    page.resize(800, 480);
    page.show();
    // The manual controls open, as in the README's pictures; "Monitor" for the trace.
    const auto click = [&page](const char* id) {
        if (auto* button = page.findChild<QAbstractButton*>(QString::fromLatin1(id))) {
            button->click();
        }
    };
    click("1012");
    if (state.range(0) == BasicGraphArea::kTrace) {
        click("1003");
    }
    QApplication::processEvents();
    auto* area = page.findChild<BasicGraphArea*>();
    if (area == nullptr || area->CurrentView() != state.range(0)) {
        state.SkipWithError("the drawing area is missing or shows the wrong view");
        return;
    }
    PaintCounter counter;
    area->installEventFilter(&counter);
    int tick = 0;
    for (auto _ : state) {
        // The driver's level moves between ticks, as it does under a finger.
        registry.senseStatus.Value = 15.0f + static_cast<float>(tick++ % 8);
        page.Refresh();
        QApplication::processEvents();
    }
    area->removeEventFilter(&counter);
    state.counters["area_paints_per_tick"] =
        benchmark::Counter(static_cast<double>(counter.paints) / state.iterations());
    state.counters["area_width"] = area->width();
    state.counters["area_height"] = area->height();
}
BENCHMARK(BM_SettingPageTick)
    ->Arg(BasicGraphArea::kGraphs)
    ->Arg(BasicGraphArea::kTrace)
    ->Unit(benchmark::kMicrosecond);

// The drawing area's picture alone at the size the page gives it in an 800 x 480 window (386 x
// 458). range(0): the view; range(1): 1 with the electrode numbers (INDEX).
void BM_GraphAreaRender(benchmark::State& state) {
    Registry registry(ProgramRole::Controller);
    FillRegistry(registry);
    BasicGraphArea area(registry);
    area.SetView(static_cast<BasicGraphArea::View>(state.range(0)));
    area.SetShowIndex(state.range(1) != 0);
    for (auto _ : state) {
        QImage image = area.Render(QSize(386, 458));
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_GraphAreaRender)
    ->Args({BasicGraphArea::kGraphs, 0})
    ->Args({BasicGraphArea::kGraphs, 1})
    ->Args({BasicGraphArea::kTrace, 0})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv::controller

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
