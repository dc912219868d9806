// Transport figures: the round trip of a small record between a controller and a driver
// endpoint on loopback, and the frame cutter's throughput over a long mixed stream.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "protocol/frame_cutter.h"
#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tests/support/counting_outputs.h"
#include "tests/support/fake_clock.h"
#include "tests/support/process_support.h"
#include "transport/network.h"

namespace {

template <class Predicate>
void SpinUntil(Predicate done) {
    while (!done()) {
        std::this_thread::yield();
    }
}

// The controller raises Store DoSave; the driver's stand-in main loop consumes it and steps
// its heartbeat, which the controller waits for. That is two datagrams, two receive threads
// and two polling loops per round trip, as in the programs.
void BM_RoundTrip(benchmark::State& state) {
    // Time stands still, so a publish-all does not pause and every peer stays heard.
    kv::test::FakeClock clock;
    clock.StandStill();
    clock.ForgetSleeps();
    kv::Registry controllerSide(kv::ProgramRole::Controller);
    kv::Registry driverSide(kv::ProgramRole::Driver, clock);
    // The controller listens to the driver's port alone: the driver takes a port known first.
    const uint16_t driverPort = kv::test::UdpPeer().Port();
    kv::Network controller(controllerSide, {kv::ProgramRole::Controller, 0, driverPort});
    kv::Network driver(driverSide, {kv::ProgramRole::Driver, driverPort, controller.LocalPort()});
    if (!controller.Ok() || !driver.Ok()) {
        state.SkipWithError("cannot bind the loopback endpoints");
        return;
    }
    driver.SetRunning(true);
    driver.SetReady();
    SpinUntil([&] { return controller.Connected(); });
    controllerSide.clientClient.Publish();
    SpinUntil([&] { return controller.ReceivedDatagrams() == 1 + kv::Registry::kEntries; });

    std::atomic<bool> done{false};
    std::thread mainLoop([&] {
        while (!done.load(std::memory_order_relaxed)) {
            if (driverSide.storeDoSave.ConsumeCounted()) {
                driverSide.driverDoHeartBeat.header.sequence =
                    (driverSide.driverDoHeartBeat.header.sequence + 1) % 255;
                driverSide.driverDoHeartBeat.Publish();
            } else {
                std::this_thread::yield();
            }
        }
    });

    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        const int32_t before = controllerSide.driverDoHeartBeat.header.sequence;
        const auto start = std::chrono::steady_clock::now();
        controllerSide.storeDoSave.RaiseCounted();
        SpinUntil([&] { return controllerSide.driverDoHeartBeat.header.sequence != before; });
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    done = true;
    mainLoop.join();

    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    std::printf("round trip over loopback: median %.1f us, 99th percentile %.1f us (%zu trips)\n",
                median, p99, micros.size());
}
BENCHMARK(BM_RoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// About 8 MB of every record's frame, hellos, unknown commands and stray bytes, as the
// datagram sizes of a busy link and of a noisy one: some frames whole, some split.
struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> datagrams;
    int64_t records = 0;
};

Stream MakeStream() {
    kv::Registry registry(kv::ProgramRole::Driver);
    Stream stream;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const auto hello = kv::wire::HelloDatagram(kv::wire::kSenderDriver);
    while (stream.bytes.size() < (8u << 20)) {
        const size_t begin = stream.bytes.size();
        const uint32_t pick = next() % 48;
        if (pick < kv::Registry::kEntries) {
            kv::DataManipulation& record = *registry.Table()[pick].record;
            stream.bytes.resize(begin + static_cast<size_t>(record.FrameSize()));
            record.WriteFrame(stream.bytes.data() + begin, registry.SenderId());
            ++stream.records;
        } else if (pick < 42) {
            stream.bytes.insert(stream.bytes.end(), hello.begin(), hello.end());
        } else if (pick < 45) {
            stream.bytes.resize(begin + 91);
            registry.driverDoStop.WriteFrame(stream.bytes.data() + begin, registry.SenderId());
            stream.bytes[begin + kv::wire::kOffCommand] = 0x11;
        } else {
            for (uint32_t n = next() % 64; n > 0; --n) {
                stream.bytes.push_back(static_cast<uint8_t>(0x20 + next() % 0x50));
            }
        }
        // Mostly one frame per datagram; now and then cut at a random point.
        const size_t end = stream.bytes.size();
        if (next() % 4 == 0 && end - begin > 1) {
            const size_t cut = begin + 1 + next() % (end - begin - 1);
            stream.datagrams.push_back(cut - begin);
            stream.datagrams.push_back(end - cut);
        } else {
            stream.datagrams.push_back(end - begin);
        }
    }
    return stream;
}

void BM_FrameCutter(benchmark::State& state) {
    static const Stream stream = MakeStream();
    kv::FrameCutter cutter;
    kv::test::CountingFrameSink sink;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const uint8_t* at = stream.bytes.data();
        for (const size_t size : stream.datagrams) {
            cutter.Append(at, size, sink);
            at += size;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (sink.records != stream.records * static_cast<int64_t>(state.iterations())) {
        state.SkipWithError("the cutter lost frames");
    }
    const double bytes =
        static_cast<double>(stream.bytes.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB_per_s"] = bytes / 1e6 / seconds;  // wall time, as a user would see it
}
BENCHMARK(BM_FrameCutter)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
