// The real kvctl program: exit statuses, streams and a pipe from encode into decode.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/tools/json_reader.h"

namespace {

struct Result {
    int status = -1;
    std::string output;
};

// Runs a shell command line; standard error is dropped unless the line redirects it.
Result Shell(const std::string& commandLine) {
    Result result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << commandLine;
        return result;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const std::string kTool = KVCTL_PATH;

TEST(KvctlProgram, EncodePipedIntoDecode) {
    const Result r = Shell("'" + kTool + "' encode Comms/ReqState MuxSize=40 | '" + kTool +
                           "' decode - 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto lines = kvtest::JsonLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    ASSERT_TRUE(lines[0].has_value()) << r.output;
    EXPECT_EQ((*lines[0])["record"].text, "Comms/ReqState");
    EXPECT_EQ((*lines[0])["fields"]["MuxSize"].text, "40");
}

TEST(KvctlProgram, FailuresExitWithTwoAndSayWhyOnStandardError) {
    const Result bad = Shell("'" + kTool + "' encode Comms/ReqState MuxSize=abc 2>&1 >/dev/null");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("MuxSize"), std::string::npos) << bad.output;

    // A malformed line is reported on stderr; the good lines around it still decode.
    const Result mixed =
        Shell("printf '00ff02d20400000b000000\\nxyz\\n\\n00ff02b31500000b000000\\n' | '" + kTool +
              "' decode - 2>/dev/null");
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(kvtest::JsonLines(mixed.output).size(), 2u) << mixed.output;
    const Result message = Shell("printf 'xyz\\n' | '" + kTool + "' decode - 2>&1 >/dev/null");
    EXPECT_NE(message.output.find("line 1"), std::string::npos) << message.output;

    EXPECT_EQ(Shell("'" + kTool + "' frobnicate 2>/dev/null").status, 2);
    EXPECT_EQ(Shell("'" + kTool + "' 2>/dev/null").status, 2);
}

TEST(KvctlProgram, HelpDocumentsEveryCommand) {
    const Result help = Shell("'" + kTool + "' --help");
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"kvctl table", "kvctl encode", "kvctl decode", "--from", "--valid",
                             "--seq", "--tag", "Values[i]", "Lines[i]", "null"}) {
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    }
    const Result one = Shell("'" + kTool + "' encode --help");
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.output.find("FIELD=VALUE"), std::string::npos);
}

// Man pages and package checks take the version from here.
TEST(KvctlProgram, VersionPrintsNameAndProjectVersion) {
    const Result version = Shell("'" + kTool + "' --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "kvctl " KV_VERSION "\n");
}

}  // namespace
