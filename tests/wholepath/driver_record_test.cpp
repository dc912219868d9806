// The Driver process on a simulated board with --record: stopped over UDP as the controller
// stops it, it leaves a hid-recorder file with the board's identity and every report it read.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/sim/hid_recording.h"
#include "tests/support/controller_side.h"
#include "tests/support/driver_program.h"
#include "tests/support/process_support.h"

namespace kv {
namespace {

using test::AwaitHello;
using test::kWaitMs;
using test::Process;
using test::TempDir;
using test::UdpPeer;

constexpr int kRate = 100;

TEST(DriverRecording, HoldsTheBoardAndAboutRateTimesSecondsReports) {
    TempDir install;
    const std::string program = test::InstallDriver(install);
    const std::string scenario = install.File("tap.txt");
    test::WriteFile(scenario, "rate " + std::to_string(kRate) +
                                  "\n"
                                  "at 1.0 down 1 0.5 0.5\n"
                                  "at 2.0 up 1\n");
    const std::string out = install.File("tap.hid");

    UdpPeer peer;
    const auto begin = std::chrono::steady_clock::now();
    Process driver(program,
                   {"--port", "0", "--peer-port", std::to_string(peer.Port()), "--pointer=none",
                    "--simulate=" + scenario, "--record=" + out},
                   {{"XDG_RUNTIME_DIR", install.Path()}}, install.File("stdout"),
                   install.File("stderr"));
    ASSERT_TRUE(driver.Started());
    const uint16_t port = AwaitHello(peer);
    ASSERT_NE(port, 0) << test::ReadFile(install.File("stderr"));
    std::this_thread::sleep_for(std::chrono::seconds(3));

    test::ControllerSide controller;
    ASSERT_TRUE(peer.SendTo(port, controller.Raise("Driver", "DoStop")));
    EXPECT_EQ(driver.Wait(kWaitMs), 0) << test::ReadFile(install.File("stderr"));
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    std::string error;
    const auto recording = sim::LoadHidRecording(out, error);
    ASSERT_TRUE(recording.has_value()) << error;
    EXPECT_EQ(recording->name, sim::kBoardName);
    EXPECT_EQ(recording->vendor, sim::kBoardVendor);
    EXPECT_EQ(recording->product, sim::kBoardProduct);
    EXPECT_EQ(recording->descriptor, sim::kBoardReportDescriptor);

    // At least a second of the three was recorded, and never more than the run lasted.
    const auto& events = recording->events;
    ASSERT_GE(events.size(), static_cast<size_t>(kRate));
    EXPECT_LE(static_cast<double>(events.size()), kRate * wallSeconds + 1);
    // Frames come on the rate's grid: the count matches the span the file covers.
    const double span = static_cast<double>(events.back().micros - events.front().micros) / 1e6;
    EXPECT_NEAR(static_cast<double>(events.size()), kRate * span + 1, 0.05 * kRate * span + 2);
    for (size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].data.size(), 64u) << "report " << i;
        if (i > 0) {
            ASSERT_GE(events[i].micros, events[i - 1].micros) << "report " << i;
        }
    }
}

}  // namespace
}  // namespace kv
