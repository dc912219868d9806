// Where the settings files live: the rule on given facts, and the making of the folder.
#include "common/file_locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process_support.h"

namespace kv {
namespace {

TEST(SettingsFolder, BesideTheProgramWhenWritableElseInTheUsersConfigurationFolder) {
    struct Case {
        const char* what;
        FileLocationFacts facts;
        std::string folder;
    };
    const std::string program = "/usr/lib/kelvarin-vyren";
    const std::vector<Case> cases = {
        {"a writable program folder wins over everything",
         {"/opt/kv", true, "/home/ann/cfg", "/home/ann"},
         "/opt/kv"},
        {"writable, with no home at all", {"/opt/kv", true, "", ""}, "/opt/kv"},
        {"read-only, absolute XDG_CONFIG_HOME",
         {program, false, "/home/ann/cfg", "/home/ann"},
         "/home/ann/cfg/kelvarin-vyren"},
        {"read-only, XDG_CONFIG_HOME with a trailing slash",
         {program, false, "/home/ann/cfg/", "/home/ann"},
         "/home/ann/cfg/kelvarin-vyren"},
        {"read-only, relative XDG_CONFIG_HOME is ignored",
         {program, false, "cfg", "/home/ann"},
         "/home/ann/.config/kelvarin-vyren"},
        {"read-only, XDG_CONFIG_HOME unset",
         {program, false, "", "/home/ann"},
         "/home/ann/.config/kelvarin-vyren"},
        {"read-only, home is the root folder",
         {program, false, "", "/"},
         "/.config/kelvarin-vyren"},
        {"read-only, XDG_CONFIG_HOME set and no HOME",
         {program, false, "/srv/cfg", ""},
         "/srv/cfg/kelvarin-vyren"},
        {"read-only, no HOME", {program, false, "", ""}, program},
        {"read-only, relative HOME and relative XDG_CONFIG_HOME",
         {program, false, "cfg", "home/ann"},
         program},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SettingsFolderFor(c.facts), c.folder) << c.what;
    }
}

TEST(SettingsFolder, TheHelpSentenceNamesTheFileAndBothPlaces) {
    const std::string text = SettingsRuleText("DRIVER.INI", "  ");
    EXPECT_NE(text.find("\n  $XDG_CONFIG_HOME"), std::string::npos) << text;
    EXPECT_NE(text.find("DRIVER.INI"), std::string::npos) << text;
    EXPECT_NE(text.find("$XDG_CONFIG_HOME/kelvarin-vyren"), std::string::npos) << text;
    EXPECT_NE(text.find("~/.config/kelvarin-vyren"), std::string::npos) << text;
}

TEST(SettingsFolder, IsMadeWithItsParentsForTheUserAloneAndExistingOnesAreLeftAsTheyAre) {
    const test::TempDir temp;
    ASSERT_FALSE(temp.Path().empty());
    const std::string root = temp.Path();
    const std::string folder = root + "/cfg/deeper/kelvarin-vyren";

    std::string error;
    ASSERT_TRUE(MakeSettingsFolder(folder, &error)) << error;
    for (const std::string& level : {root + "/cfg", root + "/cfg/deeper", folder}) {
        struct stat info {};
        ASSERT_EQ(::stat(level.c_str(), &info), 0) << level;
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << level;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << level;
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_TRUE(MakeSettingsFolder(folder, &error)) << error;
    struct stat kept {};
    ASSERT_EQ(::stat(folder.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_mode & 0777, 0755u);

    // A file where a folder should be: refused, with the reason.
    const std::string blocked = root + "/file";
    std::FILE* file = std::fopen(blocked.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    error.clear();
    EXPECT_FALSE(MakeSettingsFolder(blocked + "/kelvarin-vyren", &error));
    EXPECT_NE(error.find(blocked), std::string::npos) << error;
}

// The lock folder in the shared /tmp: made for the user alone, and refused when anyone else
// could have put or changed something in it.
TEST(PrivateFolder, IsMadeForTheUserAloneAndRefusedWhenItIsNotSurelyOurs) {
    const test::TempDir temp;
    ASSERT_FALSE(temp.Path().empty());
    const std::string root = temp.Path();
    const unsigned uid = ::geteuid();
    std::string error;
    ASSERT_TRUE(MakePrivateFolder(root + "/made", uid, &error)) << error;
    struct stat made {};
    ASSERT_EQ(::stat((root + "/made").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700u);

    ::mkdir((root + "/open").c_str(), 0700);
    ::chmod((root + "/open").c_str(), 0755);
    ASSERT_EQ(::symlink((root + "/made").c_str(), (root + "/link").c_str()), 0);
    struct Case {
        std::string folder;
        unsigned owner;
        const char* reason;
    };
    for (const Case& refused : {Case{root + "/open", uid, "other users may enter it"},
                                Case{root + "/link", uid, "not a folder"},
                                Case{root + "/made", uid + 1, "belongs to uid"}}) {
        error.clear();
        EXPECT_FALSE(MakePrivateFolder(refused.folder, refused.owner, &error)) << refused.folder;
        EXPECT_NE(error.find(refused.reason), std::string::npos) << error;
    }
    EXPECT_EQ(RuntimeFolderFor("/run/user/7", 7), "/run/user/7");
    EXPECT_EQ(RuntimeFolderFor("", 7), "/tmp/kelvarin-vyren-7");
}

TEST(SettingsFolder, TheExecutableFolderHoldsThisTest) {
    const std::string folder = ExecutableFolder();
    EXPECT_TRUE(std::filesystem::exists(folder + "/common_tests")) << folder;
    // A build tree is writable, so the settings stay beside the program.
    EXPECT_EQ(SettingsFolder(folder), folder);
}

}  // namespace
}  // namespace kv
