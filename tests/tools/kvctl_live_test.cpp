// kvctl against a real Driver process: status, get, set (with --save), load, stop and monitor,
// and the failures when nothing answers or a name or value is wrong. Each test has its own
// runtime folder (the driver's single-instance lock) and lets the driver take a free port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/driver_program.h"
#include "tests/support/monitor_touches.h"
#include "tests/support/process_support.h"
#include "tests/tools/json_reader.h"
#include "tools/kvctl/record_json.h"
#include "transport/network.h"

namespace {

using kv::test::kDriver;
using kv::test::kDriverHello;
using kv::test::kWaitMs;
using kv::test::MonitorTouch;
using kv::test::MonitorTouches;
using kv::test::Process;
using kv::test::TempDir;
using kv::test::UdpPeer;
using kv::test::WaitFor;

const std::string kTool = KVCTL_PATH;

const std::vector<uint8_t> kControllerHello = {0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00,
                                               0x00, 0x0B, 0x00, 0x00, 0x00};

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::vector<kvtest::Json> ParseLines(const std::string& text) {
    std::vector<kvtest::Json> values;
    for (const auto& line : kvtest::JsonLines(text)) {
        EXPECT_TRUE(line.has_value()) << text;
        if (line) {
            values.push_back(*line);
        }
    }
    return values;
}

class KvctlLive : public ::testing::Test {
protected:
    // Runs kvctl with the arguments (already shell-quoted where needed).
    Result Kvctl(const std::string& arguments) {
        const std::string errPath = runtime.File("kvctl-err");
        const kv::test::ShellResult run =
            kv::test::RunShell("'" + kTool + "' " + arguments + " 2>'" + errPath + "'");
        return Result{run.status, run.output, kv::test::ReadFile(errPath)};
    }
    Result Kvctl(const std::string& command, const std::string& rest) {
        return Kvctl(command + " --port " + std::to_string(port) + " " + rest);
    }

    // Starts a Driver on a free port; its hello to our peer tells which one.
    void StartDriver(const std::string& program, std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--port", "0", "--peer-port",
                                              std::to_string(helloPeer.Port())};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        driver = std::make_unique<Process>(
            program, arguments,
            std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()}},
            runtime.File("driver-out"), runtime.File("driver-err"));
        port = kv::test::AwaitHello(helloPeer);
        ASSERT_NE(port, 0) << "the driver did not start: "
                           << kv::test::ReadFile(runtime.File("driver-err"));
    }

    // Starts a copy of the Driver, on the scripted board, in a folder of its own, so that its
    // DRIVER.INI is the test's; returns that file's path.
    std::string StartInstalledDriver() {
        StartDriver(kv::test::InstallDriver(install), {"--link=scripted", "--verbose"});
        return install.File("DRIVER.INI");
    }

    // kvctl stop ends the driver with exit status 0.
    void StopDriver() {
        const Result stop = Kvctl("stop", "");
        EXPECT_EQ(stop.status, 0) << stop.err;
        EXPECT_EQ(driver->Wait(kWaitMs), 0) << "the driver did not end; it said: "
                                            << kv::test::ReadFile(runtime.File("driver-err"));
    }

    // The record's line of `kvctl get`.
    kvtest::Json Get(const std::string& record) {
        const Result get = Kvctl("get " + record, "");
        EXPECT_EQ(get.status, 0) << get.err;
        const auto lines = ParseLines(get.out);
        EXPECT_EQ(lines.size(), 1u) << get.out;
        return lines.empty() ? kvtest::Json() : lines[0];
    }

    TempDir runtime;
    TempDir install;
    UdpPeer helloPeer;
    std::unique_ptr<Process> driver;
    uint16_t port = 0;
};

