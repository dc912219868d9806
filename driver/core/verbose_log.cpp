// Writes the --verbose lines.
#include "driver/core/verbose_log.h"

namespace kv {

void VerboseLog::Say(std::string_view line) const {
    if (enabled_) {
        Warn(line);
    }
}

void VerboseLog::Warn(std::string_view line) const {
    if (out_ == nullptr) {
        return;
    }
    std::fprintf(out_, "Driver: %.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(out_);
}

}  // namespace kv
