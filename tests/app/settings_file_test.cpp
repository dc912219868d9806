// DRIVER.INI: the written format byte for byte, the reading rules and their edge cases, the
// file replacement that never leaves a half-written file, and the saves written off the main
// loop.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <locale>
#include <mutex>
#include <thread>

#include "driver/settings/settings_file.h"
#include "driver/settings/settings_saver.h"
#include "expected_settings.h"
#include "protocol/setting_fields.h"
#include "tests/support/frame_log.h"
#include "tests/support/process_support.h"

namespace kv {
namespace {

class SettingsText : public ::testing::Test {
protected:
    SettingsText() { ApplySettingsDefaults(registry); }
    void Apply(std::string_view text) { ApplySettingsText(text, registry); }
    Registry registry{ProgramRole::Driver};
};

// --- writing ------------------------------------------------------------------------------

TEST_F(SettingsText, TheDefaultsAreWrittenAsFiftyFiveCrLfLines) {
    EXPECT_EQ(FormatSettings(registry), test::DefaultSettingsText());
}

TEST_F(SettingsText, NumbersAreWrittenWithSixSignificantDigits) {
    registry.mouseDamp.SnapRange = 123456.7f;
    registry.mouseDamp.DampRange = 1234567.0f;
    registry.mouseDamp.DampPeriod = 0.0001f;
    registry.mouseDamp.RightClickRange = 0.00001f;
    registry.mouseDamp.RightClickPeriod = -0.333333333f;
    registry.splitState.Split0 = -3;
    registry.edgeState.Top = std::numeric_limits<int32_t>::min();
    const std::string text = FormatSettings(registry);
    EXPECT_NE(text.find("Output_Tune_SnapRange=123457\r\n"), std::string::npos);
    EXPECT_NE(text.find("Output_Tune_DampRange=1.23457e+06\r\n"), std::string::npos);
    EXPECT_NE(text.find("Output_Tune_DampPeriod=0.0001\r\n"), std::string::npos);
    EXPECT_NE(text.find("Output_Tune_RightClickRange=1e-05\r\n"), std::string::npos);
    EXPECT_NE(text.find("Output_Tune_RightClickPeriod=-0.333333\r\n"), std::string::npos);
    EXPECT_NE(text.find("Split_State_Split0=-3\r\n"), std::string::npos);
    EXPECT_NE(text.find("Edge_State_Top=-2147483648\r\n"), std::string::npos);
}

// A numeric punctuation with a decimal comma, as many desktop locales have.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

TEST_F(SettingsText, NumbersDoNotDependOnTheProcessLocale) {
    const std::locale previous = std::locale::global(std::locale(std::locale(), new CommaPunct));
    const bool cLocaleChanged = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const std::string text = FormatSettings(registry);
    Apply("Output_Tune_SnapRange=0.75\nCalib_Ref_TL_SA=1,5\n");
    const float snap = registry.mouseDamp.SnapRange;
    const float left = registry.calibRefTL.SA;
    std::setlocale(LC_ALL, "C");
    std::locale::global(previous);

    EXPECT_EQ(text, test::DefaultSettingsText());
    EXPECT_FLOAT_EQ(snap, 0.75f);
    EXPECT_FLOAT_EQ(left, 1.0f);  // a comma ends the number, as in the C locale
    if (!cLocaleChanged) {
        std::cout << "[ note ] no de_DE locale here; checked the C++ global locale only\n";
    }
}

// --- reading ------------------------------------------------------------------------------

TEST_F(SettingsText, ALineForOneKeyChangesOnlyThatField) {
    const std::string before = FormatSettings(registry);
    Apply("Comms_ReqState_MuxSize=20\r\n");
    EXPECT_EQ(registry.commsReqState.MuxSize, 20);
    EXPECT_EQ(FormatSettings(registry), test::WithLine(before, "Comms_ReqState_MuxSize", "20"));
}

TEST_F(SettingsText, BooleansAreTrueOnlyForExactlyTrue) {
    const std::pair<const char*, bool> cases[] = {
        {"true", true},   {"TRUE", false}, {"True", false},  {"1", false},
        {"true ", false}, {"", false},     {" true", false},
    };
    for (const auto& [value, expected] : cases) {
        registry.senseState.Advanced = !expected;
        Apply(std::string("Sense_State_Advanced=") + value + "\n");
        EXPECT_EQ(registry.senseState.Advanced, expected) << "'" << value << "'";
    }
    registry.senseState.Advanced = true;
    Apply("Sense_State_Advanced\n");  // no '=': the whole line is the value
    EXPECT_FALSE(registry.senseState.Advanced);
}

TEST_F(SettingsText, IntegersConvertLikeAtoi) {
    const std::pair<const char*, int32_t> cases[] = {
        {"false", 0},
        {"", 0},
        {" 30", 30},
        {"\t-42xyz", -42},
        {"+7", 7},
        {"abc", 0},
        {"12.9", 12},
        {"2147483647", 2147483647},
        {"99999999999", 2147483647},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
        {"- 5", 0},
    };
    for (const auto& [value, expected] : cases) {  // Delay: a key that takes every value
        registry.driverConfig.Delay = 1234;
        Apply(std::string("Delay=") + value + "\n");
        EXPECT_EQ(registry.driverConfig.Delay, expected) << "'" << value << "'";
    }
}

TEST_F(SettingsText, DelayWithoutEqualsIsZero) {
    Apply("Delay\n");
    EXPECT_EQ(registry.driverConfig.Delay, 0);
}

TEST_F(SettingsText, SpacesAroundTheEqualsSignStillGiveTheNumber) {
    Apply("Split_State_Split0 = 30\n");
    EXPECT_EQ(registry.splitState.Split0, 30);
}

TEST_F(SettingsText, FloatsConvertLikeAtof) {
    const std::pair<const char*, float> cases[] = {
        {"0.25", 0.25f}, {"  1.5e3x", 1500.0f}, {".5", 0.5f},
        {"-2", -2.0f},   {"abc", 0.0f},         {"false", 0.0f},
        {"", 0.0f},      {"+0.125", 0.125f},    {"7,5", 7.0f},
    };
    for (const auto& [value, expected] : cases) {  // a reference: a key without a range
        registry.calibRefTL.SA = 99.0f;
        Apply(std::string("Calib_Ref_TL_SA=") + value + "\n");
        EXPECT_FLOAT_EQ(registry.calibRefTL.SA, expected) << "'" << value << "'";
    }
    Apply("Calib_Ref_TL_SA=1e999\n");
    EXPECT_TRUE(std::isinf(registry.calibRefTL.SA));
    Apply("Calib_Ref_TL_SA=-1e300\n");
    EXPECT_EQ(registry.calibRefTL.SA, -std::numeric_limits<float>::infinity());
}

TEST_F(SettingsText, ALineGoesToTheFirstKeyItBeginsWith) {
    registry.outputPointer.Enable.fill(false);
    Apply("Output_Pointer_Enable10=true\n");
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(registry.outputPointer.Enable[i], i == 1) << i;
    }
    Apply("DelayMs=35\n");
    EXPECT_EQ(registry.driverConfig.Delay, 35);
}

TEST_F(SettingsText, LinesWithoutAKeyAreIgnored) {
    const std::string before = FormatSettings(registry);
    Apply("[Driver]\r\n\r\n; comment\r\ncomms_reqstate_muxsize=20\r\n =5\r\nMuxSize=9\r\n");
    EXPECT_EQ(FormatSettings(registry), before);
}

TEST_F(SettingsText, CrLfAndBareLfLineEndsBothWork) {
    Apply("Sense_State_Advanced=true\r\nSplit_State_Flip0=1\nOutput_State_Enable=true");
    EXPECT_TRUE(registry.senseState.Advanced);
    EXPECT_EQ(registry.splitState.Flip0, 1);
    EXPECT_TRUE(registry.outputState.Enable);  // the last line needs no line end
}

TEST_F(SettingsText, TheLaterOfTwoLinesForAKeyWins) {
    Apply("Sense_State_CoarseRange=3\r\nSense_State_CoarseRange=9\r\n");
    EXPECT_EQ(registry.senseState.CoarseRange, 9);
}

std::vector<Relaxed<int32_t>*> IntFields(Registry& r) {
    return {&r.commsReqState.PortIndex,
            &r.commsReqState.BaudIndex,
            &r.commsReqState.SampleIndex,
            &r.commsReqState.MuxSize,
            &r.driverConfig.Delay,
            &r.splitState.Split0,
            &r.splitState.Split1,
            &r.splitState.Flip0,
            &r.splitState.Flip1,
            &r.splitState.Flip2,
            &r.senseState.CoarseRange,
            &r.senseState.TouchThreshold,
            &r.senseState.PressThreshold,
            &r.edgeState.Top,
            &r.edgeState.Left,
            &r.edgeState.Right,
            &r.edgeState.Bottom,
            &r.outputState.Mode,
            &r.outputState.Selection,
            &r.calibState.exclude_edge_flag,
            &r.calibState.Angle};
}

std::vector<Relaxed<float>*> FloatFields(Registry& r) {
    return {&r.mouseDamp.SnapRange,
            &r.mouseDamp.DampRange,
            &r.mouseDamp.DampPeriod,
            &r.mouseDamp.RightClickRange,
            &r.mouseDamp.RightClickPeriod,
            &r.calibRefTL.SA,
            &r.calibRefTL.SB,
            &r.calibRefTL.SX,
            &r.calibRefTL.SY,
            &r.calibRefTR.SA,
            &r.calibRefTR.SB,
            &r.calibRefTR.SX,
            &r.calibRefTR.SY,
            &r.calibRefBL.SA,
            &r.calibRefBL.SB,
            &r.calibRefBL.SX,
            &r.calibRefBL.SY,
            &r.calibState.exclude_edge_left,
            &r.calibState.exclude_edge_top,
            &r.calibState.exclude_edge_right,
            &r.calibState.exclude_edge_bottom};
}

std::vector<Relaxed<bool>*> BoolFields(Registry& r) {
    std::vector<Relaxed<bool>*> fields = {&r.commsReqState.Open, &r.senseState.Advanced,
                                          &r.outputState.Enable, &r.outputState.Fake,
                                          &r.driverConfig.start_at_boot};
    for (Relaxed<bool>& enabled : r.outputPointer.Enable) {
        fields.push_back(&enabled);
    }
    return fields;
}

TEST_F(SettingsText, EveryValueSurvivesAWriteAndARead) {
    // In range, many at an end of their range, in the order of IntFields and FloatFields.
    const int32_t intValues[] = {255, 0, 17,  128, -20, 40, 88, 1, 0, 1, 50,
                                 0,   3, 100, 0,   1,   99, 6,  3, 2, 3};
    const float realValues[] = {1.0f,  0.0f,  10.0f,   0.123457f, 100.0f,   -0.38f,    1.19f,
                                -3.7f, 11.4f, -35.5f,  110.0f,    -341.0f,  1057.0f,   0.5f,
                                -2.2f, 1e-7f, 3.25e6f, 0.000123f, 0.99999f, 0.000124f, 1.0f};
    ASSERT_EQ(std::size(intValues), IntFields(registry).size());
    ASSERT_EQ(std::size(realValues), FloatFields(registry).size());
    size_t next = 0;
    for (Relaxed<int32_t>* field : IntFields(registry)) {
        *field = intValues[next++];
    }
    next = 0;
    for (Relaxed<float>* field : FloatFields(registry)) {
        *field = realValues[next++];
    }
    bool flag = true;
    for (Relaxed<bool>* field : BoolFields(registry)) {
        *field = flag;
        flag = !flag;
    }
    ASSERT_EQ(
        IntFields(registry).size() + FloatFields(registry).size() + BoolFields(registry).size(),
        static_cast<size_t>(kSettingsKeys));

    const std::string written = FormatSettings(registry);
    Registry copy(ProgramRole::Driver);
    ApplySettingsText(written, copy);
    EXPECT_EQ(FormatSettings(copy), written);

    const auto ints = IntFields(registry), readInts = IntFields(copy);
    for (size_t i = 0; i < ints.size(); ++i) {
        EXPECT_EQ(*readInts[i], *ints[i]) << i;
    }
    const auto bools = BoolFields(registry), readBools = BoolFields(copy);
    for (size_t i = 0; i < bools.size(); ++i) {
        EXPECT_EQ(*readBools[i], *bools[i]) << i;
    }
    // Floats come back within six significant digits.
    const auto reals = FloatFields(registry), readReals = FloatFields(copy);
    for (size_t i = 0; i < reals.size(); ++i) {
        EXPECT_NEAR(*readReals[i], *reals[i], std::fabs(*reals[i]) * 5e-6f) << i;
    }
}

TEST(SettingsDefaults, OnlyTheFieldsTheFileAloneSetsAndTheReferencesChange) {
    Registry registry(ProgramRole::Driver);
    registry.senseState.CoarseRange = 11;
    ApplySettingsDefaults(registry);
    EXPECT_EQ(registry.driverConfig.Delay, 20);
    for (bool enabled : registry.outputPointer.Enable) {
        EXPECT_TRUE(enabled);
    }
    EXPECT_EQ(registry.senseState.CoarseRange, 11);  // not the record's reset value 20
    EXPECT_FLOAT_EQ(registry.calibRefBL.SB, 0.9f);
    EXPECT_FLOAT_EQ(registry.calibRefBL.SY, 0.9f);
    EXPECT_FLOAT_EQ(registry.calibRefTR.SX, 0.9f);
    EXPECT_TRUE(SettingsInRange(registry));
    for (const TableEntry& entry : registry.Table()) {
        entry.record->Reset();  // the records' reset values
    }
    EXPECT_TRUE(SettingsInRange(registry));
}

// --- the file -----------------------------------------------------------------------------

class SettingsOnDisk : public ::testing::Test {
protected:
    SettingsOnDisk() {
        ApplySettingsDefaults(registry);
        registry.SetTransport(&transport);
    }
    test::TempDir dir;
    std::string path = dir.File("DRIVER.INI");
    Registry registry{ProgramRole::Driver};
    test::FrameLog transport;
};

TEST_F(SettingsOnDisk, ReadingPublishesTheTwelveRecordsInOrderEvenWithoutAFile) {
    registry.MarkPeerHeard();
    EXPECT_EQ(ReadSettingsFile(path, registry), SettingsRead::Missing);
    const std::vector<int32_t> expected = {
        registry.commsReqState.Address(), registry.splitState.Address(),
        registry.senseState.Address(),    registry.calibRefTL.Address(),
        registry.calibRefTR.Address(),    registry.calibRefBL.Address(),
        registry.edgeState.Address(),     registry.outputState.Address(),
        registry.outputPointer.Address(), registry.calibState.Address(),
        registry.mouseDamp.Address(),     registry.driverConfig.Address(),
    };
    EXPECT_EQ(transport.Addresses(), expected);
    EXPECT_EQ(FormatSettings(registry), test::DefaultSettingsText());

    transport.frames.clear();
    test::WriteFile(path, "Sense_State_PressThreshold=17\r\n");
    EXPECT_EQ(ReadSettingsFile(path, registry), SettingsRead::Read);
    EXPECT_EQ(registry.senseState.PressThreshold, 17);
    EXPECT_EQ(transport.Addresses(), expected);
}

// The user nobody, for what only a change of identity can show.
constexpr uid_t kNobody = 65534;
constexpr int kCannotChangeIdentity = 77;

// Runs body in a child process as the user nobody and returns its exit code (-1 when it did
// not exit normally, kCannotChangeIdentity when the identity could not be taken).
int RunAsNobody(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(kCannotChangeIdentity);
        }
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A --verbose log the test can read back, also what a forked child wrote to it.
class CapturedLog {
public:
    explicit CapturedLog(bool verbose = true) : file_(std::tmpfile()), log_(verbose, file_) {}
    ~CapturedLog() { std::fclose(file_); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    const VerboseLog& Log() const { return log_; }
    std::string Text() const {
        std::string text;
        std::rewind(file_);
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
            text += static_cast<char>(c);
        }
        return text;
    }

private:
    std::FILE* file_;
    VerboseLog log_;
};

struct stat StatOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

TEST_F(SettingsOnDisk, WritingReplacesTheFileKeepingItsModeAndOwnerAndLeavesNothingElse) {
    test::WriteFile(path, "old content that is longer than nothing\r\n");
    ::chmod(path.c_str(), 0640);
    // Only root may give a file away, so only then can a kept owner differ from ours.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    }
    registry.senseState.PressThreshold = 33;
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(path, registry, &error)) << error;
    EXPECT_EQ(test::ReadFile(path),
              test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "33"));
    EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{"DRIVER.INI"});
    const struct stat info = StatOf(path);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(info.st_uid, kNobody);
        EXPECT_EQ(info.st_gid, kNobody);
    } else {
        std::cout << "[ note ] not root: the kept owner is our own\n";
        EXPECT_EQ(info.st_uid, ::geteuid());
    }
}