TEST_F(KvctlLive, StatusPrintsAllRecordsOfTheDriverAndSetChangesAField) {
    StartDriver(kDriver, {"--link=scripted"});
    ASSERT_NE(port, 0);

    const Result status = Kvctl("status", "");
    ASSERT_EQ(status.status, 0) << status.err;
    const auto lines = ParseLines(status.out);
    ASSERT_EQ(lines.size(), 38u) << status.out;
    const auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["command"].text, "record");
        EXPECT_EQ(lines[i]["sender"].text, "5555");
        EXPECT_EQ(lines[i]["record"].text, kv::kvctl::RecordName(registry->Table()[i]));
    }
    // What the driver holds, not what a fresh registry would: it opened its board.
    EXPECT_TRUE(lines[3]["fields"]["RunFlag1"].boolean) << status.out;
    EXPECT_EQ(lines[35]["fields"]["Lines"].items.at(1).text, "Kelvarin Driver 10.3.0\n");

    const kvtest::Json before = Get("Sense/State");
    ASSERT_EQ(before["record"].text, "Sense/State");
    const int coarse = std::stoi(before["fields"]["CoarseRange"].text);
    const std::string wanted = std::to_string(coarse + 3);
    const Result set = Kvctl("set Sense/State CoarseRange=" + wanted + " Advanced=1", "");
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(set.out.empty()) << set.out;

    const Result again = Kvctl("status", "--timeout 5");
    ASSERT_EQ(again.status, 0) << again.err;
    const auto after = ParseLines(again.out);
    ASSERT_EQ(after.size(), 38u);
    EXPECT_EQ(after[20]["record"].text, "Sense/State");
    EXPECT_EQ(after[20]["fields"]["CoarseRange"].text, wanted);
    EXPECT_TRUE(after[20]["fields"]["Advanced"].boolean);
    EXPECT_EQ(after[20]["fields"]["PressThreshold"].text,
              before["fields"]["PressThreshold"].text);  // the rest as the driver had it

    StopDriver();
    const Result gone = Kvctl("status", "--timeout 0.3");
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "driver not answering on 127.0.0.1:" + std::to_string(port) + "\n");
}

TEST_F(KvctlLive, SetSaveWritesTheSettingsFileAndLoadReadsItBack) {
    const std::string settings = StartInstalledDriver();
    ASSERT_NE(port, 0);

    const Result set = Kvctl("set Mouse/Damp SnapRange=0.25 --save", "");
    ASSERT_EQ(set.status, 0) << set.err;
    ASSERT_TRUE(WaitFor([&] {
        return kv::test::ReadFile(settings).find("Output_Tune_SnapRange=0.25") != std::string::npos;
    })) << kv::test::ReadFile(settings);
    const kvtest::Json saved = Get("Store/DoSave");
    EXPECT_EQ(saved["event_valid"].text, "1");
    EXPECT_EQ(saved["sequence"].text, "1073741824");

    // A second save moves on from the first, so the driver acts on it too.
    std::filesystem::remove(settings);
    ASSERT_EQ(Kvctl("save", "").status, 0);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(settings); }));
    EXPECT_EQ(Get("Store/DoSave")["sequence"].text, "-2147483648");

    // Load takes what the file says now.
    std::string text = kv::test::ReadFile(settings);
    const size_t at = text.find("Sense_State_CoarseRange=");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, text.find_first_of("\r\n", at) - at, "Sense_State_CoarseRange=13");
    kv::test::WriteFile(settings, text);
    ASSERT_EQ(Kvctl("load", "").status, 0);
    EXPECT_TRUE(WaitFor([&] { return Get("Sense/State")["fields"]["CoarseRange"].text == "13"; }));

    StopDriver();
}

TEST_F(KvctlLive, NothingAnsweringExitsWithOneAndSaysWhere) {
    UdpPeer silent;  // takes the hello and says nothing
    const Result quiet = Kvctl("status --port " + std::to_string(silent.Port()) + " --timeout 0.3");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err,
              "driver not answering on 127.0.0.1:" + std::to_string(silent.Port()) + "\n");
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_EQ(silent.Receive(kWaitMs), kControllerHello);

    uint16_t closed = 0;
    {
        UdpPeer gone;  // a port nobody holds any more
        closed = gone.Port();
    }
    for (const char* command :
         {"get Sense/State", "stop", "save", "load", "set Sense/State CoarseRange=3"}) {
        const Result r =
            Kvctl(std::string(command) + " --timeout 0.3 --port " + std::to_string(closed));
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.err, "driver not answering on 127.0.0.1:" + std::to_string(closed) + "\n")
            << command;
    }
}

