// FIELD=VALUE checks, option errors and the table command.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/kvctl/commands.h"
#include "tools/kvctl/field_assign.h"

namespace {

using kv::kvctl::Arguments;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunCommand(int (*command)(const Arguments&, kv::kvctl::CommandIo&), Arguments args,
                   const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    kv::kvctl::CommandIo io{in, out, err};
    Outcome run;
    run.status = command(args, io);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Every refusal: exit 2, nothing on standard output, and a message naming the problem.
void ExpectRefused(Arguments args, const std::string& mention) {
    const Outcome run = RunCommand(kv::kvctl::RunEncode, args);
    EXPECT_EQ(run.status, 2) << mention;
    EXPECT_EQ(run.out, "") << mention;
    EXPECT_NE(run.err.find(mention), std::string::npos) << "stderr: " << run.err;
}

TEST(KvctlFieldAssign, BadFieldNamesAreRefused) {
    ExpectRefused({"Comms/ReqState", "Muxsize=40"}, "'Muxsize'");
    ExpectRefused({"Comms/ReqState", "Muxsize=40"}, "MuxSize");  // the real names are listed
    ExpectRefused({"Driver/DoStop", "Present=1"}, "no fields");
    ExpectRefused({"Comms/ReqState", "=40"}, "missing field name");
    ExpectRefused({"Comms/ReqState", "size=3"}, "size");
    ExpectRefused({"Monitor/Queue", "entry_index=3"}, "--tag");
    ExpectRefused({"Comms/ReqState", "MuxSize[0]=3"}, "not an array");
    ExpectRefused({"Graph/State0", "Values=1.5"}, "Values[i]");
    ExpectRefused({"Graph/State0", "Values[256]=1.5"}, "Values[0..255]");
    ExpectRefused({"Graph/State0", "Values[-1]=1.5"}, "Values[0..255]");
    ExpectRefused({"Graph/State0", "Values[x]=1.5"}, "NAME[i]");
    ExpectRefused({"Copyright/State", "Lines[10]=x"}, "Lines[0..9]");
}

TEST(KvctlFieldAssign, BadValuesAreRefused) {
    ExpectRefused({"Comms/ReqState", "MuxSize=forty"}, "integer");
    ExpectRefused({"Comms/ReqState", "MuxSize=2147483648"}, "integer");
    ExpectRefused({"Comms/ReqState", "MuxSize=4.5"}, "integer");
    ExpectRefused({"Comms/ReqState", "MuxSize="}, "integer");
    ExpectRefused({"Comms/ReqState", "Open=yes"}, "true, false, 1 or 0");
    ExpectRefused({"Mouse/Damp", "SnapRange=0,1"}, "decimal");
    ExpectRefused({"Mouse/Damp", "SnapRange=nan"}, "decimal");
    ExpectRefused({"Mouse/Damp", "SnapRange=1e39"}, "decimal");
    ExpectRefused({"Driver/State", "State=10"}, "one character");
}

TEST(KvctlFieldAssign, UsageErrors) {
    ExpectRefused({}, "which record");
    ExpectRefused({"Comms/Nothing"}, "Comms/Nothing");
    ExpectRefused({"MuxSize=40"}, "record");
    ExpectRefused({"Comms/ReqState", "MuxSize"}, "FIELD=VALUE");
    ExpectRefused({"Comms/ReqState", "--from", "board"}, "driver or controller");
    ExpectRefused({"Comms/ReqState", "--seq"}, "--seq");
    ExpectRefused({"Comms/ReqState", "--tag", "seven"}, "--tag");
    ExpectRefused({"Comms/ReqState", "--verbose"}, "--verbose");
    ExpectRefused({"hello", "--seq", "1"}, "hello");
    EXPECT_EQ(RunCommand(kv::kvctl::RunDecode, {}).status, 2);
    EXPECT_EQ(RunCommand(kv::kvctl::RunTable, {"extra"}).status, 2);
}

TEST(KvctlFieldAssign, OptionsInEitherForm) {
    const Outcome a =
        RunCommand(kv::kvctl::RunEncode, {"Calib/DoStart", "--valid=1", "--seq", "-1"});
    const Outcome b =
        RunCommand(kv::kvctl::RunEncode, {"--seq=0xffffffff", "Calib/DoStart", "--valid", "1"});
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    // event valid 1 at bytes 79..82, sequence -1 at 83..86
    EXPECT_EQ(a.out.substr(79 * 2, 16), "01000000ffffffff");
}

TEST(KvctlFieldAssign, ValueParsers) {
    using kv::kvctl::ParseFlag;
    using kv::kvctl::ParseInt;
    using kv::kvctl::ParseReal;
    EXPECT_EQ(ParseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseInt("2147483648"), std::nullopt);
    EXPECT_EQ(ParseInt("0x10"), 16);
    EXPECT_EQ(ParseInt("0xFFFFFFFF"), -1);
    EXPECT_EQ(ParseInt("0x100000000"), std::nullopt);
    EXPECT_EQ(ParseInt("12a"), std::nullopt);
    EXPECT_EQ(ParseInt("-"), std::nullopt);
    EXPECT_EQ(ParseReal("+2.5"), 2.5f);
    EXPECT_EQ(ParseReal("-0.07"), -0.07f);
    EXPECT_EQ(ParseReal("1e-3"), 0.001f);
    EXPECT_EQ(ParseReal("inf"), std::nullopt);
    EXPECT_EQ(ParseReal("1.5x"), std::nullopt);
    EXPECT_EQ(ParseReal(""), std::nullopt);
    EXPECT_EQ(ParseFlag("true"), true);
    EXPECT_EQ(ParseFlag("0"), false);
    EXPECT_EQ(ParseFlag("True"), std::nullopt);
}

TEST(KvctlTable, OneLinePerEntryWithEveryColumn) {
    const Outcome run = RunCommand(kv::kvctl::RunTable, {});
    ASSERT_EQ(run.status, 0);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        rows.emplace_back();
        for (std::string word; words >> word;) {
            rows.back().push_back(word);
        }
    }
    ASSERT_EQ(rows.size(), 38u);
    const std::vector<std::string> monitor = {"35",           "7141",  "QUEUE", "Monitor", "Queue",
                                              "MonitorQueue", "11520", "1",     "0"};
    const std::vector<std::string> reqState = {"13",        "949", "OBJECT", "Comms", "ReqState",
                                               "CommState", "21",  "1",      "1"};
    const std::vector<std::string> doStop = {"1",        "8", "EVENT", "Driver", "DoStop",
                                             "SetValue", "0", "0",     "1"};
    const std::vector<std::string> end = {"38",       "19898", "END", "-", "-",
                                          "SetValue", "0",     "0",   "0"};
    EXPECT_EQ(rows[34], monitor);
    EXPECT_EQ(rows[12], reqState);
    EXPECT_EQ(rows[0], doStop);
    EXPECT_EQ(rows[37], end);
    EXPECT_EQ(rows[20][5], "SenceState");  // the catalogue's own spelling
    for (const auto& row : rows) {
        EXPECT_EQ(row.size(), 9u);
    }
}

}  // namespace