TEST_F(SettingsOnDisk, ASymlinkedFileStaysALinkAndItsTargetGetsTheValues) {
    ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
    const std::string target = dir.File("real/settings.ini");
    test::WriteFile(target, "Sense_State_CoarseRange=3\r\n");
    ::chmod(target.c_str(), 0600);
    ASSERT_EQ(::symlink("real/settings.ini", path.c_str()), 0);  // relative to the link
    registry.senseState.PressThreshold = 41;
    const std::string expected =
        test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "41");

    std::string error;
    ASSERT_TRUE(WriteSettingsFile(path, registry, &error)) << error;
    struct stat link {};
    ASSERT_EQ(::lstat(path.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(test::ReadFile(target), expected);
    EXPECT_EQ(StatOf(target).st_mode & 07777, 0600u);
    EXPECT_EQ(test::ListFolder(dir.Path()), (std::vector<std::string>{"DRIVER.INI", "real"}));
    EXPECT_EQ(test::ListFolder(dir.File("real")), std::vector<std::string>{"settings.ini"});

    // A link through a second one, absolute, to a file not made yet: the file is created there.
    const std::string outer = dir.File("outer.ini");
    const std::string missing = dir.File("real/new.ini");
    ASSERT_EQ(::symlink(dir.File("inner.ini").c_str(), outer.c_str()), 0);
    ASSERT_EQ(::symlink(missing.c_str(), dir.File("inner.ini").c_str()), 0);
    ASSERT_TRUE(WriteSettingsFile(outer, registry, &error)) << error;
    EXPECT_EQ(test::ReadFile(missing), expected);
    ASSERT_EQ(::lstat(outer.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(test::ListFolder(dir.File("real")),
              (std::vector<std::string>{"new.ini", "settings.ini"}));
}

TEST_F(SettingsOnDisk, WithoutATemporaryFileTheFileIsRewrittenInPlace) {
    test::WriteFile(path, "Sense_State_CoarseRange=3\r\n");
    ::chmod(path.c_str(), 0604);
    // Something already sits where the temporary file would go and cannot be opened as one.
    const std::string blocker = path + ".tmp" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
    registry.senseState.PressThreshold = 27;

    const SettingsWriteResult result = WriteSettingsText(path, FormatSettings(registry));
    EXPECT_TRUE(result.ok) << result.detail;
    EXPECT_TRUE(result.inPlace);
    EXPECT_NE(result.detail.find(blocker), std::string::npos) << result.detail;
    EXPECT_EQ(test::ReadFile(path),
              test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "27"));
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0604u);
    ::rmdir(blocker.c_str());
}

// A hard link where the temporary file goes would have let a save write into the file it
// names; the save makes a file of its own instead.
TEST_F(SettingsOnDisk, AFileAlreadyWhereTheTemporaryGoesIsNeverWrittenInto) {
    const std::string other = path + ".other";
    test::WriteFile(other, "someone else's\n");
    ASSERT_EQ(::link(other.c_str(), (path + ".tmp" + std::to_string(::getpid())).c_str()), 0);
    const SettingsWriteResult result = WriteSettingsText(path, FormatSettings(registry));
    EXPECT_TRUE(result.ok && !result.inPlace) << result.detail;
    EXPECT_EQ(test::ReadFile(other), "someone else's\n");
    EXPECT_EQ(test::ReadFile(path), FormatSettings(registry));
}

TEST_F(SettingsOnDisk, AFolderTheDriverMayNotWriteStillGetsItsFileSaved) {
    test::WriteFile(path, "Sense_State_CoarseRange=3\r\n");
    ::chmod(path.c_str(), 0644);
    registry.senseState.PressThreshold = 19;
    CapturedLog captured;
    auto save = [&] {
        SettingsFile file(path, captured.Log());
        return file.Save(registry) ? 0 : 1;
    };

    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    int status = 0;
    if (::geteuid() == 0) {
        // Root may write anywhere: save as an ordinary user who owns the file but not the
        // folder.
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        status = RunAsNobody(save);
        if (status == kCannotChangeIdentity) {
            ::chmod(dir.Path().c_str(), 0700);
            GTEST_SKIP() << "running as root and cannot become an ordinary user";
        }
    } else {
        status = save();
    }
    ::chmod(dir.Path().c_str(), 0700);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadFile(path),
              test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "19"));
    EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{"DRIVER.INI"});
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0644u);
    const std::string said = captured.Text();
    EXPECT_NE(said.find("wrote settings to " + path + " in place"), std::string::npos) << said;
}