TEST_F(KvctlLive, HealthGivesEachStatusAndMetricsPassPromtool) {
    UdpPeer silent;
    const Result none = Kvctl("health --timeout 0.3 --port " + std::to_string(silent.Port()));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "no driver answering on 127.0.0.1:" + std::to_string(silent.Port()) + "\n");

    const struct {
        const char* scenario;
        int status;
        const char* state;
        const char* says;
    } boards[] = {
        {"at 0.5 unplug\nat 60 end\n", 2, "no-board", "no sensor board connected"},
        {"rate 10\nat 60 end\n", 3, "out-of-range", " frames/s (normal: at least 50)"},
        {"at 60 end\n", 0, "ok", "ok: board connected at "},
        // The board's read hangs: the main loop stands still, the receive thread answers.
        {"at 4.5 stall 60\nat 90 end\n", 4, "stuck", "its main loop is stuck: no heartbeat"},
    };
    for (const auto& board : boards) {
        const std::string scenario = runtime.File("health.scenario");
        kv::test::WriteFile(scenario, board.scenario);
        StartDriver(kDriver, {"--simulate=" + scenario, "--pointer=none"});
        // The driver counts frames per two-second period; its first period is cut short.
        std::this_thread::sleep_for(std::chrono::milliseconds(board.status == 2 ? 1000 : 5000));
        const Result health = Kvctl("health --json", "");
        EXPECT_EQ(health.status, board.status) << health.out << health.err;
        const auto state = ParseLines(health.out);
        ASSERT_EQ(state.size(), 1u) << health.out;
        EXPECT_EQ(state[0]["state"].text, board.state);
        EXPECT_NE(state[0]["message"].text.find(board.says), std::string::npos) << health.out;
        if (board.status == 0) {
            EXPECT_GT(std::stod(state[0]["frames_per_second"].text), 90.0) << health.out;
            EXPECT_EQ(state[0]["version"].text, "10.3.0");
            // The file node-exporter's textfile collector reads, accepted by Prometheus's own
            // checker.
            const Result metrics = Kvctl("metrics", "--textfile '" + runtime.Path() + "'");
            EXPECT_EQ(metrics.status, 0) << metrics.err;
            const std::string file = runtime.File("kelvarin.prom");
            const kv::test::ShellResult check =
                kv::test::RunShell("promtool check metrics <'" + file + "' 2>&1");
            EXPECT_EQ(check.status, 0) << check.output;
            const std::string text = kv::test::ReadFile(file);
            EXPECT_NE(text.find("\nkelvarin_board_connected 1\n"), std::string::npos) << text;
            EXPECT_NE(text.find("\nkelvarin_driver_info{version=\"10.3.0\"} 1\n"),
                      std::string::npos);
            EXPECT_NE(text.find("\nkelvarin_driver_stale 0\n"), std::string::npos) << text;
        }
        if (board.status == 4) {
            // Its last records said 100 frames/s and connected; none of that is reported.
            EXPECT_EQ(state[0]["fresh"].type, kvtest::Json::Type::Bool) << health.out;
            EXPECT_FALSE(state[0]["fresh"].boolean) << health.out;
            EXPECT_EQ(state[0]["frames_heard"].text, "0") << health.out;
            EXPECT_TRUE(state[0]["frames_per_second"].IsNull()) << health.out;
            const Result metrics = Kvctl("metrics", "");
            EXPECT_EQ(metrics.status, 0) << metrics.err;
            EXPECT_NE(metrics.out.find("kelvarin_driver_up 0\n"), std::string::npos) << metrics.out;
            EXPECT_NE(metrics.out.find("\nkelvarin_driver_stale 1\n"), std::string::npos);
            EXPECT_EQ(metrics.out.find("kelvarin_frames_per_second"), std::string::npos);
            driver->Signal(SIGKILL);  // a stuck loop serves no stop request
            driver->Wait(kWaitMs);
            continue;
        }
        StopDriver();
    }
}

TEST_F(KvctlLive, BadNamesAndValuesExitWithTwoAndSendNothing) {
    UdpPeer listener;  // stands where the driver would be
    const std::string at = " --port " + std::to_string(listener.Port());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"set Sense/State Sensitivity=3", "Sensitivity"},
        {"set Sense/State CoarseRange=three", "three"},
        {"set Sense/Stat CoarseRange=3", "Sense/Stat"},
        {"set Output/State Enable=yes --save", "yes"},
        {"get Output/Stat", "Output/Stat"},
        {"status --timeout soon", "soon"},
        // Words a command does not take.
        {"status Sense/State", "takes no arguments"},
        {"stop now", "takes no arguments"},
        {"monitor everything", "takes no arguments"},
    };
    for (const auto& [command, named] : cases) {
        const Result r = Kvctl(command + at);
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_NE(r.err.find(named), std::string::npos) << command << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << command;
    }
    EXPECT_FALSE(listener.Receive(200).has_value());
}

