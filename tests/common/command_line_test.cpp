// The command-line helper the programs' option parsers share: where an option's value comes
// from, and which texts count as numbers and ports.
#include "common/command_line.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace kv {
namespace {

TEST(CommandLine, AnOptionTakesItsValueFromItsEqualsSignOrElseFromTheNextWord) {
    CommandLine words({"--port=", "--layout", "--seconds", "--seconds", "--scenario=a=b", "x=1",
                       "-t=2", "--timeout"});

    // "--port=" has a value, the empty one; the word after it is not taken.
    const OptionWord port = words.Next();
    EXPECT_EQ(port.name, "--port");
    EXPECT_TRUE(port.hasValue);
    EXPECT_EQ(words.ValueOf(port), std::optional<std::string_view>(""));

    // A value is taken whatever it looks like, even another option.
    const OptionWord layout = words.Next();
    EXPECT_FALSE(layout.hasValue);
    EXPECT_EQ(words.ValueOf(layout), std::optional<std::string_view>("--seconds"));
    const OptionWord seconds = words.Next();
    EXPECT_EQ(seconds.name, "--seconds");
    EXPECT_EQ(words.Word(), "--seconds");

    // Split at the first '=' only, and only in words that begin with "--".
    const OptionWord scenario = words.Next();
    EXPECT_EQ(scenario.name, "--scenario");
    EXPECT_EQ(scenario.value, "a=b");
    const OptionWord plain = words.Next();
    EXPECT_EQ(plain.name, "x=1");
    EXPECT_FALSE(plain.hasValue);
    EXPECT_EQ(words.Next().name, "-t=2");

    // An option that needs a value as the last word has none.
    const OptionWord timeout = words.Next();
    EXPECT_TRUE(words.AtEnd());
    EXPECT_EQ(words.ValueOf(timeout), std::nullopt);
    EXPECT_EQ(words.Word(), "--timeout");
}

TEST(CommandLine, ReadsArgvFromTheWordAfterTheProgramName) {
    const char* argv[] = {"Driver", "--verbose", "--port", "7"};
    CommandLine words(4, argv);
    EXPECT_EQ(words.Next().name, "--verbose");
    const OptionWord port = words.Next();
    EXPECT_EQ(words.ValueOf(port), std::optional<std::string_view>("7"));
    EXPECT_TRUE(words.AtEnd());

    CommandLine none(1, argv);
    EXPECT_TRUE(none.AtEnd());
}

TEST(CommandLine, NumbersAreWholeDecimalTextsWithinTheirType) {
    EXPECT_EQ(ParseDecimal<int>("42"), 42);
    EXPECT_EQ(ParseDecimal<int>("-7"), -7);
    EXPECT_EQ(ParseDecimal<double>("0.25"), 0.25);
    for (const char* refused : {"", " 1", "1 ", "+1", "0x10", "1x", "--1", "1.5"}) {
        EXPECT_EQ(ParseDecimal<int>(refused), std::nullopt) << "'" << refused << "'";
    }
    EXPECT_EQ(ParseDecimal<unsigned>("-1"), std::nullopt);
    EXPECT_EQ(ParseDecimal<int>(std::to_string(std::numeric_limits<int>::max()) + "0"),
              std::nullopt);
    EXPECT_EQ(ParseDecimal<double>("."), std::nullopt);

    EXPECT_EQ(ParsePort("0"), 0);
    EXPECT_EQ(ParsePort("65535"), 65535);
    for (const char* refused : {"65536", "-1", "", "port", "99999999999"}) {
        EXPECT_EQ(ParsePort(refused), std::nullopt) << "'" << refused << "'";
    }
}

}  // namespace
}  // namespace kv