TEST_F(SettingsOnDisk, AFailedReplaceLeavesTheOldEntryAndNoTemporaryFile) {
    // A folder where the file should be is never replaced: nothing is written at all.
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    test::WriteFile(dir.File("DRIVER.INI/kept"), "x");
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(path, registry, &error));
    EXPECT_NE(error.find("is a folder, not a file"), std::string::npos) << error;
    EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{"DRIVER.INI"});
    EXPECT_EQ(test::ReadFile(dir.File("DRIVER.INI/kept")), "x");
}

// A process id that no process has: a child that has ended and been reaped.
pid_t EndedProcessId() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return child;
}

TEST_F(SettingsOnDisk, ASaveSweepsTheTemporaryFilesOfDriversKilledMidSaveAndNothingElse) {
    const std::string dead = std::to_string(EndedProcessId());
    const std::string otherDead = std::to_string(EndedProcessId());
    const std::string alive = std::to_string(::getppid());  // may be saving right now
    test::WriteFile(path, "Sense_State_CoarseRange=3\r\n");
    test::WriteFile(dir.File("DRIVER.INI.tmp" + dead), "Sense_State_Coarse");
    test::WriteFile(dir.File("DRIVER.INI.tmp" + otherDead), "");
    test::WriteFile(dir.File("DRIVER.INI.tmp" + alive), "Sense_State_CoarseRange=4\r\n");
    test::WriteFile(dir.File("DRIVER.INI.tmp" + dead + "x"), "not one of ours");
    test::WriteFile(dir.File("DRIVER.INI.tmp"), "not one of ours");
    test::WriteFile(dir.File("OTHER.INI.tmp" + dead), "another program's");
    ASSERT_EQ(::mkdir(dir.File("DRIVER.INI.tmp1" + dead).c_str(), 0700), 0);

    registry.senseState.PressThreshold = 23;
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(path, registry, &error)) << error;
    EXPECT_EQ(test::ReadFile(path),
              test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "23"));
    std::vector<std::string> expected = {"DRIVER.INI",
                                         "DRIVER.INI.tmp",
                                         "DRIVER.INI.tmp" + alive,
                                         "DRIVER.INI.tmp" + dead + "x",
                                         "DRIVER.INI.tmp1" + dead,
                                         "OTHER.INI.tmp" + dead};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::ListFolder(dir.Path()), expected);

    // Beside a symbolic link's target, where the temporary files are made.
    ASSERT_EQ(::mkdir(dir.File("real").c_str(), 0755), 0);
    const std::string linked = dir.File("linked.ini");
    ASSERT_EQ(::symlink("real/settings.ini", linked.c_str()), 0);
    test::WriteFile(dir.File("real/settings.ini.tmp" + dead), "Sense");
    ASSERT_TRUE(WriteSettingsFile(linked, registry, &error)) << error;
    EXPECT_EQ(test::ListFolder(dir.File("real")), std::vector<std::string>{"settings.ini"});
}

