// Scenario files: what they accept, and errors that name the line and the cause.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "driver/sim/scenario.h"

using kv::sim::ParseScenario;
using kv::sim::ScenarioError;
using kv::sim::ScenarioEvent;

TEST(Scenario, ReadsEveryKeywordAndVerb) {
    const char* text =
        "# a comment line\n"
        "rate 50\n"
        "layout S40   # trailing comment\n"
        "noise 2\n"
        "seed 7\n"
        "width 0.9\n"
        "drift 0\n"
        "baseline 250\n"
        "at 1 down 1 0.25 0.75 40 2.8\n"
        "at 1.5 move 1 0.5 0.5 0.5\r\n"
        "at 2 hover 2 0 1\n"
        "at 2.5 up 1\n"
        "at 3 unplug\n"
        "at 4 replug\n"
        "at 5 end\n"
        "loop\n"
        "profile finger 1.2 0.4\ngain 0.2\ncommon 3\nhum 4 60\nrise -12\n"
        "dead y 3\nnoisy x 5 2.5\ndead x 0\n";
    ScenarioError error;
    auto s = ParseScenario(text, error);
    ASSERT_TRUE(s) << error.Text();
    EXPECT_EQ(s->rate, 50);
    EXPECT_EQ(s->layout, "S40");
    EXPECT_EQ(s->noise, 2);
    EXPECT_EQ(s->seed, 7u);
    EXPECT_DOUBLE_EQ(s->width, 0.9);
    EXPECT_EQ(s->drift, 0);
    EXPECT_EQ(s->baseLow, 250);
    EXPECT_EQ(s->baseHigh, 250);
    EXPECT_TRUE(s->loop);
    EXPECT_EQ(s->profile, kv::sim::ProfileShape::Contact);
    EXPECT_EQ(std::vector<double>({s->contact, s->glass, s->gainSpread, s->common, s->humAmplitude,
                                   s->humHz, s->rise}),
              std::vector<double>({1.2, 0.4, 0.2, 3, 4, 60, -12}));
    ASSERT_EQ(s->dead.size(), 2u);
    EXPECT_TRUE(s->dead[0].axis == 1 && s->dead[0].index == 3 && s->dead[1].axis == 0);
    ASSERT_EQ(s->noisy.size(), 1u);
    EXPECT_TRUE(s->noisy[0].axis == 0 && s->noisy[0].index == 5 && s->noisy[0].sigma == 2.5);
    EXPECT_EQ(kv::sim::LiveLineParser().Parse("down 1 0.5 0.5 60 2.8", error)->size, 2.8);
    ASSERT_EQ(s->events.size(), 7u);
    EXPECT_EQ(s->events[0].verb, ScenarioEvent::Verb::Down);
    EXPECT_EQ(s->events[0].strength, 40);
    EXPECT_EQ(s->events[0].x, 0.25);
    EXPECT_EQ(s->events[0].y, 0.75);
    EXPECT_EQ(s->events[0].size, 2.8);
    EXPECT_EQ(s->events[2].size, 0) << "without a size, the profile's own width";
    EXPECT_EQ(s->events[1].verb, ScenarioEvent::Verb::Move);
    EXPECT_EQ(s->events[1].duration, 0.5);
    EXPECT_EQ(s->events[1].line, 10);
    EXPECT_EQ(s->events[2].verb, ScenarioEvent::Verb::Hover);
    EXPECT_LT(s->events[2].strength, 30) << "hover is weaker than a touch";
    EXPECT_EQ(s->events[6].verb, ScenarioEvent::Verb::End);
    EXPECT_EQ(s->Length(), 5);
}

TEST(Scenario, DefaultsWithoutKeywords) {
    ScenarioError error;
    auto s = ParseScenario("at 0 down 3 0.5 0.5\n", error);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rate, 100);
    EXPECT_EQ(s->noise, 0.5);
    EXPECT_EQ(s->seed, 1u);
    EXPECT_TRUE(s->layout.empty());
    EXPECT_EQ(s->events[0].strength, 30);
    EXPECT_EQ(s->profile, kv::sim::ProfileShape::Gaussian);
}

