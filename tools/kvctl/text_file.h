// Replacing a small text file in one step, so that a reader (node-exporter's textfile
// collector) sees the old file or the new one, never half of one.
#pragma once

#include <string>
#include <string_view>

namespace kv::kvctl {

inline constexpr const char* kMetricsFile = "kelvarin.prom";

// Writes text to a temporary file in folder (a name the collector skips), flushes it to disk
// and renames it over folder/name. False, with the reason, when any step fails; no temporary
// file is left then.
bool WriteFileAtomically(const std::string& folder, const std::string& name, std::string_view text,
                         std::string& error);

}  // namespace kv::kvctl
