// Reading hand-written command lines.
#include "common/command_line.h"

namespace kv {

OptionWord SplitOption(std::string_view word) {
    OptionWord option;
    option.name = word;
    if (const size_t equals = word.find('='); word.substr(0, 2) == "--" && equals != word.npos) {
        option.name = word.substr(0, equals);
        option.value = word.substr(equals + 1);
        option.hasValue = true;
    }
    return option;
}

CommandLine::CommandLine(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        words_.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
}

OptionWord CommandLine::Next() {
    return SplitOption(words_[next_++]);
}

std::optional<std::string_view> CommandLine::ValueOf(const OptionWord& option) {
    if (option.hasValue) {
        return option.value;
    }
    if (AtEnd()) {
        return std::nullopt;
    }
    return words_[next_++];
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    const auto value = ParseDecimal<unsigned>(text);
    if (!value || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(*value);
}

}  // namespace kv
