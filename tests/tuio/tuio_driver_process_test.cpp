// The whole Driver with selection 2 on the simulated foil, its TUIO datagrams decoded by
// oscdump (liblo), a decoder that shares no code with ours: two scripted fingers must come out
// as two cursors that follow them, lift into new sessions and say goodbye when the driver stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "tests/support/controller_side.h"
#include "tests/support/process_support.h"

namespace kv {
namespace {

using test::kDriverHello;
using test::Process;
using test::TempDir;
using test::UdpPeer;

constexpr const char* kDriver = KV_DRIVER_PATH;
constexpr const char* kOscdump = KV_OSCDUMP_PATH;
// Generous bounds for slow, shared machines and sanitizer builds; nothing is timed by them.
constexpr int kWaitMs = 60000;

// Two fingers land after the baseline has settled, glide apart on separate lines, and lift.
// Finger 1 presses harder, so it is the stronger peak on both axes: finger A, cursor A.
struct Path {
    double x0, y0, x1, y1;
};
constexpr Path kFinger1{0.25, 0.35, 0.40, 0.45};
constexpr Path kFinger2{0.70, 0.70, 0.60, 0.80};
constexpr const char* kScenario =
    "at 6.0 down 1 0.25 0.35 40\n"
    "at 6.0 down 2 0.70 0.70 25\n"
    "at 6.5 move 1 0.40 0.45 2.0\n"
    "at 6.5 move 2 0.60 0.80 2.0\n"
    "at 9.0 up 1\n"
    "at 9.0 up 2\n";
constexpr double kTolerance = 0.03;

// One line of oscdump: "<time tag> /tuio/2Dcur sifffff "set" 0 0.25 0.35 0 0 0".
struct DumpLine {
    std::string profile;
    std::string command;
    std::vector<double> numbers;
};

std::vector<DumpLine> ParseDump(const std::string& text) {
    std::vector<DumpLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string stamp;
        std::string types;
        DumpLine parsed;
        words >> stamp >> parsed.profile >> types >> parsed.command;
        if (parsed.profile.rfind("/tuio/", 0) != 0) {
            continue;
        }
        parsed.command.erase(std::remove(parsed.command.begin(), parsed.command.end(), '"'),
                             parsed.command.end());
        std::string word;
        while (words >> word) {
            parsed.numbers.push_back(std::strtod(word.c_str(), nullptr));
        }
        lines.push_back(std::move(parsed));
    }
    return lines;
}

double DistanceToPath(const Path& p, double x, double y) {
    const double dx = p.x1 - p.x0;
    const double dy = p.y1 - p.y0;
    double t = ((x - p.x0) * dx + (y - p.y0) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (p.x0 + t * dx), y - (p.y0 + t * dy));
}

bool WaitFor(const std::string& path, const std::function<bool(const std::string&)>& done) {
    return test::WaitFor([&] { return done(test::ReadFile(path)); }, kWaitMs);
}

TEST(TuioDriverProcess, ScriptedFingersComeOutAsTwoCursorsThatFollowThem) {
    TempDir install;
    const std::string program = install.File("Driver");
    std::filesystem::copy_file(kDriver, program);
    test::WriteFile(install.File("DRIVER.INI"),
                    "Output_State_Selection=2\r\nOutput_State_Enable=true\r\n");
    test::WriteFile(install.File("fingers.scenario"), kScenario);

    uint16_t tuioPort = 0;
    {
        const UdpPeer probe;  // a port that is free now
        tuioPort = probe.Port();
    }
    ASSERT_NE(tuioPort, 0);
    const std::string dump = install.File("oscdump.txt");
    Process oscdump(kOscdump, {"-L", std::to_string(tuioPort)}, {}, dump,
                    install.File("oscdump.err"));
    ASSERT_TRUE(oscdump.Started());
    // oscdump listens once it prints what it is sent.
    UdpPeer tester;
    const std::vector<uint8_t> ping = {'/', 'p', 'i', 'n', 'g', 0, 0, 0, ',', 0, 0, 0};
    ASSERT_TRUE(WaitFor(dump, [&](const std::string& text) {
        tester.SendTo(tuioPort, ping);
        return text.find("/ping") != std::string::npos;
    }));

    UdpPeer controller;
    Process driver(program,
                   {"--simulate=" + install.File("fingers.scenario"), "--pointer=none", "--port",
                    "0", "--peer-port", std::to_string(controller.Port()),
                    "--tuio=localhost:" + std::to_string(tuioPort)},
                   {{"XDG_RUNTIME_DIR", install.Path()}, {"DISPLAY", ""}},
                   install.File("driver.out"), install.File("driver.err"));
    ASSERT_TRUE(driver.Started());
    uint16_t driverPort = 0;
    while (driverPort == 0) {
        const auto datagram = controller.Receive(kWaitMs);
        ASSERT_TRUE(datagram.has_value()) << "no hello from the driver";
        if (*datagram == kDriverHello) {
            driverPort = controller.LastSourcePort();
        }
    }

    // Both fingers lifted: the last cursor "alive" after the second finger's moves is empty.
    EXPECT_TRUE(WaitFor(dump, [](const std::string& text) {
        const std::vector<DumpLine> seen = ParseDump(text);
        bool touched = false;
        bool emptyAfter = false;
        for (const DumpLine& line : seen) {
            if (line.command == "set" && line.numbers.size() == 6 && line.numbers[0] == 1) {
                touched = true;
                emptyAfter = false;
            } else if (touched && line.command == "alive" && line.profile == "/tuio/2Dcur") {
                emptyAfter = line.numbers.empty();
            }
        }
        return touched && emptyAfter;
    }));
    test::ControllerSide side;
    ASSERT_TRUE(controller.SendTo(driverPort, side.Raise("Driver", "DoStop")));
    EXPECT_EQ(driver.Wait(kWaitMs), 0);
    // Start and goodbye: an empty bundle of each profile each time.
    EXPECT_TRUE(WaitFor(
        dump, [](const std::string& text) { return test::Occurrences(text, "\"fseq\" -1") >= 4; }));

    const std::vector<DumpLine> lines = ParseDump(test::ReadFile(dump));
    ASSERT_GE(lines.size(), 8u);
    std::map<int, std::vector<std::pair<double, double>>> sets;  // by session id, in order
    int lastFseq = -1;
    size_t lastSet = 0;
    size_t firstLifted = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        const DumpLine& line = lines[i];
        for (double n : line.numbers) {
            ASSERT_TRUE(std::isfinite(n)) << i;
        }
        if (line.command == "fseq" && line.numbers.at(0) >= 0) {
            EXPECT_GE(line.numbers[0], lastFseq);
            lastFseq = static_cast<int>(line.numbers[0]);
        }
        if (line.command == "alive" && line.profile == "/tuio/2Dcur" && line.numbers.empty() &&
            !sets.empty() && lastFseq >= 0 && firstLifted == lines.size() && sets.size() == 2 &&
            i > lastSet) {
            firstLifted = i;
        }
        if (line.command == "set") {  // each a finger on the foil: none before the first touch
            ASSERT_EQ(line.numbers.size(), 6u);
            sets[static_cast<int>(line.numbers[0])].emplace_back(line.numbers[1], line.numbers[2]);
            lastSet = i;
        }
    }
    ASSERT_EQ(sets.size(), 2u) << "only sessions 0 and 1 touch";
    for (const auto& [id, path] : std::vector<std::pair<int, Path>>{{0, kFinger1}, {1, kFinger2}}) {
        const auto& points = sets[id];
        ASSERT_GT(points.size(), 50u) << id;  // 3 s at 100 frames per second, less start-up
        for (const auto& [x, y] : points) {
            EXPECT_LT(DistanceToPath(path, x, y), kTolerance) << id << ": " << x << ", " << y;
        }
        EXPECT_LT(std::hypot(points.front().first - path.x0, points.front().second - path.y0),
                  kTolerance);
        EXPECT_LT(std::hypot(points.back().first - path.x1, points.back().second - path.y1),
                  kTolerance);
    }
    EXPECT_GT(firstLifted, lastSet);
    const DumpLine& goodbye = lines[lines.size() - 4];
    EXPECT_EQ(goodbye.profile, "/tuio/2Dcur");
    EXPECT_EQ(goodbye.command, "alive");
    EXPECT_TRUE(goodbye.numbers.empty());
    EXPECT_EQ(lines.back().profile, "/tuio/2Dobj");
    EXPECT_EQ(lines.back().numbers, std::vector<double>{-1});
}

}  // namespace
}  // namespace kv