TEST(Scenario, ErrorsNameTheLineAndTheCause) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"rate 100\nfly 3\n", 2, "unknown keyword 'fly'"},
        {"at 1 jump 1 0 0\n", 1, "unknown verb 'jump'"},
        // The file's bytes are quoted printable: no terminal control reaches stderr.
        {"at 1 \x1b[2J 1 0 0\n", 1, "unknown verb '\\x1b[2J'"},
        {"\n\nat 1 down 1 1.5 0\n", 3, "x 1.5 is outside 0 to 1"},
        {"at 1 down 1 0.5\n", 1, "'down' takes 3 or 4 arguments, or 5 with a size"},
        {"at 1 hover 1 0 0 9 30\n", 1, "size 30 is outside 0.05 to 20"},
        {"at 2 down 1 0 0\nat 1 up 1\n", 2, "goes back"},
        {"at 1 move 4 0 0\n", 1, "finger 4 is not on the foil"},
        {"at 1 down 1 0 0\nat 2 up 1\nat 3 up 1\n", 3, "finger 1 is not on the foil"},
        {"layout Z99\n", 1, "unknown sensor model 'Z99'"},
        {"rate fast\n", 1, "rate is not a number: 'fast'"},
        {"rate 0\n", 1, "outside"},
        {"at 1 end\nat 2 down 1 0 0\n", 2, "nothing can follow 'end'"},
        {"at 1 down 99 0 0\n", 1, "finger 99 is outside"},
        {"seed -1\n", 1, "seed -1 is outside"},
        {"loop\n", 1, "'loop' needs events"},
        {"at x down 1 0 0\n", 1, "time is not a number"},
        {"layout\n", 1, "'layout' takes one value"},
        {"baseline\n", 1, "'baseline' takes one or two values"},
        {"noise\n", 1, "'noise' takes one value"},
        {"profile\n", 1, "'profile' takes gaussian, lorentzian or finger SIZE GLASS"},
        {"profile cauchy\n", 1, "unknown profile 'cauchy'"},
        {"profile finger 11 0.3\n", 1, "finger size 11 is outside 0.1 to 10"},
        {"profile finger 1 0\n", 1, "glass 0 is outside 0.01 to 5"},
        {"profile gaussian\nwidth 1\nprofile lorentzian\n", 3, "'profile' can be given only once"},
        {"gain 0.1 0.2\n", 1, "'gain' takes one value from 0 to 0.5"},
        {"gain 0.6\n", 1, "gain 0.6 is outside 0 to 0.5"},
        {"hum 5\n", 1, "'hum' takes an amplitude and a frequency"},
        {"hum 5 0.5\n", 1, "hum frequency 0.5 is outside 1 to 1000"},
        {"rise 101\n", 1, "rise 101 is outside -100 to 100"},
        {"dead x\n", 1, "'dead' takes an axis and an electrode"},
        {"dead z 3\n", 1, "axis is not x or y: 'z'"},
        {"noisy y 2\n", 1, "'noisy' takes an axis, an electrode and a noise"},
        {"noisy y 2 60\n", 1, "noise 60 is outside 0 to 50"},
        // Against the scenario's own layout, wherever in the file it is named.
        {"dead x 3\nnoisy y 40 2\nlayout B64\n", 2, "electrode y 40 is not on B64 (40 y"},
        {"layout S40\n\ndead x 24\n", 3, "electrode x 24 is not on S40 (24 x electrodes)"},
    };
    for (const Case& c : cases) {
        ScenarioError error;
        EXPECT_FALSE(ParseScenario(c.text, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message.find(c.says), std::string::npos)
            << c.text << " gave: " << error.message;
        EXPECT_EQ(error.Text().rfind("line " + std::to_string(c.line) + ": ", 0), 0u);
    }
}

TEST(Scenario, BuiltinsParse) {
    auto idle = kv::sim::BuiltinScenario("idle");
    ASSERT_TRUE(idle);
    EXPECT_TRUE(idle->events.empty());
    auto demo = kv::sim::BuiltinScenario("demo");
    ASSERT_TRUE(demo);
    EXPECT_TRUE(demo->loop);
    EXPECT_GT(demo->events.front().time, 4.0) << "the baseline settles before the first touch";
    EXPECT_FALSE(kv::sim::BuiltinScenario("nope"));
}

TEST(Scenario, LoadSaysWhenTheFileIsMissingOrNoFileAndNeverBlocks) {
    ScenarioError error;
    EXPECT_FALSE(kv::sim::LoadScenario("/nonexistent/file.scn", error));
    EXPECT_NE(error.message.find("cannot open"), std::string::npos);
    // A folder, and a FIFO nobody writes to (it held the driver's start for ever).
    const std::string fifo = ::testing::TempDir() + "scenario-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/tmp"), fifo}) {
        EXPECT_FALSE(kv::sim::LoadScenario(path, error)) << path;
        EXPECT_NE(error.message.find("not a"), std::string::npos) << error.message;
    }
    ::unlink(fifo.c_str());
}
