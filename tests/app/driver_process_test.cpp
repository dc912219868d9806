// The Driver as a real process: command line, single instance, stop and save requests sent
// over loopback UDP, with the fake board and with no board at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "expected_settings.h"
#include "protocol/wire.h"
#include "tests/support/controller_side.h"
#include "tests/support/driver_program.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"

namespace kv {
namespace {

using test::kDriver;
using test::kWaitMs;
using test::Process;
using test::TempDir;
using test::UdpPeer;

// Waits until the file holds exactly text (the settings worker writes it a moment after the
// request), or kWaitMs; the caller asserts on the file afterwards.
void AwaitFileText(const std::string& path, const std::string& text) {
    test::WaitFor([&] { return test::ReadFile(path) == text; }, kWaitMs);
}

class DriverProcess : public ::testing::Test {
protected:
    // Starts a Driver that listens on a free port and says hello to peer; every process of a
    // test shares the test's runtime folder (and so its lock).
    std::unique_ptr<Process> Start(const std::string& program, const UdpPeer& peer,
                                   std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--port", "0", "--peer-port",
                                              std::to_string(peer.Port())};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const std::string n = std::to_string(++started_);
        return std::make_unique<Process>(
            program, arguments,
            // Not in a Wayland session, whatever the test's own: the driver says so on stderr.
            std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()},
                                               {"WAYLAND_DISPLAY", ""}},
            Out(n), Err(n));
    }
    std::string Out(const std::string& n) const { return runtime.File("stdout" + n); }
    std::string Err(const std::string& n) const { return runtime.File("stderr" + n); }

    // The driver's port, from its hello; 0 when none came.
    static uint16_t AwaitHello(UdpPeer& peer) { return test::AwaitHello(peer); }

    void Send(UdpPeer& peer, uint16_t port, const char* object, const char* topic) {
        ASSERT_TRUE(peer.SendTo(port, controller.Raise(object, topic)));
    }

    TempDir runtime;
    test::ControllerSide controller;
    int started_ = 0;
};

TEST_F(DriverProcess, VersionHelpAndUnknownOptions) {
    UdpPeer peer;
    auto version = Start(kDriver, peer, {"--version"});
    EXPECT_EQ(version->Wait(kWaitMs), 0);
    EXPECT_EQ(test::ReadFile(Out("1")), "10.3.0\n");

    auto help = Start(kDriver, peer, {"--help"});
    EXPECT_EQ(help->Wait(kWaitMs), 0);
    EXPECT_NE(test::ReadFile(Out("2")).find("--link"), std::string::npos);

    auto unknown = Start(kDriver, peer, {"--frobnicate"});
    EXPECT_EQ(unknown->Wait(kWaitMs), 2);
    EXPECT_TRUE(test::ReadFile(Out("3")).empty());
    EXPECT_NE(test::ReadFile(Err("3")).find("--frobnicate"), std::string::npos);
}

// A stop request ends the driver with status 0, with a board and without one; with a board
// it prints nothing at all.
TEST_F(DriverProcess, StopRequestEndsADriverWithOrWithoutBoardWithStatusZero) {
    struct Case {
        const char* link;
        bool board;
    };
    int run = 0;
    for (const Case c : {Case{"--link=scripted", true}, Case{"--link=hid", false}}) {
        UdpPeer peer;
        auto driver = Start(kDriver, peer, {c.link});
        const std::string n = std::to_string(++run);
        const uint16_t port = AwaitHello(peer);
        ASSERT_NE(port, 0) << c.link;
        Send(peer, port, "Driver", "DoStop");
        EXPECT_EQ(driver->Wait(kWaitMs), 0) << c.link;
        if (c.board) {
            EXPECT_TRUE(test::ReadFile(Out(n)).empty());
            EXPECT_TRUE(test::ReadFile(Err(n)).empty());
        }
    }
}

TEST_F(DriverProcess, TerminateAndInterruptStopItCleanlyWithOrWithoutBoard) {
    for (const char* link : {"--link=scripted", "--link=hid"}) {
        for (int signal : {SIGTERM, SIGINT}) {
            UdpPeer peer;
            auto driver = Start(kDriver, peer, {link});
            ASSERT_NE(AwaitHello(peer), 0) << link;
            driver->Signal(signal);
            EXPECT_EQ(driver->Wait(kWaitMs), 0) << link << " signal " << signal;
        }
    }
}

