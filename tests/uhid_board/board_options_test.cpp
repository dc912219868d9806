// uhid-board's command line: one source, cues only where they make sense, bounded seconds.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "tests/rigs/uhid-board/board_options.h"

using namespace kv::uhidboard;

namespace {

ParsedBoardOptions Parse(std::initializer_list<const char*> arguments) {
    std::vector<const char*> argv{"uhid-board"};
    argv.insert(argv.end(), arguments);
    return ParseBoardOptions(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(BoardOptions, ScenarioWithWaitAndLinger) {
    const auto parsed = Parse({"--scenario=demo", "--wait-open", "--linger=2.5", "--verbose"});
    ASSERT_EQ(parsed.action, BoardAction::Run) << parsed.message;
    EXPECT_EQ(parsed.options.scenario, "demo");
    EXPECT_TRUE(parsed.options.recording.empty());
    EXPECT_EQ(parsed.options.waitOpen, 60.0);
    EXPECT_EQ(parsed.options.linger, 2.5);
    EXPECT_TRUE(parsed.options.verbose);
    EXPECT_EQ(parsed.options.uhidPath, "/dev/uhid");
}

TEST(BoardOptions, RecordingWithCues) {
    const auto parsed = Parse({"--recording=a.hid", "--unplug-at=3", "--replug-at=4.5",
                               "--wait-open=10", "--uhid=/tmp/u"});
    ASSERT_EQ(parsed.action, BoardAction::Run) << parsed.message;
    EXPECT_EQ(parsed.options.recording, "a.hid");
    EXPECT_EQ(parsed.options.unplugAt, 3.0);
    EXPECT_EQ(parsed.options.replugAt, 4.5);
    EXPECT_EQ(parsed.options.waitOpen, 10.0);
    EXPECT_EQ(parsed.options.uhidPath, "/tmp/u");
}

TEST(BoardOptions, ExactlyOneSource) {
    EXPECT_EQ(Parse({}).action, BoardAction::Fail);
    EXPECT_EQ(Parse({"--scenario=demo", "--recording=a.hid"}).action, BoardAction::Fail);
    EXPECT_EQ(Parse({"--scenario="}).action, BoardAction::Fail);
}

TEST(BoardOptions, CuesBelongToRecordingsAndComeInOrder) {
    EXPECT_EQ(Parse({"--scenario=demo", "--unplug-at=1"}).action, BoardAction::Fail);
    EXPECT_EQ(Parse({"--recording=a", "--replug-at=1"}).action, BoardAction::Fail);
    EXPECT_EQ(Parse({"--recording=a", "--unplug-at=2", "--replug-at=1"}).action, BoardAction::Fail);
    EXPECT_EQ(Parse({"--recording=a", "--unplug-at=2"}).action, BoardAction::Run);
}

TEST(BoardOptions, SecondsMustBeNumbersInRange) {
    for (const char* bad : {"--linger=-1", "--linger=abc", "--linger=", "--linger",
                            "--wait-open=1e9", "--unplug-at=nan", "--linger=2s"}) {
        EXPECT_EQ(Parse({"--scenario=demo", bad}).action, BoardAction::Fail) << bad;
    }
}

TEST(BoardOptions, HelpAndUnknownOptions) {
    EXPECT_EQ(Parse({"--help"}).action, BoardAction::Help);
    const auto parsed = Parse({"--scenario=demo", "--bogus"});
    EXPECT_EQ(parsed.action, BoardAction::Fail);
    EXPECT_NE(parsed.message.find("--bogus"), std::string::npos);
}
