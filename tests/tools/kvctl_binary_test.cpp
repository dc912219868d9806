// The real kvctl program: exit statuses, streams and a pipe from encode into decode.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/process_support.h"
#include "tests/tools/json_reader.h"

namespace {

using kv::test::RunShell;
using kv::test::ShellResult;

const std::string kTool = KVCTL_PATH;

TEST(KvctlProgram, EncodePipedIntoDecode) {
    const ShellResult r = RunShell("'" + kTool + "' encode Comms/ReqState MuxSize=40 | '" + kTool +
                                   "' decode - 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto lines = kvtest::JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    ASSERT_TRUE(lines[0].has_value()) << r.output;
    EXPECT_EQ((*lines[0])["record"].text, "Comms/ReqState");
    EXPECT_EQ((*lines[0])["fields"]["MuxSize"].text, "40");
}

TEST(KvctlProgram, FailuresExitWithTwoAndSayWhyOnStandardError) {
    const ShellResult bad =
        RunShell("'" + kTool + "' encode Comms/ReqState MuxSize=abc 2>&1 >/dev/null");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("MuxSize"), std::string::npos) << bad.output;

    // A malformed line is reported on stderr; the good lines around it still decode.
    const ShellResult mixed =
        RunShell("printf '00ff02d20400000b000000\\nxyz\\n\\n00ff02b31500000b000000\\n' | '" +
                 kTool + "' decode - 2>/dev/null");
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(kvtest::JsonLines(mixed.output).size(), 2u) << mixed.output;
    const ShellResult message =
        RunShell("printf 'xyz\\n' | '" + kTool + "' decode - 2>&1 >/dev/null");
    EXPECT_NE(message.output.find("line 1"), std::string::npos) << message.output;

    EXPECT_EQ(RunShell("'" + kTool + "' frobnicate 2>/dev/null").status, 2);
    EXPECT_EQ(RunShell("'" + kTool + "' 2>/dev/null").status, 2);
}

TEST(KvctlProgram, HelpDocumentsEveryCommand) {
    const ShellResult help = RunShell("'" + kTool + "' --help");
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"kvctl table", "kvctl encode", "kvctl decode", "--from", "--valid",
                             "--seq", "--tag", "Values[i]", "Lines[i]", "null"}) {
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    }
    const ShellResult one = RunShell("'" + kTool + "' encode --help");
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.output.find("FIELD=VALUE"), std::string::npos);
}

// Man pages and package checks take the version from here.
TEST(KvctlProgram, VersionPrintsNameAndProjectVersion) {
    const ShellResult version = RunShell("'" + kTool + "' --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "kvctl " KV_VERSION "\n");
}

}  // namespace