TEST_F(DriverProcess, TheEndOfTheStopWithProcessStopsItCleanly) {
    test::Process owner("/bin/sleep", {"600"}, {}, runtime.File("owner.out"),
                        runtime.File("owner.err"));
    ASSERT_TRUE(owner.Started());
    UdpPeer peer;
    auto driver =
        Start(kDriver, peer, {"--link=scripted", "--stop-with=" + std::to_string(owner.Pid())});
    ASSERT_NE(AwaitHello(peer), 0);
    EXPECT_FALSE(driver->Wait(0).has_value());  // running while its owner runs

    owner.Signal(SIGKILL);
    EXPECT_EQ(driver->Wait(kWaitMs), 0);
    EXPECT_TRUE(test::ReadFile(Err("1")).empty());
}

TEST_F(DriverProcess, AStopWithProcessThatDoesNotExistIsACommandLineError) {
    pid_t gone = 0;
    {
        test::Process ended("/bin/true", {}, {}, runtime.File("true.out"),
                            runtime.File("true.err"));
        ASSERT_EQ(ended.Wait(kWaitMs), 0);  // reaped: its id names no process now
        gone = ended.Pid();
    }
    UdpPeer peer;
    for (const std::string& value : {std::to_string(gone), std::string("abc"), std::string("0")}) {
        auto driver = Start(kDriver, peer, {"--link=scripted", "--stop-with=" + value});
        EXPECT_EQ(driver->Wait(kWaitMs), 2) << value;
        const std::string n = std::to_string(started_);
        EXPECT_NE(test::ReadFile(Err(n)).find("'" + value + "'"), std::string::npos)
            << value << ": " << test::ReadFile(Err(n));
        EXPECT_FALSE(peer.Receive(0).has_value()) << value;  // it never started its transport
    }
}

TEST_F(DriverProcess, ASecondDriverExitsWith254AfterWaitingASecond) {
    UdpPeer firstPeer;
    auto first = Start(kDriver, firstPeer, {"--link=scripted"});
    const uint16_t port = AwaitHello(firstPeer);  // it holds the lock before it says hello
    ASSERT_NE(port, 0);

    UdpPeer secondPeer;
    const auto begin = std::chrono::steady_clock::now();
    auto second = Start(kDriver, secondPeer, {"--link=scripted"});
    EXPECT_EQ(second->Wait(kWaitMs), 254);
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(waited, std::chrono::milliseconds(1000));  // a lower bound only
    EXPECT_FALSE(secondPeer.Receive(0).has_value());     // it never started its transport

    Send(firstPeer, port, "Driver", "DoStop");
    EXPECT_EQ(first->Wait(kWaitMs), 0);
}

TEST_F(DriverProcess, ATakenPortIsReportedOnStderrAndTheDriverCarriesOn) {
    UdpPeer peer;
    UdpPeer squatter;  // holds the port the driver is told to use
    auto driver = std::make_unique<Process>(
        kDriver,
        std::vector<std::string>{"--link=scripted", "--port", std::to_string(squatter.Port()),
                                 "--peer-port", std::to_string(peer.Port())},
        std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()}}, Out("x"),
        Err("x"));
    test::WaitFor(
        [&] { return test::ReadFile(Err("x")).find("retrying every second") != std::string::npos; },
        kWaitMs);
    const std::string error = test::ReadFile(Err("x"));
    EXPECT_EQ(error.rfind("Driver: ", 0), 0u) << error;
    EXPECT_NE(error.find(std::to_string(squatter.Port())), std::string::npos) << error;
    EXPECT_NE(error.find("; retrying every second\n"), std::string::npos) << error;
    EXPECT_FALSE(driver->Wait(0).has_value());  // still running

    driver->Signal(SIGTERM);
    EXPECT_EQ(driver->Wait(kWaitMs), 0) << test::ReadFile(Err("x"));
    EXPECT_TRUE(test::ReadFile(Out("x")).empty());
}

