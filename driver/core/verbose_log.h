// The driver's optional narration on stderr (--verbose): link changes, settings reads and
// writes, received commands. Silent by default; never written to a file. Warnings (a settings
// file that cannot be read or written) are said with or without --verbose.
#pragma once

#include <cstdio>
#include <string_view>

namespace kv {

class VerboseLog {
public:
    explicit VerboseLog(bool enabled, std::FILE* out = stderr) : enabled_(enabled), out_(out) {}

    bool Enabled() const { return enabled_; }
    // One line, prefixed with the program name.
    void Say(std::string_view line) const;
    // One line, prefixed with the program name, whether or not the log is enabled.
    void Warn(std::string_view line) const;

private:
    bool enabled_;
    std::FILE* out_;
};

}  // namespace kv