TEST_F(SettingsOnDisk, AWriteIntoAMissingFolderFailsWithoutCreatingAnything) {
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(dir.File("missing/DRIVER.INI"), registry, &error));
    EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{});
}

TEST_F(SettingsOnDisk, TheSettingsFileStoreReadsAndWritesItsPath) {
    const VerboseLog quiet(false);
    SettingsFile file(path, quiet);
    registry.outputState.Selection = 2;
    EXPECT_TRUE(file.Save(registry));
    Registry other(ProgramRole::Driver);
    file.Load(other);  // after our own write, never half-way through it
    EXPECT_EQ(other.outputState.Selection, 2);
}

// A value out of range keeps the field as it was, and --verbose says which; so does each of
// a pair that does not fit together (the split, a region's bounds).
TEST_F(SettingsOnDisk, AValueOutOfRangeKeepsTheFieldAndIsReported) {
    const char* const lines[] = {
        "Comms_ReqState_PortIndex=-1",
        "Comms_ReqState_MuxSize=false",
        "Comms_ReqState_MuxSize=65",
        "Output_Tune_SnapRange=nan",
        "Output_Tune_DampPeriod=1e30",
        "Output_Tune_RightClickPeriod=0.2",
        "Split_State_Split1=123",
        "Split_State_Flip0=2",
        "Sense_State_CoarseRange=2000000000",
        "Sense_State_PressThreshold=-5",
        "Edge_State_Right=1000",
        "Output_State_Mode=7",
        "Output_State_Selection=-5",
        "exclude_edge_flag=3",
        "exclude_edge_top=inf",
        "Calib_State_Angle=4",
        "exclude_edge_left=0.8\nexclude_edge_right=0.5",
        "exclude_edge_top=0.5\nexclude_edge_bottom=0.5",
    };
    const std::string before = FormatSettings(registry);
    for (const std::string line : lines) {
        test::WriteFile(path, line);
        CapturedLog log;
        ReadSettingsFile(path, registry, &log.Log());
        EXPECT_EQ(FormatSettings(registry), before) << line;
        const std::string key = line.substr(0, line.find('='));
        EXPECT_NE(log.Text().find("DRIVER.INI: " + key + "="), std::string::npos) << line;
    }
    // A pair is taken when it fits, whichever of its values came first.
    test::WriteFile(path, "exclude_edge_right=0.3\nexclude_edge_left=0.2\n");
    ReadSettingsFile(path, registry);
    EXPECT_EQ(registry.calibState.exclude_edge_left, 0.2f);
    EXPECT_EQ(registry.calibState.exclude_edge_right, 0.3f);
}

