// kvctl import, calibration reset and save against a real Driver when files and disks go
// wrong: a file that is not a tuning, a calibration that maps nothing, a save that fails, a
// stop in the middle of an import, and the driver's unsaved settings around a reload.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/tools/kvctl_live_fixture.h"

namespace {

using kv::test::Process;
using kv::test::ReadFile;
using kv::test::WriteFile;
using kvtest::kTool;
using kvtest::KvctlLive;
using kvtest::Result;

// The value of key's line in a DRIVER.INI text, or empty.
std::string ValueOf(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) {
        return {};
    }
    const size_t from = at + key.size() + 1;
    return text.substr(from, text.find_first_of("\r\n", from) - from);
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class TuningImport : public KvctlLive {
protected:
    std::string FieldOf(const std::string& record, const std::string& field) {
        return Get(record)["fields"][field].text;
    }
};

// What is not a tuning, or holds a calibration that maps nothing, is refused with the reason
// and exit status 2, before anything reaches the driver or its file.
TEST_F(TuningImport, OnlyASaneRegularFileWithAUsableCalibrationIsTaken) {
    const std::string settings = StartInstalledDriver();
    const auto references = [](const char* tr, const char* bl) {
        return std::string("[Calib/Ref_TL]\nSA = 0.1\nSB = 0.1\n[Calib/Ref_TR]\n") + tr +
               "\n[Calib/Ref_BL]\n" + bl + "\n";
    };
    struct Case {
        const char* what;
        std::function<std::string()> make;  // the path to import
        const char* said;
    };
    const Case cases[] = {
        {"a folder",
         [&] {
             ::mkdir(runtime.File("folder").c_str(), 0755);
             return runtime.File("folder");
         },
         "is a folder"},
        {"a FIFO without a writer",
         [&] {
             ::mkfifo(runtime.File("fifo").c_str(), 0644);
             return runtime.File("fifo");
         },
         "is not a regular file"},
        {"a device", [] { return std::string("/dev/zero"); }, "is not a regular file"},
        {"an empty file",
         [&] {
             WriteFile(runtime.File("empty.ini"), "");
             return runtime.File("empty.ini");
         },
         "holds no section"},
        {"a file far too large",
         [&] {
             WriteFile(runtime.File("large.ini"), std::string(70 * 1024, '#'));
             return runtime.File("large.ini");
         },
         "is larger than"},
        {"three references at one point",
         [&] {
             WriteFile(runtime.File("point.ini"),
                       references("SA = 0.1\nSB = 0.1", "SA = 0.1\nSB = 0.1"));
             return runtime.File("point.ini");
         },
         "the calibration is unusable"},
        {"a reference of 3e38",
         [&] {
             WriteFile(runtime.File("far.ini"), references("SA = 3e38", "SB = 0.9"));
             return runtime.File("far.ini");
         },
         "outside -1..2"},
        {"a control byte in a value",
         [&] {
             WriteFile(runtime.File("escape.ini"), "[Sense/State]\nCoarseRange = 1\x1b[2J\n");
             return runtime.File("escape.ini");
         },
         "\\x1b[2J"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result import = Kvctl("import", "'" + c.make() + "' --settings '" + settings + "'");
        EXPECT_EQ(import.status, 2) << import.err;
        EXPECT_NE(import.err.find(c.said), std::string::npos) << import.err;
        EXPECT_NE(import.err.find("nothing was changed"), std::string::npos) << import.err;
        EXPECT_EQ(import.err.find('\x1b'), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(settings));
    }
    StopDriver();
}

// A calibration reset and an import with a calibration go through DRIVER.INI and a reload;
// what the driver had not saved yet stays as it was, unsaved.
TEST_F(TuningImport, AReloadKeepsTheSettingsTheDriverHadNotSaved) {
    const std::string settings = install.File("DRIVER.INI");
    WriteFile(settings, "Sense_State_CoarseRange=12\r\nCalib_Ref_TL_SA=0.25\r\n");
    StartInstalledDriver();
    ASSERT_EQ(Kvctl("set Sense/State CoarseRange=33", "").status, 0);

    const Result reset = Kvctl("calibration reset", "--settings '" + settings + "'");
    ASSERT_EQ(reset.status, 0) << reset.err;
    EXPECT_EQ(FieldOf("Sense/State", "CoarseRange"), "33");
    EXPECT_EQ(FieldOf("Calib/Ref_TL", "SA"), "0.1");
    EXPECT_EQ(ValueOf(ReadFile(settings), "Sense_State_CoarseRange"), "12");  // still unsaved

    const std::string tuning = runtime.File("tuning.ini");
    WriteFile(tuning, "[Edge/State]\nTop = 40\n[Calib/Ref_TL]\nSA = 0.2\n");
    const Result import = Kvctl("import", "'" + tuning + "' --settings '" + settings + "'");
    ASSERT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(FieldOf("Sense/State", "CoarseRange"), "33");
    EXPECT_EQ(FieldOf("Edge/State", "Top"), "40");
    EXPECT_EQ(FieldOf("Calib/Ref_TL", "SA"), "0.2");
    StopDriver();
}

// A driver that cannot save says so on stderr once, without --verbose, and every command that
// asked for the save exits with 1; once the file can be written again, the save works.
TEST_F(TuningImport, AFailedSaveIsSaidOnceAndNoCommandCallsItASuccess) {
    StartDriver(kv::test::InstallDriver(install), {"--link=scripted"});
    const std::string settings = install.File("DRIVER.INI");
    ASSERT_EQ(::mkdir(settings.c_str(), 0755), 0);
    const std::string tuning = runtime.File("tuning.ini");
    WriteFile(tuning, "[Edge/State]\nTop = 40\n");
    const std::string commands[] = {"save", "save", "set Sense/State CoarseRange=20 --save",
                                    "import '" + tuning + "'"};
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const Result run = Kvctl(command, "");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("could not save its settings"), std::string::npos) << run.err;
    }
    const std::string said = ReadFile(runtime.File("driver-err"));
    EXPECT_EQ(Count(said, "could not save settings"), 1u) << said;
    EXPECT_NE(said.find("is a folder, not a file"), std::string::npos) << said;