TEST_F(KvctlLive, HelpDocumentsTheLiveCommands) {
    const Result help = Kvctl("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* word :
         {"kvctl status", "kvctl get", "kvctl set", "--save", "kvctl save", "kvctl load",
          "kvctl stop", "kvctl monitor", "--port", "--timeout", "Ctrl-C"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

TEST_F(KvctlLive, MonitorShowsTheTouchesOfAScenarioAndEndsCleanlyOnInterrupt) {
    // One finger pressed at (0.3, 0.4) once the baseline is valid, lifted, and again.
    const std::string scenario = runtime.File("touch.scenario");
    kv::test::WriteFile(scenario,
                        "at 6.0 down 1 0.30 0.40\n"
                        "at 6.6 up 1\n"
                        "at 8.0 end\n"
                        "loop\n");
    StartDriver(kDriver, {"--simulate=" + scenario, "--pointer=none"});
    ASSERT_NE(port, 0);
    const Result enable = Kvctl("set Output/State Enable=1", "");
    ASSERT_EQ(enable.status, 0) << enable.err;

    const std::string outPath = runtime.File("monitor-out");
    Process monitor(kTool, {"monitor", "--port", std::to_string(port)}, {}, outPath,
                    runtime.File("monitor-err"));
    // A press and the release after it.
    const bool seen = WaitFor([&] {
        bool pressed = false;
        for (const MonitorTouch& t : MonitorTouches(kv::test::ReadFile(outPath))) {
            pressed = pressed || t.state == 2;
            if (pressed && t.state == 0) {
                return true;
            }
        }
        return false;
    });
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(kWaitMs), std::optional<int>(0));
    const std::string text = kv::test::ReadFile(outPath);
    ASSERT_TRUE(seen) << text;
    EXPECT_NE(text.find("link connected=yes"), std::string::npos) << text;
    EXPECT_NE(text.find("frames per-period="), std::string::npos) << text;
    EXPECT_NE(text.find("signal value="), std::string::npos) << text;
    for (const MonitorTouch& t : MonitorTouches(text)) {
        if (t.state == 2) {
            // Where the finger was, through the default calibration.
            EXPECT_NEAR(t.x, 0.3, 0.05) << text;
            EXPECT_NEAR(t.y, 0.4, 0.05) << text;
        }
    }

    StopDriver();
}

// A foil whose calibration puts touches away from the finger is made usable from a terminal:
// the identity calibration goes into DRIVER.INI (every other line kept) and the driver reads
// it again, so the next touch lands where the finger is; its unsaved settings stay.
TEST_F(KvctlLive, CalibrationResetMakesTouchesLandWhereTheFingerIs) {
    const std::string program = kv::test::InstallDriver(install);
    const std::string settings = install.File("DRIVER.INI");
    const std::string skewed =
        "Calib_Ref_TL_SA=0.25\r\nCalib_Ref_TL_SB=0.3\r\n; kept as it is\r\n"
        "Sense_State_PressThreshold=7\r\nCalib_State_Angle=1\r\n";
    kv::test::WriteFile(settings, skewed);
    const std::string scenario = runtime.File("touch.scenario");
    kv::test::WriteFile(scenario, "at 6.0 down 1 0.30 0.40\nat 6.6 up 1\nat 8.0 end\nloop\n");
    StartDriver(program, {"--simulate=" + scenario, "--pointer=none"});
    ASSERT_EQ(Kvctl("set Output/State Enable=1", "").status, 0);
    const std::string outPath = runtime.File("monitor-out");
    Process monitor(kTool, {"monitor", "--port", std::to_string(port)}, {}, outPath,
                    runtime.File("monitor-err"));
    // The first press at or after offset in the monitor's output.
    const auto pressAfter = [&](size_t offset) -> std::optional<MonitorTouch> {
        const std::string text = kv::test::ReadFile(outPath);
        for (const MonitorTouch& t :
             MonitorTouches(offset < text.size() ? text.substr(offset) : "")) {
            if (t.state == 2) {
                return t;
            }
        }
        return std::nullopt;
    };
    std::optional<MonitorTouch> before;
    ASSERT_TRUE(WaitFor([&] { return (before = pressAfter(0)).has_value(); }, 20000));
    EXPECT_GT(std::hypot(before->x - 0.3, before->y - 0.4), 0.05) << before->x << " " << before->y;

    // A setting the Controller changed and did not save stays as it is, unsaved.
    ASSERT_EQ(Kvctl("set Sense/State PressThreshold=9", "").status, 0);
    const Result reset = Kvctl("calibration reset", "--settings '" + settings + "'");
    ASSERT_EQ(reset.status, 0) << reset.err;
    EXPECT_EQ(Get("Sense/State")["fields"]["PressThreshold"].text, "9");
    const size_t mark = kv::test::ReadFile(outPath).size();
    std::optional<MonitorTouch> after;
    ASSERT_TRUE(WaitFor([&] { return (after = pressAfter(mark)).has_value(); }, 20000));
    EXPECT_NEAR(after->x, 0.3, 0.03);
    EXPECT_NEAR(after->y, 0.4, 0.03);
    monitor.Signal(SIGINT);
    monitor.Wait(kWaitMs);
    // Only the calibration lines changed; the missing ones were added.
    const std::string file = kv::test::ReadFile(settings);
    EXPECT_EQ(file.substr(0, 110),
              "Calib_Ref_TL_SA=0.1\r\nCalib_Ref_TL_SB=0.1\r\n; kept as it is\r\n"
              "Sense_State_PressThreshold=7\r\nCalib_State_Angle=0\r\n")
        << file;
    EXPECT_NE(file.find("\r\nCalib_Ref_BL_SY=0.9\r\n"), std::string::npos) << file;
    StopDriver();
}

// Copying one kiosk's tuning to another: what a second driver with other settings holds after
// an import of the first one's export is the same, records and DRIVER.INI; a file with one bad
// value is refused where it is wrong and changes nothing.
TEST_F(KvctlLive, ExportThenImportGivesASecondDriverTheSameSettings) {
    const std::string tunedPath = install.File("DRIVER.INI");
    kv::test::WriteFile(tunedPath,
                        "Sense_State_CoarseRange=12\r\nSense_State_TouchThreshold=6\r\n"
                        "Sense_State_PressThreshold=9\r\nEdge_State_Top=30\r\n"
                        "Output_State_Selection=2\r\nOutput_State_Mode=4\r\n"
                        "Output_Tune_DampRange=0.05\r\nOutput_Pointer_Enable3=false\r\n"
                        "exclude_edge_flag=2\r\nexclude_edge_left=0.5\r\n"
                        "Calib_Ref_TL_SA=0.13\r\nCalib_Ref_BL_SB=0.87\r\nCalib_State_Angle=1\r\n");
    StartDriver(kv::test::InstallDriver(install), {"--link=scripted"});
    const uint16_t tunedPort = port;
    auto tuned = std::move(driver);

    // The second machine: factory settings, its own folder and runtime folder.
    TempDir otherRuntime, otherInstall;
    UdpPeer otherHello;
    Process other(
        kv::test::InstallDriver(otherInstall),
        {"--port", "0", "--peer-port", std::to_string(otherHello.Port()), "--link=scripted"},
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", otherRuntime.Path()}},
        otherRuntime.File("out"), otherRuntime.File("err"));
    const uint16_t otherPort = kv::test::AwaitHello(otherHello);
    ASSERT_NE(otherPort, 0);
    const std::string onOther = " --port " + std::to_string(otherPort) + " --settings '" +
                                otherInstall.File("DRIVER.INI") + "'";

    const std::string exported = runtime.File("kiosk.ini");
    ASSERT_EQ(Kvctl("export '" + exported + "' --with-calibration", "").status, 0);
    const std::string text = kv::test::ReadFile(exported);

    // One value out of range: named by its line, and nothing changes.
    const size_t at = text.find("PressThreshold = 9\n");
    ASSERT_NE(at, std::string::npos) << text;
    const int badLine = static_cast<int>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
    const std::string bad = runtime.File("bad.ini");
    kv::test::WriteFile(bad, text.substr(0, at) + "PressThreshold = 99\n" +
                                 text.substr(at + std::string("PressThreshold = 9\n").size()));
    const Result refused = Kvctl("import '" + bad + "'" + onOther);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(
        refused.err.find(bad + ":" + std::to_string(badLine) + ": Sense/State PressThreshold"),
        std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(otherInstall.File("DRIVER.INI")));

    const Result dry = Kvctl("import '" + exported + "' --dry-run" + onOther);
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("Sense/State PressThreshold: 5 -> 9\n"), std::string::npos) << dry.out;
    const Result imported = Kvctl("import '" + exported + "'" + onOther);
    ASSERT_EQ(imported.status, 0) << imported.err;

    // The same records (their fields, the end of each JSON line; the headers differ), and the
    // same DRIVER.INI once both have saved.
    const auto fields = [&](uint16_t p) {
        std::map<std::string, std::string> byRecord;
        const std::string out = Kvctl("status --port " + std::to_string(p)).out;
        for (size_t start = 0, end; start < out.size(); start = end + 1) {
            end = out.find('\n', start);
            const std::string line = out.substr(start, end - start);
            const size_t name = line.find("\"record\": \"");
            const size_t from = line.find("\"fields\"");
            if (name != std::string::npos && from != std::string::npos) {
                byRecord[line.substr(name + 11, line.find('"', name + 11) - name - 11)] =
                    line.substr(from);
            }
        }
        return byRecord;
    };
    const auto tunedFields = fields(tunedPort);
    const auto otherFields = fields(otherPort);
    for (const char* record : {"Split/State", "Comms/ReqState", "Sense/State", "Edge/State",
                               "Output/State", "Output/Pointer", "Mouse/Damp", "Calib/State",
                               "Calib/Ref_TL", "Calib/Ref_TR", "Calib/Ref_BL"}) {
        ASSERT_TRUE(tunedFields.count(record)) << record;
        EXPECT_EQ(otherFields.at(record), tunedFields.at(record)) << record;
    }
    ASSERT_EQ(Kvctl("save --port " + std::to_string(tunedPort)).status, 0);
    EXPECT_TRUE(WaitFor([&] {
        return kv::test::ReadFile(otherInstall.File("DRIVER.INI")) == kv::test::ReadFile(tunedPath);
    })) << kv::test::ReadFile(otherInstall.File("DRIVER.INI"))
        << "\n---\n"
        << kv::test::ReadFile(tunedPath);
    other.Signal(SIGTERM);
    other.Wait(kWaitMs);
    driver = std::move(tuned);
    port = tunedPort;
    StopDriver();
}

// kvctl is a second peer, never a replacement for the Controller: with kvctl monitor running
// and kvctl commands coming and going, the Controller gets every heartbeat, and its own save
// after a kvctl save is acted on.
TEST_F(KvctlLive, AControllerBesideKvctlGetsEveryRecordAndEverySave) {
    const std::string settings = StartInstalledDriver();
    ASSERT_NE(port, 0);

    // The Controller's endpoint says hello on its own; the driver answers with every record.
    kv::Registry controller(kv::ProgramRole::Controller);
    kv::Network endpoint(controller, kv::NetworkConfig{kv::ProgramRole::Controller, 0, port});
    ASSERT_TRUE(endpoint.Ok()) << endpoint.Error();
    ASSERT_TRUE(WaitFor([&] { return controller.driverDoReset.header.eventValid == 1; }));

    const std::string outPath = runtime.File("monitor-out");
    Process monitor(kTool, {"monitor", "--port", std::to_string(port)}, {}, outPath,
                    runtime.File("monitor-err"));
    ASSERT_TRUE(WaitFor(
        [&] { return kv::test::ReadFile(outPath).find("driver answering") != std::string::npos; }));

    // Watch the heartbeat step by step, with the Controller's presence every second as the
    // real one sends it, and a kvctl command now and then.
    std::vector<int32_t> beats;
    int32_t last = controller.driverDoHeartBeat.header.sequence;
    auto lastPresence = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const bool watched = WaitFor([&] {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPresence >= std::chrono::seconds(1)) {
            controller.clientClient.Present = true;
            controller.clientClient.Publish();
            lastPresence = now;
        }
        const int32_t beat = controller.driverDoHeartBeat.header.sequence;
        if (beat != last) {
            beats.push_back(beat);
            last = beat;
            if (beats.size() == 2) {
                EXPECT_EQ(Kvctl("get", "Comms/ActStatus").status, 0);
            }
        }
        return beats.size() >= 5;
    });
    ASSERT_TRUE(watched) << "heartbeats seen: " << beats.size();
    for (size_t i = 1; i < beats.size(); ++i) {
        EXPECT_EQ(beats[i], (beats[i - 1] + 1) % 255) << "a heartbeat went elsewhere";
    }

    // kvctl saves; then the Controller changes a setting and asks for a save of its own, one
    // above the sequence it knows.
    ASSERT_EQ(Kvctl("save", "").status, 0);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(settings); }));
    controller.senseState.CoarseRange = 33;
    controller.senseState.Publish();
    controller.storeDoSave.RaiseCounted();
    EXPECT_TRUE(WaitFor([&] {
        return kv::test::ReadFile(settings).find("Sense_State_CoarseRange=33") != std::string::npos;
    })) << kv::test::ReadFile(settings);

    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(kWaitMs), std::optional<int>(0));
    endpoint.Stop();
    StopDriver();
}

