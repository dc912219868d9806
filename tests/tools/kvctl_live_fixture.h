// A real Driver process, and kvctl run against it as a program: the fixture of the tests that
// use kvctl as people do. Each test has its own runtime folder (the driver's single-instance
// lock) and lets the driver take a free port.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/driver_program.h"
#include "tests/support/process_support.h"
#include "tests/tools/json_reader.h"

namespace kvtest {

using kv::test::kWaitMs;
using kv::test::Process;
using kv::test::TempDir;
using kv::test::UdpPeer;

inline const std::string kTool = KVCTL_PATH;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::vector<kvtest::Json> ParseLines(const std::string& text) {
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

}  // namespace kvtest
