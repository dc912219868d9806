#include "controller/platform/autostart.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/process_support.h"

namespace kv::controller {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ScopedEnv;

class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(root_.empty()); }

    // desktop-file-validate's verdict on the file, or nothing when the tool is missing.
    static std::optional<bool> Validates(const std::string& path) {
        if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) {
            return std::nullopt;
        }
        // Clean means no errors and no warnings or hints either: the tool prints nothing.
        const std::string report = path + ".report";
        const std::string command = "desktop-file-validate '" + path + "' >'" + report + "' 2>&1";
        const bool passed = std::system(command.c_str()) == 0;
        const std::string printed = ReadFile(report);
        std::remove(report.c_str());
        EXPECT_EQ(printed, "");
        return passed;
    }

    kv::test::TempDir dir_;
    std::string root_ = dir_.Path();
};

TEST_F(AutostartTest, FolderFollowsXdgConfigHomeElseHome) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", root_ + "/config");
        ScopedEnv home("HOME", root_ + "/home");
        EXPECT_EQ(AutostartFolder(), root_ + "/config/autostart");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", root_ + "/home");
        EXPECT_EQ(AutostartFolder(), root_ + "/home/.config/autostart");
        // An empty or relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
        ScopedEnv empty("XDG_CONFIG_HOME", "");
        EXPECT_EQ(AutostartFolder(), root_ + "/home/.config/autostart");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(AutostartFolder(), root_ + "/home/.config/autostart");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", root_ + "/home");
        ASSERT_TRUE(WriteAutostartEntry("Kelvarin_Driver", "/opt/kv/Driver"));
        EXPECT_TRUE(fs::is_regular_file(root_ + "/home/.config/autostart/Kelvarin_Driver.desktop"));
    }
}

TEST_F(AutostartTest, EntryIsWrittenValidAndRemoved) {
    ScopedEnv config("XDG_CONFIG_HOME", root_ + "/config");
    const std::string file = root_ + "/config/autostart/Kelvarin_Controller.desktop";
    EXPECT_FALSE(HasAutostartEntry("Kelvarin_Controller"));
    EXPECT_TRUE(RemoveAutostartEntry("Kelvarin_Controller"));  // none yet: still fine

    // The folder does not exist yet: it is made.
    ASSERT_TRUE(WriteAutostartEntry("Kelvarin_Controller", "/opt/kv/Controller"));
    EXPECT_TRUE(HasAutostartEntry("Kelvarin_Controller"));
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nName=Kelvarin_Controller\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=/opt/kv/Controller\n"), std::string::npos) << text;
    if (auto valid = Validates(file)) {
        EXPECT_TRUE(*valid) << text;
    }
    // Written again, it is replaced, and no temporary file is left beside it.
    ASSERT_TRUE(WriteAutostartEntry("Kelvarin_Controller", "/opt/kv2/Controller"));
    EXPECT_NE(ReadFile(file).find("\nExec=/opt/kv2/Controller\n"), std::string::npos);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(root_ + "/config/autostart")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);

    EXPECT_TRUE(RemoveAutostartEntry("Kelvarin_Controller"));
    EXPECT_FALSE(HasAutostartEntry("Kelvarin_Controller"));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(WriteAutostartEntry("Kelvarin_Controller", "relative/Controller"));
}

TEST_F(AutostartTest, ExecIsQuotedAndEscapedForSpacesAndReservedCharacters) {
    EXPECT_EQ(DesktopExecValue("/opt/kv/Driver"), "/opt/kv/Driver");
    EXPECT_EQ(DesktopExecValue("/home/a b/Driver"), "\"/home/a b/Driver\"");
    // Inside quotes " ` $ \ get a backslash; then the value's own escaping doubles backslashes.
    EXPECT_EQ(DesktopExecValue("/x/$y\"z/D"), "\"/x/\\\\$y\\\\\"z/D\"");
    EXPECT_EQ(DesktopExecValue("/x/a\\b"), "\"/x/a\\\\\\\\b\"");
    // A percent sign would read as a field code.
    EXPECT_EQ(DesktopExecValue("/x/100%/D"), "/x/100%%/D");

    ScopedEnv config("XDG_CONFIG_HOME", root_ + "/my config");
    ASSERT_TRUE(WriteAutostartEntry("Kelvarin_Driver", root_ + "/my programs/Driver"));
    const std::string file = root_ + "/my config/autostart/Kelvarin_Driver.desktop";
    EXPECT_NE(ReadFile(file).find("\nExec=\"" + root_ + "/my programs/Driver\"\n"),
              std::string::npos)
        << ReadFile(file);
    if (auto valid = Validates(file)) {
        EXPECT_TRUE(*valid);
    }
    // Quotes, dollars, backslashes and percent signs in the path still make a valid entry.
    ASSERT_TRUE(WriteAutostartEntry("Kelvarin_Driver", root_ + "/odd \"$`\\%/Driver"));
    if (auto valid = Validates(file)) {
        EXPECT_TRUE(*valid) << ReadFile(file);
    }
}

}  // namespace
}  // namespace kv::controller