// A port held by another program (a second user's driver, say) does not stop the driver: it
// says so and keeps running, and takes the port as soon as it is free.
TEST_F(KvctlLive, ADriverWhosePortIsTakenRunsOnAndTakesItOnceFree) {
    auto holder = std::make_unique<UdpPeer>();
    const uint16_t taken = holder->Port();
    const std::string errPath = runtime.File("driver-err");
    driver = std::make_unique<Process>(
        kDriver,
        std::vector<std::string>{"--port", std::to_string(taken), "--peer-port",
                                 std::to_string(helloPeer.Port()), "--link=scripted"},
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()}},
        runtime.File("driver-out"), errPath);
    ASSERT_TRUE(WaitFor([&] {
        return kv::test::ReadFile(errPath).find("retrying every second") != std::string::npos;
    })) << kv::test::ReadFile(errPath);
    EXPECT_NE(kv::test::ReadFile(errPath).find(std::to_string(taken)), std::string::npos);
    EXPECT_FALSE(driver->Wait(200).has_value()) << "the driver ended";

    holder.reset();
    const auto hello = helloPeer.Receive(kWaitMs);
    ASSERT_TRUE(hello) << kv::test::ReadFile(errPath);
    EXPECT_EQ(*hello, kDriverHello);
    port = taken;
    EXPECT_TRUE(Get("Comms/ActStatus")["fields"]["Connected"].boolean);
    StopDriver();
}

