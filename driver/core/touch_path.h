// Which touch path the signal chain runs: the described one, or the one that keeps two fingers
// apart where their peaks merge and measures better on foils unlike the one it was tuned on.
#pragma once

#include <optional>
#include <string_view>

namespace kv {

enum class TouchPath { Classic, Precise };

constexpr std::optional<TouchPath> TouchPathOf(std::string_view name) {
    if (name == "classic") {
        return TouchPath::Classic;
    }
    if (name == "precise") {
        return TouchPath::Precise;
    }
    return std::nullopt;
}

}  // namespace kv
