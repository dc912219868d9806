// CONTROLLER.INI on arbitrary bytes: look-ups never fail, and a write of a key reads back as
// written. Where the key was there, only its value changes; every other byte stays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "controller/models/profile_file.h"

namespace {

// The first bytes choose the section, key and value; the rest is the file.
std::string_view Take(std::string_view& input) {
    if (input.empty()) {
        return {};
    }
    const size_t length = static_cast<uint8_t>(input.front()) % 12;
    input.remove_prefix(1);
    const std::string_view part = input.substr(0, length);
    input.remove_prefix(part.size());
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kv::controller;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view section = Take(input);
    const std::string_view key = Take(input);
    const std::string_view value = Take(input);
    const std::string_view file = input;

    const auto before = FindProfileValue(file, section, key);
    (void)LookupProfileInt(file, section, key, -1);
    (void)LookupProfileInt(file, "GENERAL", "LANG", 19);

    std::string text(file);
    if (!WriteProfileString(text, section, key, value)) {
        if (IsStorableProfileEntry(section, key, value) || text != file) {
            std::abort();  // refused a storable entry, or changed the text while refusing
        }
        return 0;
    }
    const auto after = LookupProfileString(text, section, key);
    if (!after || *after != value) {
        std::abort();
    }
    if (before) {
        const std::string_view changed = text;
        const size_t tail = file.size() - before->end;
        if (changed.substr(0, before->begin) != file.substr(0, before->begin) ||
            changed.size() != before->begin + value.size() + tail ||
            changed.substr(changed.size() - tail) != file.substr(before->end)) {
            std::abort();
        }
    } else {
        // A new key or section is one run of bytes inserted into the file as it was.
        size_t prefix = 0;
        while (prefix < file.size() && text[prefix] == file[prefix]) {
            ++prefix;
        }
        size_t suffix = 0;
        while (suffix < file.size() - prefix &&
               text[text.size() - 1 - suffix] == file[file.size() - 1 - suffix]) {
            ++suffix;
        }
        if (text.size() <= file.size() || prefix + suffix != file.size()) {
            std::abort();
        }
    }
    return 0;
}