TEST_F(KvctlLive, MonitorWaitsForADriverAndEndsOnTerminate) {
    UdpPeer silent;
    const std::string outPath = runtime.File("monitor-out");
    Process monitor(kTool, {"monitor", "--port", std::to_string(silent.Port()), "--timeout", "0.2"},
                    {}, outPath, runtime.File("monitor-err"));
    EXPECT_TRUE(WaitFor([&] {
        return kv::test::ReadFile(outPath).find("driver not answering") != std::string::npos;
    }));
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(kWaitMs), std::optional<int>(0));
    EXPECT_EQ(silent.Receive(kWaitMs), kControllerHello);
}

// The value of key's line in a DRIVER.INI text, or empty.
std::string ValueOf(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) {
        return {};
    }
    const size_t from = at + key.size() + 1;
    return text.substr(from, text.find_first_of("\r\n", from) - from);
}

// What is not a tuning, or holds a calibration that maps nothing, is refused with the reason
// and exit status 2, before anything reaches the driver or its file.
TEST_F(KvctlLive, OnlyASaneRegularFileWithAUsableCalibrationIsTaken) {
    const std::string settings = StartInstalledDriver();
    // A calibration whose other two references are given.
    const auto references = [](const char* tr, const char* bl) {
        return std::string("[Calib/Ref_TL]\nSA = 0.1\nSB = 0.1\n[Calib/Ref_TR]\n") + tr +
               "\n[Calib/Ref_BL]\n" + bl + "\n";
    };
    ::mkdir(runtime.File("folder").c_str(), 0755);
    ::mkfifo(runtime.File("fifo").c_str(), 0644);
    const std::pair<std::string, std::string> texts[] = {
        {"empty.ini", ""},
        {"large.ini", std::string(70 * 1024, '#')},
        {"point.ini", references("SA = 0.1\nSB = 0.1", "SA = 0.1\nSB = 0.1")},
        {"far.ini", references("SA = 3e38", "SB = 0.9")},
        {"escape.ini", "[Sense/State]\nCoarseRange = 1\x1b[2J\n"},
    };
    for (const auto& [name, text] : texts) {
        kv::test::WriteFile(runtime.File(name), text);
    }
    const std::pair<std::string, const char*> cases[] = {
        {runtime.File("folder"), "is a folder"},
        {runtime.File("fifo"), "is not a regular file"},  // no writer: must not block
        {"/dev/zero", "is not a regular file"},
        {runtime.File("empty.ini"), "holds no section"},
        {runtime.File("large.ini"), "is larger than"},
        {runtime.File("point.ini"), "the calibration is unusable"},
        {runtime.File("far.ini"), "outside -1..2"},
        {runtime.File("escape.ini"), "\\x1b[2J"},
    };
    for (const auto& [path, said] : cases) {
        SCOPED_TRACE(path);
        const Result import = Kvctl("import", "'" + path + "' --settings '" + settings + "'");
        EXPECT_EQ(import.status, 2) << import.err;
        EXPECT_NE(import.err.find(said), std::string::npos) << import.err;
        EXPECT_NE(import.err.find("nothing was changed"), std::string::npos) << import.err;
        EXPECT_EQ(import.err.find('\x1b'), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(settings));
    }
    StopDriver();
}

