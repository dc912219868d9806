// The Driver process on a simulated foil touched live: event lines written to its standard
// input reach the foil while it runs, and the touches they make come out of the driver's
// pointer reports as kvctl monitor prints them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/driver_program.h"
#include "tests/support/monitor_touches.h"
#include "tests/support/process_support.h"

namespace kv {
namespace {

using test::AwaitHello;
using test::kWaitMs;
using test::MonitorTouch;
using test::MonitorTouches;
using test::Process;
using test::TempDir;
using test::UdpPeer;

constexpr const char* kKvctl = KV_KVCTL_PATH;
// How long a press is held before it is tried again; not a bound on anything.
constexpr int kRetryMs = 5000;

// Waits (generously) until the condition holds on kvctl's output so far.
bool AwaitOutput(const std::string& path, int timeoutMs,
                 const std::function<bool(const std::string&)>& holds) {
    return test::WaitFor([&] { return holds(test::ReadFile(path)); }, timeoutMs);
}

// The writing end of a named pipe, opened once its reader has opened it.
int OpenWriter(const std::string& fifo) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool WriteLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

TEST(LiveSimulatedFoil, AFingerWrittenToStandardInputTouchesAndLifts) {
    TempDir install;
    const std::string program = test::InstallDriver(install);
    // The driver's standard input is a pipe the test writes to; the shell only redirects it
    // and becomes the Driver.
    const std::string fifo = install.File("input");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    std::signal(SIGPIPE, SIG_IGN);
    UdpPeer peer;
    Process driver("/bin/sh",
                   {"-c", "exec \"$0\" \"$@\" < \"" + fifo + "\"", program, "--port", "0",
                    "--peer-port", std::to_string(peer.Port()), "--pointer=none", "--simulate=-"},
                   {{"XDG_RUNTIME_DIR", install.Path()}}, install.File("stdout"),
                   install.File("stderr"));
    ASSERT_TRUE(driver.Started());
    const int input = OpenWriter(fifo);
    ASSERT_GE(input, 0) << "the driver never opened its standard input";
    const uint16_t port = AwaitHello(peer);
    ASSERT_NE(port, 0) << test::ReadFile(install.File("stderr"));

    const std::string monitorOut = install.File("monitor");
    Process monitor(kKvctl, {"monitor", "--port", std::to_string(port)}, {}, monitorOut,
                    install.File("monitor-stderr"));
    ASSERT_TRUE(monitor.Started());
    ASSERT_TRUE(AwaitOutput(monitorOut, kWaitMs, [](const std::string& out) {
        return out.find("link connected=yes") != std::string::npos;
    })) << test::ReadFile(monitorOut);

    // A finger pressed and held. Pressed while the baseline is still settling, the driver
    // may take it for the rest counts: then it is lifted and pressed again.
    size_t touchedAt = 0;
    auto touched = [&](const std::string& out) {
        const auto touches = MonitorTouches(out);
        for (size_t i = 0; i < touches.size(); ++i) {
            const MonitorTouch& t = touches[i];
            if (t.state == 2 && std::fabs(t.x - 0.3) < 0.03 && std::fabs(t.y - 0.4) < 0.03) {
                touchedAt = i + 1;
                return true;
            }
        }
        return false;
    };
    bool seen = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(WriteLine(input, "# a finger pressed and held"));
        ASSERT_TRUE(WriteLine(input, "down 1 0.3 0.4"));
        seen = AwaitOutput(monitorOut, kRetryMs, touched);
        if (!seen) {
            ASSERT_TRUE(WriteLine(input, "up 1"));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    ASSERT_TRUE(seen) << test::ReadFile(monitorOut) << test::ReadFile(install.File("stderr"));

    ASSERT_TRUE(WriteLine(input, "up 1"));
    EXPECT_TRUE(AwaitOutput(monitorOut, kWaitMs,
                            [&](const std::string& out) {
                                const auto touches = MonitorTouches(out);
                                for (size_t i = touchedAt; i < touches.size(); ++i) {
                                    if (touches[i].state == 0) {
                                        return true;
                                    }
                                }
                                return false;
                            }))
        << "the lift never showed: " << test::ReadFile(monitorOut);

    // A malformed line is reported and the driver runs on; the end of its input leaves it
    // running as well, until it is asked to stop.
    ASSERT_TRUE(WriteLine(input, "down 1 0.3"));
    close(input);
    driver.Signal(SIGTERM);
    EXPECT_EQ(driver.Wait(kWaitMs), 0) << test::ReadFile(install.File("stderr"));
    const std::string said = test::ReadFile(install.File("stderr"));
    EXPECT_NE(said.find("live input line "), std::string::npos) << said;
    EXPECT_NE(said.find("'down' takes 3 or 4 arguments"), std::string::npos) << said;
    monitor.Signal(SIGTERM);
    monitor.Wait(kWaitMs);
}

}  // namespace
}  // namespace kv
