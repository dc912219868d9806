// Replacing a file's text safely against a crash: the text goes to a temporary file beside the
// file, is flushed to disk and renamed over it, so that whoever reads the file, after a crash
// too, finds the old text or the new, never part of either.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kv {

struct ReplaceOptions {
    // The temporary file; in the target's folder, so that the rename stays within one file
    // system. A name ending in "XXXXXX" is completed by mkostemp (the file is 0600 then, and not
    // inherited by programs started meanwhile). Any other is created as it is, with 0666 less the
    // umask, and never by opening what someone else put there; a regular file left under that name
    // is removed first.
    std::string temporary;
    // Set: the new file gets this owner and group if set, and then this mode (set-id bits
    // included), or the replace fails. Unset: it gets the target's owner and then its mode (a
    // change of owner may clear the set-id bits) where we may, and keeps what it was created with
    // where we may not.
    std::optional<mode_t> mode;
    std::optional<std::pair<uid_t, gid_t>> owner;
    // Flushes the folder after the rename, so that the rename itself survives a crash.
    bool syncFolder = false;
};

struct ReplaceResult {
    bool ok = false;
    // The temporary file could not be made: nothing was written anywhere.
    bool noTemporary = false;
    int error = 0;     // errno of the step that failed
    std::string what;  // that step: "cannot create <temporary>: <why>", "cannot rename ..."
};

// Writes text to the temporary file and renames it over target. On any failure the target is
// as it was and the temporary file is gone.
ReplaceResult ReplaceFileSafely(const std::string& target, std::string_view text,
                                const ReplaceOptions& options);

}  // namespace kv
