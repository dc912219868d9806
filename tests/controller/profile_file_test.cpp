// CONTROLLER.INI: the default text, look-ups without regard to case or line ends, writes that
// change one value and keep every other byte, and the file on disk.
#include "controller/models/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/process_support.h"

namespace kv::controller {
namespace {

using kv::test::ReadFile;
using kv::test::WriteFile;

class ProfileFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.Path().empty()); }

    kv::test::TempDir dir;
    std::string folder = dir.Path();
    std::string path = dir.File("CONTROLLER.INI");
};

TEST(ProfileText, DefaultsReadAsTheirTable) {
    const std::string_view text = kDefaultProfileText;
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "FIRST", 7), 1);
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "LANG", 7), 19);
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "INDEX", 7), 0);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "DRIVER", 7), 0);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "CONTROLLER", 7), 0);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "STATUS", 7), 1);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "CUSTOM", 7), 0);
    // A key looked for in the wrong section is missing there.
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "LANG", 7), 7);
    EXPECT_EQ(LookupProfileInt(text, "NONE", "LANG", 7), 7);
}

TEST(ProfileText, SectionsAndKeysMatchWithoutRegardToCase) {
    const std::string text = "[General]\r\nLang=17\r\n[boot]\r\nstatus=3\r\n";
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "LANG", 19), 17);
    EXPECT_EQ(LookupProfileInt(text, "general", "lang", 19), 17);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "STATUS", 1), 3);
    EXPECT_EQ(LookupProfileString(text, "bOoT", "StAtUs"), "3");
}

TEST(ProfileText, CrLfAndBareLfLinesAndBlanksAllRead) {
    const std::string text =
        "[GENERAL]\nFIRST=0\n  LANG = 17  \r\n[ BOOT ]\r\nSTATUS=2\r\nCUSTOM=\t5";
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "FIRST", 1), 0);
    EXPECT_EQ(LookupProfileInt(text, "GENERAL", "LANG", 19), 17);
    EXPECT_EQ(LookupProfileString(text, "GENERAL", "LANG"), "17");
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "STATUS", 1), 2);
    EXPECT_EQ(LookupProfileInt(text, "BOOT", "CUSTOM", 0), 5);  // last line, no line end
    // Only the first section and the first key of a name count.
    const std::string twice = "[A]\nK=1\nK=2\n[a]\nK=3\nJ=4\n";
    EXPECT_EQ(LookupProfileInt(twice, "A", "K", 0), 1);
    EXPECT_EQ(LookupProfileInt(twice, "A", "J", 5), 5);
}

TEST(ProfileText, IntegersReadAsTheWindowsReaderDoes) {
    EXPECT_EQ(ParseProfileInt("17"), 17);
    EXPECT_EQ(ParseProfileInt("  -12"), -12);
    EXPECT_EQ(ParseProfileInt("+8"), 8);
    EXPECT_EQ(ParseProfileInt("19abc"), 19);
    EXPECT_EQ(ParseProfileInt("3 4"), 3);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    EXPECT_EQ(ParseProfileInt(""), 0);
    EXPECT_EQ(ParseProfileInt("-"), 0);
    EXPECT_EQ(ParseProfileInt("99999999999999999999"), static_cast<int32_t>(1661992959u));
    // A key with no digits is 0, a missing key the default.
    EXPECT_EQ(LookupProfileInt("[G]\r\nLANG=\r\n", "G", "LANG", 19), 0);
    EXPECT_EQ(LookupProfileInt("[G]\r\nLANG=x\r\n", "G", "LANG", 19), 0);
    EXPECT_EQ(LookupProfileInt("[G]\r\nLAN=1\r\n", "G", "LANG", 19), 19);
}

TEST(ProfileText, WriteOfAnExistingKeyChangesOnlyItsValue) {
    std::string text(kDefaultProfileText);
    ASSERT_TRUE(WriteProfileString(text, "general", "first", "0"));
    EXPECT_EQ(text,
              "[GENERAL]\r\nFIRST=0\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\n"
              "CONTROLLER=0\r\nSTATUS=1\r\nCUSTOM=0\r\n");
    ASSERT_TRUE(WriteProfileString(text, "GENERAL", "LANG", "17"));
    EXPECT_EQ(text,
              "[GENERAL]\r\nFIRST=0\r\nLANG=17\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\n"
              "CONTROLLER=0\r\nSTATUS=1\r\nCUSTOM=0\r\n");

    // Blanks, comments, unusual line ends and stray bytes around the value all stay.
    std::string odd = "; mine\n[BOOT]  \r\n\tStatus =  1  ; note\nX\xff\r\n";
    ASSERT_TRUE(WriteProfileString(odd, "BOOT", "STATUS", "3"));
    EXPECT_EQ(odd, "; mine\n[BOOT]  \r\n\tStatus =  3\nX\xff\r\n");  // no inline comments
    EXPECT_EQ(LookupProfileString(odd, "BOOT", "STATUS"), "3");
    std::string bare = "[BOOT]\nSTATUS=1\nCUSTOM=0\n";
    ASSERT_TRUE(WriteProfileString(bare, "BOOT", "STATUS", "12"));
    EXPECT_EQ(bare, "[BOOT]\nSTATUS=12\nCUSTOM=0\n");
}