TEST_F(SettingsOnDisk, ASaveKeepsTheValuesOfItsMomentAndTheLastOfABurstReachesTheDisk) {
    const VerboseLog quiet(false);
    {
        SettingsFile file(path, quiet);
        registry.senseState.PressThreshold = 33;
        ASSERT_TRUE(file.Save(registry));
        registry.senseState.PressThreshold = 99;  // after the save: not in the file
        file.Flush();
        EXPECT_EQ(test::ReadFile(path),
                  test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "33"));

        // One save per changed setting, as the controller sends them; the store goes away
        // at once, as when the driver stops right after.
        for (int32_t i = 1; i <= 200; ++i) {
            registry.senseState.CoarseRange = i;
            file.Save(registry);
        }
    }
    std::string expected =
        test::WithLine(test::DefaultSettingsText(), "Sense_State_PressThreshold", "99");
    expected = test::WithLine(expected, "Sense_State_CoarseRange", "200");
    EXPECT_EQ(test::ReadFile(path), expected);
    EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{"DRIVER.INI"});
}

// --- the worker that writes saves ---------------------------------------------------------

SettingsSnapshot Numbered(int32_t n) {
    SettingsSnapshot values;
    values.fill(n);
    return values;
}

constexpr auto kGenerousWait = std::chrono::seconds(60);

