// Writing the small text files kvctl makes: the metrics file node-exporter's textfile collector
// reads (replaced in one step, so that it sees the old file or the new one, never half of one)
// and the file a user names for kvctl export.
#pragma once

#include <string>
#include <string_view>

namespace kv::kvctl {

inline constexpr const char* kMetricsFile = "kelvarin.prom";

// Temporary files of an earlier run older than this were left by a kvctl that was killed; a
// younger one may belong to a run still writing.
inline constexpr int kLeftoverAgeSeconds = 60;

// Writes text to a temporary file in folder (a dot name the collector skips), flushes it to
// disk and renames it over folder/name: whatever is at folder/name, a link included, is
// replaced and never followed. The file is 0644, for a collector running as another user.
// Temporary files that killed runs left in folder are removed first. False, with the reason,
// when any step fails; no temporary file of this run is left then.
bool WriteFileAtomically(const std::string& folder, const std::string& name, std::string_view text,
                         std::string& error);

// Writes text to the file at path as its user expects:
// - a regular file, or a link to one, is replaced in one step with the file's mode, owner and
//   group (a link stays a link); where that cannot be done (another owner, a read-only
//   folder, more than one name for the file) the file is rewritten in place;
// - nothing at path: a new file, with the mode 0666 less the umask;
// - a terminal, a device such as /dev/null, a FIFO, or a process's descriptor (/dev/stdout,
//   /proc/self/fd/1, whatever it leads to) is written through, never replaced;
// - a folder, a block device, a socket or a link to nothing is refused.
// False, with the reason, when the file cannot be written.
bool WriteUserFile(const std::string& path, std::string_view text, std::string& error);

}  // namespace kv::kvctl
