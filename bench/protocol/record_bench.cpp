// Record encoding and parsing figures: Send (frame buffer, header, payload, hand-over to the
// transport) and Registry::Deliver (address look-up and Parse) for an event, a Graph and a
// MonitorQueue frame. Targets: an event frame under 1 us, a Graph frame under 5 us.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/discard_transport.h"

namespace {

enum class Which { Event, Graph, Monitor };

kv::DataManipulation& Pick(kv::Registry& registry, Which which) {
    switch (which) {
        case Which::Event:
            return registry.storeDoSave;
        case Which::Graph:
            return registry.graphState0;
        case Which::Monitor:
            return registry.monitorQueue;
    }
    return registry.storeDoSave;
}

// Records with every value filled, as the driver publishes them.
void Fill(kv::Registry& registry) {
    registry.storeDoSave.header.eventValid = 1;
    registry.storeDoSave.header.sequence = 41;
    registry.graphState0.Param1 = 128;
    for (int i = 0; i < kv::Graph::kValues; ++i) {
        registry.graphState0.Values[static_cast<size_t>(i)] = 0.25f * static_cast<float>(i);
    }
    kv::MonitorEntry entry;
    entry.Value1 = 2;
    entry.Value2 = 0.5f;
    entry.Value3 = true;
    entry.Value6 = 0.25f;
    entry.Value7 = 0.75f;
    registry.monitorQueue.Put(0, entry);
}

void BM_Send(benchmark::State& state, Which which) {
    auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
    kv::test::DiscardTransport transport;
    registry->SetTransport(&transport);
    Fill(*registry);
    kv::DataManipulation& record = Pick(*registry, which);
    for (auto _ : state) {
        benchmark::DoNotOptimize(record.Send());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * record.FrameSize());
}

void BM_Deliver(benchmark::State& state, Which which) {
    auto sender = std::make_unique<kv::Registry>(kv::ProgramRole::Driver);
    Fill(*sender);
    kv::DataManipulation& record = Pick(*sender, which);
    std::vector<uint8_t> frame(static_cast<size_t>(record.FrameSize()));
    record.WriteFrame(frame.data(), sender->SenderId());

    auto receiver = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
    const auto length = static_cast<int32_t>(frame.size());
    for (auto _ : state) {
        const kv::DeliverResult result = receiver->Deliver(frame.data(), 0, length);
        benchmark::DoNotOptimize(result.parsed);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * length);
}

BENCHMARK_CAPTURE(BM_Send, Event, Which::Event);
BENCHMARK_CAPTURE(BM_Send, Graph, Which::Graph);
BENCHMARK_CAPTURE(BM_Send, MonitorQueue, Which::Monitor);
BENCHMARK_CAPTURE(BM_Deliver, Event, Which::Event);
BENCHMARK_CAPTURE(BM_Deliver, Graph, Which::Graph);
BENCHMARK_CAPTURE(BM_Deliver, MonitorQueue, Which::Monitor);

}  // namespace

BENCHMARK_MAIN();