    ASSERT_EQ(::rmdir(settings.c_str()), 0);
    const Result save = Kvctl("save", "");
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(ValueOf(ReadFile(settings), "Sense_State_CoarseRange"), "20");
    EXPECT_EQ(ValueOf(ReadFile(settings), "Edge_State_Top"), "40");
    StopDriver();
}

// An import stopped at any moment (the driver's unit stopped, SIGTERM) leaves DRIVER.INI with the
// whole import or none of it, and kvctl says success only for the whole.
TEST_F(TuningImport, AnImportCutShortByAStopLeavesAllOfItOrNone) {
    const std::string settings = install.File("DRIVER.INI");
    const std::string tuning = runtime.File("tuning.ini");
    WriteFile(tuning,
              "[Sense/State]\nCoarseRange = 30\n[Edge/State]\nTop = 50\n"
              "[Calib/Ref_TL]\nSA = 0.2\n");
    const char* keys[] = {"Sense_State_CoarseRange", "Edge_State_Top", "Calib_Ref_TL_SA"};
    const std::vector<std::string> before = {"12", "10", "0.11"};
    const std::vector<std::string> after = {"30", "50", "0.2"};
    const std::string program = kv::test::InstallDriver(install);
    int whole = 0, none = 0;
    for (const int delayMs : {0, 300, 700, 1000, 1300, 1700, 2200, 3000}) {
        SCOPED_TRACE(delayMs);
        WriteFile(settings,
                  "Sense_State_CoarseRange=12\r\nEdge_State_Top=10\r\nCalib_Ref_TL_SA=0.11\r\n");
        StartDriver(program, {"--link=scripted"});
        Process import(kTool,
                       {"import", tuning, "--settings", settings, "--port", std::to_string(port)},
                       {}, runtime.File("import-out"), runtime.File("import-err"));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        driver->Signal(SIGTERM);
        EXPECT_EQ(driver->Wait(kv::test::kWaitMs), 0);
        const std::optional<int> status = import.Wait(kv::test::kWaitMs);
        ASSERT_TRUE(status.has_value());
        const std::string text = ReadFile(settings);
        std::vector<std::string> values;
        for (const char* key : keys) {
            values.push_back(ValueOf(text, key));
        }
        EXPECT_TRUE(values == before || values == after) << text;
        whole += values == after;
        none += values == before;
        const std::string err = ReadFile(runtime.File("import-err"));
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