// A writer that can hold a write under way, so that a test queues more saves meanwhile, and
// that keeps the number of every snapshot it wrote.
class HeldWriter {
public:
    void Write(const SettingsSnapshot& values) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++started_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        written_.push_back(std::get<int32_t>(values.front()));
    }
    // On failure the hold is let go, so that a failing test does not hang.
    bool AwaitStarted(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (changed_.wait_for(lock, kGenerousWait, [&] { return started_ >= count; })) {
            return true;
        }
        held_ = false;
        changed_.notify_all();
        return false;
    }
    // Lets the held write finish, a little later and from another thread, so that a caller
    // that should wait for it is already waiting.
    std::thread ReleaseSoon() {
        return std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::lock_guard<std::mutex> lock(mutex_);
            held_ = false;
            changed_.notify_all();
        });
    }
    std::vector<int32_t> Written() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = true;
    int started_ = 0;
    std::vector<int32_t> written_;
};

TEST(SettingsSaver, SavesDuringAWriteCoalesceIntoTheLatestAndFlushWaitsForThem) {
    HeldWriter writer;
    SettingsSaver saver([&writer](const SettingsSnapshot& values) { writer.Write(values); });
    saver.Submit(Numbered(1));
    ASSERT_TRUE(writer.AwaitStarted(1));
    for (int32_t n = 2; n <= 50; ++n) {
        saver.Submit(Numbered(n));
    }
    std::thread release = writer.ReleaseSoon();
    saver.Flush();
    EXPECT_EQ(writer.Written(), (std::vector<int32_t>{1, 50}));
    release.join();

    saver.Submit(Numbered(51));
    saver.Flush();
    EXPECT_EQ(writer.Written(), (std::vector<int32_t>{1, 50, 51}));
}