// A driver that cannot save says so on stderr once, without --verbose, and every command that
// asked for the save exits with 1; once the file can be written again, the save works.
TEST_F(KvctlLive, AFailedSaveIsSaidOnceAndNoCommandCallsItASuccess) {
    StartDriver(kv::test::InstallDriver(install), {"--link=scripted"});
    const std::string settings = install.File("DRIVER.INI");
    ASSERT_EQ(::mkdir(settings.c_str(), 0755), 0);
    const std::string tuning = runtime.File("tuning.ini");
    kv::test::WriteFile(tuning, "[Edge/State]\nTop = 40\n");
    const std::string commands[] = {"save", "save", "set Sense/State CoarseRange=20 --save",
                                    "import '" + tuning + "'"};
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const Result run = Kvctl(command, "");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("could not save its settings"), std::string::npos) << run.err;
    }
    const std::string said = kv::test::ReadFile(runtime.File("driver-err"));
    const std::string failed = "could not save settings";
    EXPECT_NE(said.find(failed), std::string::npos) << said;
    EXPECT_EQ(said.find(failed), said.rfind(failed)) << said;  // once, for the one cause
    EXPECT_NE(said.find("is a folder, not a file"), std::string::npos) << said;

    ASSERT_EQ(::rmdir(settings.c_str()), 0);
    const Result save = Kvctl("save", "");
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(ValueOf(kv::test::ReadFile(settings), "Sense_State_CoarseRange"), "20");
    EXPECT_EQ(ValueOf(kv::test::ReadFile(settings), "Edge_State_Top"), "40");
    StopDriver();
}

