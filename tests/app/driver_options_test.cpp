// The Driver's command line.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver/app/driver_options.h"

namespace kv {
namespace {

ParsedOptions Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "Driver");
    return ParseDriverOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(DriverOptions, DefaultsAreTheProductionSetup) {
    const ParsedOptions parsed = Parse({});
    EXPECT_EQ(parsed.action, OptionsAction::Run);
    EXPECT_FALSE(parsed.options.verbose);
    EXPECT_EQ(parsed.options.port, 11249);
    EXPECT_EQ(parsed.options.peerPort, 11243);
    EXPECT_EQ(parsed.options.link, LinkKind::Hid);
    EXPECT_FALSE(parsed.options.screenMm.has_value());
    EXPECT_EQ(parsed.options.touch, TouchPath::Classic);
}

TEST(DriverOptions, ValuesComeAfterAnEqualsSignOrAsTheNextArgument) {
    const ParsedOptions parsed =
        Parse({"--verbose", "--port", "0", "--peer-port=40001", "--link=scripted", "--screen-mm",
               "1218x685", "--touch=precise"});
    ASSERT_EQ(parsed.action, OptionsAction::Run) << parsed.message;
    EXPECT_TRUE(parsed.options.verbose);
    EXPECT_EQ(parsed.options.port, 0);
    EXPECT_EQ(parsed.options.peerPort, 40001);
    EXPECT_EQ(parsed.options.link, LinkKind::Scripted);
    EXPECT_EQ(parsed.options.screenMm, (ScreenMillimetres{1218, 685}));
    EXPECT_EQ(parsed.options.touch, TouchPath::Precise);
    EXPECT_EQ(Parse({"--link", "hid"}).options.link, LinkKind::Hid);
}

TEST(DriverOptions, LiveTouchInputRunsTheSimulatedFoil) {
    const ParsedOptions alone = Parse({"--simulate-input=-"});
    ASSERT_EQ(alone.action, OptionsAction::Run) << alone.message;
    EXPECT_EQ(alone.options.link, LinkKind::Simulated);
    EXPECT_EQ(alone.options.scenario, "idle");
    EXPECT_EQ(alone.options.liveInput, "-");
    const ParsedOptions onTop = Parse({"--simulate=noisy.txt", "--simulate-input", "/tmp/foil"});
    ASSERT_EQ(onTop.action, OptionsAction::Run) << onTop.message;
    EXPECT_EQ(onTop.options.scenario, "noisy.txt");
    EXPECT_EQ(onTop.options.liveInput, "/tmp/foil");
    EXPECT_EQ(Parse({"--simulate-input="}).action, OptionsAction::Fail);
}

TEST(DriverOptions, StopWithTakesAProcessId) {
    EXPECT_EQ(Parse({}).options.stopWithPid, 0);
    const ParsedOptions parsed = Parse({"--stop-with", "4242"});
    ASSERT_EQ(parsed.action, OptionsAction::Run) << parsed.message;
    EXPECT_EQ(parsed.options.stopWithPid, 4242);
    EXPECT_EQ(Parse({"--stop-with=17"}).options.stopWithPid, 17);
}

TEST(DriverOptions, TheTuioTargetIsAHostAndAPort) {
    EXPECT_EQ(Parse({}).options.tuio.host, "127.0.0.1");
    EXPECT_EQ(Parse({}).options.tuio.port, 3333);
    for (const auto& [text, host, port] : std::vector<std::tuple<const char*, const char*, int>>{
             {"192.168.1.40:3333", "192.168.1.40", 3333},
             {"tuio-wall.local:40000", "tuio-wall.local", 40000},
             {"localhost:65535", "localhost", 65535}}) {
        const ParsedOptions parsed = Parse({"--tuio", text});
        ASSERT_EQ(parsed.action, OptionsAction::Run) << text << ": " << parsed.message;
        EXPECT_EQ(parsed.options.tuio.host, host);
        EXPECT_EQ(parsed.options.tuio.port, port);
    }
    for (const char* bad :
         {"--tuio=3333", "--tuio=:3333", "--tuio=host:", "--tuio=host:0", "--tuio=host:70000",
          "--tuio=::1:3333", "--tuio=[::1]:3333", "--tuio=a b:3333", "--tuio="}) {
        const ParsedOptions parsed = Parse({bad});
        EXPECT_EQ(parsed.action, OptionsAction::Fail) << bad;
        EXPECT_EQ(parsed.message.rfind("--tuio: ", 0), 0u) << bad << ": " << parsed.message;
    }
}

TEST(DriverOptions, HelpWinsOverVersion) {
    EXPECT_EQ(Parse({"--version"}).action, OptionsAction::Version);
    EXPECT_EQ(Parse({"--help"}).action, OptionsAction::Help);
    EXPECT_EQ(Parse({"--version", "--help"}).action, OptionsAction::Help);
    EXPECT_EQ(Parse({"--help", "--version"}).action, OptionsAction::Help);
}

TEST(DriverOptions, MalformedCommandLinesFailWithAReason) {
    for (const std::vector<const char*>& arguments :
         std::vector<std::vector<const char*>>{{"--frobnicate"},
                                               {"-v"},
                                               {"scripted"},
                                               {"--"},
                                               {"--port"},
                                               {"--port=65536"},
                                               {"--port=-1"},
                                               {"--port=12ab"},
                                               {"--port="},
                                               {"--verbose=yes"},
                                               {"--link=usb"},
                                               {"--version=2"},
                                               {"--stop-with=abc"},
                                               {"--stop-with=-5"},
                                               {"--stop-with=0"},
                                               {"--stop-with="},
                                               {"--screen-mm=1218"},
                                               {"--screen-mm=0x685"},
                                               {"--screen-mm=12.5x685"},
                                               {"--screen-mm=1218x685x2"},
                                               {"--screen-mm=200000x100"},
                                               {"--touch=fast"}}) {
        const ParsedOptions parsed = Parse(arguments);
        EXPECT_EQ(parsed.action, OptionsAction::Fail) << arguments.front();
        EXPECT_FALSE(parsed.message.empty()) << arguments.front();
    }
}

TEST(DriverOptions, TheUsageListsEveryOptionAndWhereTheSettingsAre) {
    const std::string usage = DriverUsage("/home/ann/.config/kelvarin-vyren/DRIVER.INI");
    EXPECT_NE(usage.find("DRIVER.INI is beside the program"), std::string::npos) << usage;
    EXPECT_NE(usage.find("For this run: /home/ann/.config/kelvarin-vyren/DRIVER.INI\n"),
              std::string::npos)
        << usage;
    for (const char* name :
         {"--help", "--version", "--verbose", "--port", "--peer-port", "--link", "--simulate-input",
          "--stop-with", "--tuio=HOST:PORT", "--screen-mm=WIDTHxHEIGHT"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
    // The option lines as help2man and a terminal read them: 80 columns at most, and an
    // option that shares its line with its text stands two blanks apart from it.
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("For this run:") != std::string::npos) {
            continue;  // the path is the user's
        }
        EXPECT_LE(line.size(), 80u) << line;
        const size_t optionEnd = line.find(' ', 2);
        if (line.rfind("  --", 0) == 0 && optionEnd != std::string::npos) {
            EXPECT_EQ(line.substr(optionEnd, 2), "  ") << line;
        }
    }
}

}  // namespace
}  // namespace kv