TEST(ProfileText, MissingKeyEndsItsSectionAndMissingSectionEndsTheFile) {
    std::string text = "[GENERAL]\r\nFIRST=1\r\n\r\n[BOOT]\r\nSTATUS=1\r\n";
    ASSERT_TRUE(WriteProfileString(text, "general", "LANG", "17"));
    EXPECT_EQ(text, "[GENERAL]\r\nFIRST=1\r\nLANG=17\r\n\r\n[BOOT]\r\nSTATUS=1\r\n");
    ASSERT_TRUE(WriteProfileString(text, "BOOT", "CUSTOM", "0"));
    EXPECT_EQ(text, "[GENERAL]\r\nFIRST=1\r\nLANG=17\r\n\r\n[BOOT]\r\nSTATUS=1\r\nCUSTOM=0\r\n");
    ASSERT_TRUE(WriteProfileString(text, "EXTRA", "A", "b c"));
    EXPECT_EQ(text,
              "[GENERAL]\r\nFIRST=1\r\nLANG=17\r\n\r\n[BOOT]\r\nSTATUS=1\r\nCUSTOM=0\r\n"
              "[EXTRA]\r\nA=b c\r\n");

    // A last line without its line end gets one before anything follows it.
    std::string open = "[BOOT]\nSTATUS=1";
    ASSERT_TRUE(WriteProfileString(open, "BOOT", "CUSTOM", "4"));
    EXPECT_EQ(open, "[BOOT]\nSTATUS=1\r\nCUSTOM=4\r\n");
    std::string halfEnd = "[BOOT]\r\nSTATUS=1\r";
    ASSERT_TRUE(WriteProfileString(halfEnd, "GENERAL", "LANG", "19"));
    EXPECT_EQ(halfEnd, "[BOOT]\r\nSTATUS=1\r\n[GENERAL]\r\nLANG=19\r\n");
    EXPECT_EQ(LookupProfileString(halfEnd, "BOOT", "STATUS"), "1");
    std::string empty;
    ASSERT_TRUE(WriteProfileString(empty, "GENERAL", "FIRST", "0"));
    EXPECT_EQ(empty, "[GENERAL]\r\nFIRST=0\r\n");
}

TEST(ProfileText, EntriesThatWouldNotReadBackAreRefused) {
    std::string text(kDefaultProfileText);
    EXPECT_FALSE(WriteProfileString(text, "GENERAL", "LANG", "1\r\n[BOOT]"));
    EXPECT_FALSE(WriteProfileString(text, "GENERAL", "A=B", "1"));
    EXPECT_FALSE(WriteProfileString(text, "GEN]", "LANG", "1"));
    EXPECT_FALSE(WriteProfileString(text, "", "LANG", "1"));
    EXPECT_FALSE(WriteProfileString(text, "GENERAL", "", "1"));
    EXPECT_FALSE(WriteProfileString(text, "GENERAL", "[X", "1"));
    EXPECT_FALSE(WriteProfileString(text, " GENERAL", "LANG", "1"));
    EXPECT_EQ(text, kDefaultProfileText);
}

TEST_F(ProfileFolder, CreatedWithTheDefaultTextByteForByte) {
    ProfileFile profile(path);
    EXPECT_FALSE(profile.Exists());
    EXPECT_EQ(profile.ReadInt("GENERAL", "FIRST", 1), 1);
    ASSERT_TRUE(profile.CreateWithDefaults());
    EXPECT_TRUE(profile.Exists());
    EXPECT_EQ(ReadFile(path),
              "[GENERAL]\r\nFIRST=1\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\n"
              "CONTROLLER=0\r\nSTATUS=1\r\nCUSTOM=0\r\n");
}

TEST_F(ProfileFolder, WritesKeepTheRestOfTheFileAndItsLink) {
    const std::string mine = "; kept\n[general]\nfirst = 1 \n\n[Boot]\r\nStatus=1\r\n\x01\x02";
    const std::string real = folder + "/real.ini";
    WriteFile(real, mine);
    ::chmod(real.c_str(), 0640);
    ASSERT_EQ(::symlink("real.ini", path.c_str()), 0);
    ProfileFile profile(path);

    ASSERT_TRUE(profile.WriteInt("GENERAL", "FIRST", 0));
    ASSERT_TRUE(profile.WriteString("GENERAL", "LANG", "17"));
    ASSERT_TRUE(profile.WriteInt("BOOT", "STATUS", -3));
    EXPECT_EQ(ReadFile(real),
              "; kept\n[general]\nfirst = 0 \nLANG=17\r\n\n[Boot]\r\nStatus=-3\r\n\x01\x02");
    EXPECT_EQ(profile.ReadInt("general", "lang", 19), 17);
    EXPECT_EQ(profile.ReadString("boot", "STATUS", ""), "-3");
    EXPECT_EQ(profile.ReadString("boot", "NONE", "x"), "x");

    struct stat link {};
    ASSERT_EQ(::lstat(path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    struct stat target {};
    ASSERT_EQ(::stat(real.c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 0777, 0640u);
}

TEST_F(ProfileFolder, AFileTooLargeToBeOursIsNeitherRewrittenNorLost) {
    std::string big(kMaxProfileBytes + 10, 'x');
    big.replace(0, 20, "[GENERAL]\r\nLANG=17\r\n");
    WriteFile(path, big);
    ProfileFile profile(path);
    EXPECT_EQ(profile.ReadInt("GENERAL", "LANG", 19), 17);
    EXPECT_FALSE(profile.WriteInt("GENERAL", "LANG", 19));
    EXPECT_EQ(ReadFile(path), big);
}

TEST_F(ProfileFolder, AnUnwritablePlaceSaysSo) {
    ProfileFile missingFolder(folder + "/none/CONTROLLER.INI");
    EXPECT_FALSE(missingFolder.CreateWithDefaults());
    EXPECT_FALSE(missingFolder.WriteInt("GENERAL", "FIRST", 0));
    EXPECT_EQ(missingFolder.ReadInt("GENERAL", "FIRST", 1), 1);
}

}  // namespace
}  // namespace kv::controller
