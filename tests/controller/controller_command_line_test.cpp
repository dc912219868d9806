// The real Controller's command line: --help and --version answer without any display, and
// the help names the CONTROLLER.INI of the run, by the same rule as the Driver's file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "tests/support/process_support.h"

namespace kv {
namespace {

using test::Process;
using test::TempDir;

constexpr const char* kController = KV_CONTROLLER_PATH;
constexpr int kWaitMs = 60000;

// No display of any kind: a QApplication could not start here.
const std::map<std::string, std::string> kNoDisplay = {
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

class ControllerCommandLine : public ::testing::Test {
protected:
    // Runs the command to its end; its exit status (-1 when it did not end normally).
    int Run(const test::Command& command, const std::map<std::string, std::string>& env) {
        Process process(command.program, command.arguments, env, output.File("out"),
                        output.File("err"));
        return process.Wait(kWaitMs).value_or(-1);
    }
    std::string Out() const { return test::ReadFile(output.File("out")); }
    std::string Err() const { return test::ReadFile(output.File("err")); }

    TempDir output;
};

TEST_F(ControllerCommandLine, HelpVersionAndMistakesNeedNoDisplay) {
    EXPECT_EQ(Run({kController, {"--version"}}, kNoDisplay), 0) << Err();
    EXPECT_EQ(Out(), "Controller " KV_VERSION "\n");

    EXPECT_EQ(Run({kController, {"--help"}}, kNoDisplay), 0) << Err();
    const std::string help = Out();
    EXPECT_EQ(help.rfind("Usage: Controller [options]\n", 0), 0u) << help;
    for (const char* option :
         {"--port=N", "--driver-port=N", "--driver-option=ARG", "--help", "--version"}) {
        EXPECT_NE(help.find("\n  " + std::string(option) + " "), std::string::npos) << option;
    }
    // The build tree is writable: the file is beside the program.
    const std::string folder = std::filesystem::path(kController).parent_path().string();
    EXPECT_NE(help.find("For this run: " + folder + "/CONTROLLER.INI\n"), std::string::npos)
        << help;

    EXPECT_EQ(Run({kController, {"--bogus"}}, kNoDisplay), 2);
    EXPECT_TRUE(Out().empty());
    EXPECT_NE(Err().find("unknown option: --bogus"), std::string::npos) << Err();
    EXPECT_NE(Err().find("Try 'Controller --help'."), std::string::npos) << Err();
}

TEST_F(ControllerCommandLine, AReadOnlyInstallKeepsItsProfileInTheUsersConfiguration) {
    TempDir install;
    const std::string program = install.File("Controller");
    std::filesystem::copy_file(kController, program);
    test::MakeReadOnlyForOrdinaryUser(install.Path());
    TempDir home;
    test::GiveToOrdinaryUser(home.Path());
    std::map<std::string, std::string> env = kNoDisplay;
    env["HOME"] = home.Path();
    env["XDG_CONFIG_HOME"] = "relative/is/ignored";

    EXPECT_EQ(Run(test::AsOrdinaryUser(program, {"--help"}), env), 0) << Err();
    EXPECT_NE(
        Out().find("For this run: " + home.Path() + "/.config/kelvarin-vyren/CONTROLLER.INI\n"),
        std::string::npos)
        << Out();
    EXPECT_FALSE(std::filesystem::exists(home.File(".config")));  // --help makes no folder
}

}  // namespace
}  // namespace kv