TEST(SettingsSaver, GoingAwayFinishesTheWriteUnderWayAndThePendingOne) {
    HeldWriter writer;
    std::thread release;
    {
        SettingsSaver saver([&writer](const SettingsSnapshot& values) { writer.Write(values); });
        saver.Submit(Numbered(1));
        ASSERT_TRUE(writer.AwaitStarted(1));
        saver.Submit(Numbered(2));
        release = writer.ReleaseSoon();
    }
    release.join();
    EXPECT_EQ(writer.Written(), (std::vector<int32_t>{1, 2}));
}

// A small file system of its own at folder (root only), for the disks that fail.
struct SmallDisk {
    SmallDisk(const std::string& at, bool wanted) : folder(at) {
        mounted = wanted && ::geteuid() == 0 &&
                  ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            ::umount2(folder.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    std::string folder;
    bool mounted = false;
};

// What a user's disk can do to DRIVER.INI, met by a driver without --verbose. A file that
// cannot be read keeps the values, never blocks nor throws, and is said; a save that fails
// leaves the old file whole, is said once however often it is tried, and is reported to the
// main loop as not saved; the next save that works says so.
TEST(SettingsTrouble, BadFilesAndDisksAreSaidAndKeepTheValues) {
    enum class Disk { Plain, Full, ReadOnly };
    struct Case {
        const char* what;
        Disk disk;
        std::function<void(const std::string& path)> make;
        bool readFails;
        bool saveFails;
    };
    const std::string old = "Sense_State_PressThreshold=21\r\n";
    const Case cases[] = {
        {"a folder", Disk::Plain, [](const std::string& p) { ::mkdir(p.c_str(), 0755); }, true,
         true},
        {"a FIFO", Disk::Plain, [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }, true,
         true},
        // A read that fails with EIO, as on a failing card.
        {"a link to /proc/self/mem", Disk::Plain,
         [](const std::string& p) { ::symlink("/proc/self/mem", p.c_str()); }, true, true},
        {"larger than a settings file", Disk::Plain,
         [](const std::string& p) { test::WriteFile(p, std::string(kMaxSettingsBytes + 1, '#')); },
         true, false},
        {"on a full disk", Disk::Full, [&](const std::string& p) { test::WriteFile(p, old); },
         false, true},
        {"on a read-only disk", Disk::ReadOnly,
         [&](const std::string& p) { test::WriteFile(p, old); }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const SmallDisk disk(dir.Path(), c.disk != Disk::Plain);
        if (c.disk != Disk::Plain && !disk.mounted) {
            std::printf("skipped %s: mounting a small disk needs root\n", c.what);
            continue;
        }
        const std::string path = dir.File("DRIVER.INI");
        c.make(path);
        if (c.disk == Disk::Full) {
            test::WriteFile(dir.File("filler"), std::string(1 << 20, 'x'));  // what fits
        } else if (c.disk == Disk::ReadOnly) {
            ASSERT_EQ(
                ::mount("tmpfs", disk.folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
        }
        const bool ordinary = c.disk != Disk::Plain;
        CapturedLog log(false);
        Registry registry(ProgramRole::Driver);
        ApplySettingsDefaults(registry);
        registry.senseState.PressThreshold = 13;
        {
            SettingsFile file(path, log.Log());
            file.Load(registry);
            EXPECT_EQ(registry.senseState.PressThreshold, ordinary ? 21 : 13);
            EXPECT_EQ(test::Occurrences(log.Text(), "cannot read the settings"),
                      c.readFails ? 1u : 0u)
                << log.Text();

            registry.senseState.PressThreshold = 30;
            for (int attempt = 0; attempt < 3; ++attempt) {
                file.Save(registry);
                file.Flush();
                EXPECT_EQ(file.TakeSaveOutcome(), std::optional<bool>(!c.saveFails));
            }
            EXPECT_EQ(test::Occurrences(log.Text(), "could not save settings"),
                      c.saveFails ? 1u : 0u)
                << log.Text();
            if (ordinary) {
                EXPECT_EQ(test::ReadFile(path), old);
            }
            if (c.disk == Disk::Full) {
                ::unlink(dir.File("filler").c_str());
                file.Save(registry);
                file.Flush();
                EXPECT_EQ(file.TakeSaveOutcome(), std::optional<bool>(true));
                EXPECT_NE(log.Text().find("wrote settings to " + path), std::string::npos);
                EXPECT_NE(test::ReadFile(path).find("PressThreshold=30"), std::string::npos);
            }
        }
        // No temporary file is left behind by the failed saves.
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
                << entry.path();
        }
    }
}

// In a folder others may write to, another user's link is not followed by a save: it would
// aim the write at any file of ours. A link of the folder's owner is (root only, to own the
// links).
TEST(SettingsTrouble, AnotherUsersLinkIsNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "owning links as another user needs root";
    }
    constexpr uid_t kOther = 4242;
    for (const bool folderIsTheirs : {false, true}) {
        SCOPED_TRACE(folderIsTheirs ? "their folder" : "a shared folder");
        test::TempDir dir;
        const std::string shared = dir.File("shared");
        ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
        ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
        if (folderIsTheirs) {
            ASSERT_EQ(::chown(shared.c_str(), kOther, kOther), 0);
        }
        const std::string target = dir.File("ours");
        test::WriteFile(target, "old");
        const std::string link = shared + "/DRIVER.INI";
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        ASSERT_EQ(::lchown(link.c_str(), kOther, kOther), 0);
        const SettingsWriteResult result = WriteSettingsText(link, "new");
        EXPECT_EQ(result.ok, folderIsTheirs) << result.detail;
        EXPECT_EQ(test::ReadFile(target), folderIsTheirs ? "new" : "old");
        if (!folderIsTheirs) {
            EXPECT_NE(result.detail.find("another user's link"), std::string::npos)
                << result.detail;
        }
    }
}

TEST(SettingsPath, IsDriverIniInTheExecutablesFolder) {
    const std::string path = DefaultSettingsPath();
    const std::string folder = ExecutableFolder();
    EXPECT_EQ(path, folder + "/DRIVER.INI");
    // This test binary's folder holds the test binary itself.
    EXPECT_TRUE(std::filesystem::exists(folder + "/app_tests"));
}

}  // namespace
}  // namespace kv
