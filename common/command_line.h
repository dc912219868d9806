// Reading hand-written command lines: options as "--name=value" or "--name value", and the
// numbers they carry. Each program keeps its own option names and messages.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kv {

// One command-line word read as an option. A word that begins with "--" and holds '=' is
// "--name=value", split at the first '=' (the value may be empty); any other word is all name.
struct OptionWord {
    std::string_view name;   // as written, dashes included
    std::string_view value;  // after the '='
    bool hasValue = false;   // whether the word held "=value"
};

OptionWord SplitOption(std::string_view word);

// The words of a command line, read front to back.
class CommandLine {
public:
    // argv[1] to argv[argc - 1]; the program's name is not a word of it.
    CommandLine(int argc, const char* const* argv);
    explicit CommandLine(std::vector<std::string_view> words) : words_(std::move(words)) {}

    bool AtEnd() const { return next_ >= words_.size(); }
    // The next word, split as an option; only when !AtEnd().
    OptionWord Next();
    // The word Next() returned last, as written.
    std::string_view Word() const { return words_[next_ - 1]; }
    // The value of an option that takes one: the one after its '=', else the next word, taken
    // whatever it looks like ("--layout --seconds" gives --layout the value "--seconds").
    // Nothing when the option was the last word.
    std::optional<std::string_view> ValueOf(const OptionWord& option);

private:
    std::vector<std::string_view> words_;
    size_t next_ = 0;
};

// The whole text as a decimal number of type T, as std::from_chars reads it: no blanks, no
// '+', no sign for unsigned types, no hex prefix. Nothing for anything else, and for a value
// out of T's range.
template <class T>
std::optional<T> ParseDecimal(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// A UDP port, 0 to 65535, in decimal.
std::optional<uint16_t> ParsePort(std::string_view text);

}  // namespace kv