// An import stopped at any moment (the driver's unit stopped, SIGTERM) leaves DRIVER.INI with the
// whole import or none of it, and kvctl says success only for the whole.
TEST_F(KvctlLive, AnImportCutShortByAStopLeavesAllOfItOrNone) {
    const std::string settings = install.File("DRIVER.INI");
    const std::string tuning = runtime.File("tuning.ini");
    kv::test::WriteFile(tuning,
                        "[Sense/State]\nCoarseRange = 30\n[Edge/State]\nTop = 50\n"
                        "[Calib/Ref_TL]\nSA = 0.2\n");
    const char* keys[] = {"Sense_State_CoarseRange", "Edge_State_Top", "Calib_Ref_TL_SA"};
    const std::vector<std::string> before = {"12", "10", "0.11"};
    const std::vector<std::string> after = {"30", "50", "0.2"};
    const std::string program = kv::test::InstallDriver(install);
    int whole = 0, none = 0;
    for (const int delayMs : {0, 300, 700, 1000, 1300, 1700, 2200, 3000}) {
        SCOPED_TRACE(delayMs);
        kv::test::WriteFile(
            settings,
            "Sense_State_CoarseRange=12\r\nEdge_State_Top=10\r\nCalib_Ref_TL_SA=0.11\r\n");
        StartDriver(program, {"--link=scripted"});
        Process import(kTool,
                       {"import", tuning, "--settings", settings, "--port", std::to_string(port)},
                       {}, runtime.File("import-out"), runtime.File("import-err"));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        driver->Signal(SIGTERM);
        EXPECT_EQ(driver->Wait(kWaitMs), 0);
        const std::optional<int> status = import.Wait(kWaitMs);
        ASSERT_TRUE(status.has_value());
        const std::string text = kv::test::ReadFile(settings);
        std::vector<std::string> values;
        for (const char* key : keys) {
            values.push_back(ValueOf(text, key));
        }
        EXPECT_TRUE(values == before || values == after) << text;
        whole += values == after;
        none += values == before;
        const std::string err = kv::test::ReadFile(runtime.File("import-err"));
        if (*status == 0) {
            EXPECT_EQ(values, after);
        } else {
            EXPECT_TRUE(err.find("stopped") != std::string::npos ||
                        err.find("not answering") != std::string::npos)
                << err;
        }
    }
    std::printf("stops during an import: %d left all of it, %d none\n", whole, none);
}

}  // namespace
