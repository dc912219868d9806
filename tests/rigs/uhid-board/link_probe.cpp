// link-probe: a minimal controller on loopback that prints what the driver says about its
// sensor link (Connected, frames in the last period) and its heartbeat, one line each.
// Used where the live wire commands are not available, e.g. inside the test machine.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "common/clock.h"
#include "protocol/registry.h"
#include "protocol/wire.h"
#include "transport/loopback_socket.h"
#include "transport/network.h"

namespace {

void Usage() {
    std::fputs(
        "Usage: link-probe [--port=N] [--seconds=S] [--first] [--verbose]\n"
        "Says hello to the driver on 127.0.0.1:N (default 11249) every second for S seconds\n"
        "(default 5) and prints each link status and heartbeat it sends back:\n"
        "  status T connected=0|1 frames=N      heartbeat T\n"
        "--first ends after the first status; --verbose adds the signal level and each\n"
        "pointer report of the monitor. Exit status 0 when a status came, else 1.\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    int port = kv::kDriverPort;
    double seconds = 5.0;
    bool first = false;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.rfind("--port=", 0) == 0) {
            port = std::atoi(argv[i] + 7);
        } else if (argument.rfind("--seconds=", 0) == 0) {
            seconds = std::atof(argv[i] + 10);
        } else if (argument == "--first") {
            first = true;
        } else if (argument == "--verbose") {
            verbose = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (port <= 0 || port > 65535 || !(seconds > 0.0)) {
        Usage();
        return 2;
    }
    constexpr uint32_t kLoopback = 0x7F000001;
    kv::LoopbackSocket socket;
    if (const std::string failure = socket.Open({kLoopback, 0}); !failure.empty()) {
        std::fprintf(stderr, "link-probe: cannot open a loopback socket: %s\n", failure.c_str());
        return 1;
    }
    const kv::UdpEndpoint driver{kLoopback, static_cast<uint16_t>(port)};

    kv::Registry registry(kv::ProgramRole::Controller);
    const kv::Clock& clock = kv::DefaultClock();
    const int64_t start = clock.NowMs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1000.0);
    int64_t nextHello = start;
    bool sawStatus = false;
    std::array<uint8_t, 65536> buffer{};
    while (clock.NowMs() < end) {
        if (clock.NowMs() >= nextHello) {
            // Any datagram keeps the driver talking; the hello is the smallest.
            const auto hello = kv::wire::HelloDatagram(registry.SenderId());
            socket.SendTo(hello.data(), hello.size(), driver);
            nextHello += 1000;
        }
        const kv::Received got = socket.Receive(buffer.data(), buffer.size(), 100);
        if (got.status != kv::Received::Status::Datagram || got.length == 0) {
            continue;
        }
        const kv::DeliverResult result =
            registry.Deliver(buffer.data(), 0, static_cast<int32_t>(got.length));
        const double t = static_cast<double>(clock.NowMs() - start) / 1000.0;
        if (result.record == &registry.commsActStatus && result.parsed) {
            std::printf("status %.2f connected=%d frames=%d\n", t,
                        registry.commsActStatus.Connected ? 1 : 0,
                        static_cast<int>(registry.commsActStatus.FramesLastPeriod));
            std::fflush(stdout);
            sawStatus = true;
            if (first) {
                break;
            }
        } else if (result.record == &registry.driverDoHeartBeat) {
            std::printf("heartbeat %.2f\n", t);
            std::fflush(stdout);
        } else if (verbose && result.record == &registry.senseStatus) {
            std::printf("level %.2f %.2f\n", t, static_cast<double>(registry.senseStatus.Value));
            std::fflush(stdout);
        } else if (verbose && result.record == &registry.monitorQueue) {
            const kv::MonitorEntry& e =
                registry.monitorQueue.entries[static_cast<size_t>(registry.monitorQueue.last) %
                                              kv::MonitorQueue::kEntries];
            std::printf("monitor %.2f %d %.3f %d %d %d %.3f %.3f %d %d %.3f %.3f\n", t,
                        e.Value1.Load(), static_cast<double>(e.Value2), e.Value3 ? 1 : 0,
                        e.Value4.Load(), e.Value5.Load(), static_cast<double>(e.Value6),
                        static_cast<double>(e.Value7), e.Value8.Load(), e.Value9.Load(),
                        static_cast<double>(e.Value10), static_cast<double>(e.Value11));
            std::fflush(stdout);
        }
    }
    return sawStatus ? 0 : 1;
}