TEST_F(DriverProcess, ASaveRequestWritesTheSettingsBesideTheExecutable) {
    TempDir install;
    const std::string program = test::InstallDriver(install);
    const std::string settings = install.File("DRIVER.INI");
    test::WriteFile(settings,
                    "Sense_State_CoarseRange=7\r\n"
                    "Output_Tune_SnapRange=0.25\n"
                    "Comms_ReqState_MuxSize=48\r\n");

    UdpPeer peer;
    auto driver = Start(program, peer, {"--link=scripted", "--verbose"});
    const uint16_t port = AwaitHello(peer);
    ASSERT_NE(port, 0);
    // Settings out of range are refused: the save holds none of them.
    Registry& sent = controller.registry;
    sent.senseState.CoarseRange = 2000000000;
    sent.outputState.Selection = -5;
    ASSERT_TRUE(peer.SendTo(port, test::FrameOf(sent.senseState, sent)));
    ASSERT_TRUE(peer.SendTo(port, test::FrameOf(sent.outputState, sent)));
    Send(peer, port, "Store", "DoSave");

    std::string expected = test::DefaultSettingsText();
    expected = test::WithLine(expected, "Sense_State_CoarseRange", "7");
    expected = test::WithLine(expected, "Output_Tune_SnapRange", "0.25");
    expected = test::WithLine(expected, "Comms_ReqState_MuxSize", "48");
    AwaitFileText(settings, expected);

    Send(peer, port, "Driver", "DoStop");
    EXPECT_EQ(driver->Wait(kWaitMs), 0);
    EXPECT_EQ(test::ReadFile(settings), expected);
    EXPECT_EQ(test::ListFolder(install.Path()), (std::vector<std::string>{"DRIVER.INI", "Driver"}));
    EXPECT_NE(test::ReadFile(Err("1")).find("wrote settings"), std::string::npos);
}

// A DRIVER.INI that cannot be read, at start and on a reload, is said on stderr (without
// --verbose) and the driver runs on with its values and stops cleanly; it aborted on a folder
// or a read error, and a FIFO held it in its start for ever.
TEST_F(DriverProcess, ASettingsFileThatCannotBeReadIsSaidAndTheDriverRunsOn) {
    const std::pair<const char*, std::function<void(const std::string&)>> cases[] = {
        {"a folder", [](const std::string& p) { ::mkdir(p.c_str(), 0755); }},
        {"a FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }},
        {"a read error", [](const std::string& p) { ::symlink("/proc/self/mem", p.c_str()); }},
    };
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        TempDir install;
        const std::string program = test::InstallDriver(install);
        make(install.File("DRIVER.INI"));
        UdpPeer peer;
        auto driver = Start(program, peer, {"--link=scripted"});
        const uint16_t port = AwaitHello(peer);
        ASSERT_NE(port, 0) << test::ReadFile(Err(std::to_string(started_)));
        Send(peer, port, "Store", "DoLoad");
        const std::string err = Err(std::to_string(started_));
        // Once at start, once for the reload (the two-second task).
        EXPECT_TRUE(test::WaitFor([&] {
            const std::string said = test::ReadFile(err);
            return said.find("cannot read the settings") != said.rfind("cannot read the settings");
        })) << test::ReadFile(err);
        Send(peer, port, "Driver", "DoStop");
        EXPECT_EQ(driver->Wait(kWaitMs), 0) << test::ReadFile(err);
    }
}

TEST_F(DriverProcess, AWaylandSessionIsToldOnceWhatDoesNotWorkThere) {
    TempDir home;
    test::GiveToOrdinaryUser(home.Path());
    test::GiveToOrdinaryUser(runtime.Path());
    const std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", runtime.Path()},
                                                    {"WAYLAND_DISPLAY", "wayland-test"},
                                                    {"DISPLAY", ""},
                                                    {"HOME", home.Path()},
                                                    {"XDG_CONFIG_HOME", ""}};
    // auto as an ordinary user, who may not write /dev/uinput: the pointer reaches nothing.
    for (const char* pointer : {"--pointer=none", "--pointer=auto"}) {
        const std::string n = std::string("wayland") + pointer;
        UdpPeer peer;
        const test::Command command = test::AsOrdinaryUser(
            kDriver,
            {"--port", "0", "--peer-port", std::to_string(peer.Port()), "--simulate", pointer});
        Process driver(command.program, command.arguments, env, Out(n), Err(n));
        const uint16_t port = AwaitHello(peer);
        ASSERT_NE(port, 0) << pointer << ": " << test::ReadFile(Err(n));
        // The hello brings all 38 records; more come only from the main loop's periodic
        // publishing, so frames have been processed by then.
        const auto hello = wire::HelloDatagram(wire::kSenderController);
        ASSERT_TRUE(peer.SendTo(port, std::vector<uint8_t>(hello.begin(), hello.end())));
        int received = 0;
        while (received < 40 && peer.Receive(kWaitMs).has_value()) {
            ++received;
        }
        EXPECT_EQ(received, 40) << pointer;
        driver.Signal(SIGTERM);
        EXPECT_EQ(driver.Wait(kWaitMs), 0) << pointer;

        const std::string error = test::ReadFile(Err(n));
        const std::string says = "XTest injection reaches only X11 programs (through XWayland)";
        const size_t first = error.find(says);
        EXPECT_NE(first, std::string::npos) << pointer << ": " << error;
        EXPECT_EQ(error.find(says, first + 1), std::string::npos) << pointer << ": " << error;
        EXPECT_NE(error.find("WAYLAND_DISPLAY=wayland-test"), std::string::npos) << error;
        EXPECT_NE(error.find("  screen rotation is not known"), std::string::npos) << error;
        if (std::string(pointer) == "--pointer=none") {
            EXPECT_NE(error.find("The pointer output is off"), std::string::npos) << error;
        }
    }
}

TEST_F(DriverProcess, ADriverInAFolderItCannotWriteKeepsItsSettingsInTheUsersConfiguration) {
    TempDir install;
    const std::string program = test::InstallDriver(install);
    test::MakeReadOnlyForOrdinaryUser(install.Path());
    TempDir home;
    test::GiveToOrdinaryUser(home.Path());
    test::GiveToOrdinaryUser(runtime.Path());  // the driver's lock
    const std::string configHome = home.File("config");
    const std::string folder = configHome + "/kelvarin-vyren";
    const std::string settings = folder + "/DRIVER.INI";
    const std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", runtime.Path()},
                                                    {"XDG_CONFIG_HOME", configHome},
                                                    {"HOME", home.Path()}};
    auto run = [&](const std::string& n, std::vector<std::string> arguments) {
        const test::Command command = test::AsOrdinaryUser(program, std::move(arguments));
        return std::make_unique<Process>(command.program, command.arguments, env, Out(n), Err(n));
    };

    // --help names the file of this run and makes no folder.
    auto help = run("help", {"--help"});
    EXPECT_EQ(help->Wait(kWaitMs), 0);
    EXPECT_NE(test::ReadFile(Out("help")).find("For this run: " + settings + "\n"),
              std::string::npos)
        << test::ReadFile(Out("help")) << test::ReadFile(Err("help"));
    EXPECT_FALSE(std::filesystem::exists(configHome));

    UdpPeer peer;
    auto driver = run("1", {"--port", "0", "--peer-port", std::to_string(peer.Port()),
                            "--link=scripted", "--verbose"});
    const uint16_t port = AwaitHello(peer);
    ASSERT_NE(port, 0) << test::ReadFile(Err("1"));
    EXPECT_FALSE(std::filesystem::exists(configHome));  // made on the first save, not before
    Send(peer, port, "Store", "DoSave");
    const std::string expected = test::DefaultSettingsText();
    AwaitFileText(settings, expected);
    Send(peer, port, "Driver", "DoStop");
    EXPECT_EQ(driver->Wait(kWaitMs), 0);

    EXPECT_EQ(test::ReadFile(settings), expected);
    EXPECT_NE(test::ReadFile(Err("1")).find("wrote settings to " + settings), std::string::npos)
        << test::ReadFile(Err("1"));
    for (const std::string& made : {configHome, folder}) {
        const auto permissions = std::filesystem::status(made).permissions();
        EXPECT_EQ(permissions, std::filesystem::perms::owner_all) << made;
    }
    EXPECT_EQ(test::ListFolder(install.Path()), (std::vector<std::string>{"Driver"}));
}

}  // namespace
}  // namespace kv
