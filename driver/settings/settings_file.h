// DRIVER.INI: the driver's settings, one key=value line per record field, beside the
// executable or in the user's configuration folder (common/file_locations.h). Reading copies
// values into the registry records and publishes them; writing copies the records' current values
// out.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/file_locations.h"
#include "driver/core/settings_store.h"
#include "driver/core/verbose_log.h"
#include "protocol/registry.h"
#include "protocol/setting_fields.h"

namespace kv {

constexpr int kSettingsKeys = static_cast<int>(kSettingFields.size());
constexpr const char* kSettingsFileName = "DRIVER.INI";

// DRIVER.INI in the settings folder of the running executable: beside it when its folder is
// writable, else in the user's configuration folder (made on the first save).
std::string DefaultSettingsPath();

// One key's value, as its field holds it.
using SettingsValue = FieldValue;
// The 55 values in writing order, copied out of the records at one moment, so that they can
// be written later, elsewhere, while the records move on.
using SettingsSnapshot = std::array<SettingsValue, kSettingsKeys>;

SettingsSnapshot TakeSettingsSnapshot(const Registry& registry);
// The file's whole text for the values: 55 lines in writing order, CR LF.
std::string FormatSettings(const SettingsSnapshot& values);
// The file's whole text for the records' current values.
std::string FormatSettings(const Registry& registry);
// Copies the values of text's lines into their fields: CR LF or bare LF ends, a line that
// begins with no key changes nothing, a later line for a key wins. A value out of range
// (protocol/record_ranges.h) leaves its field as it was and says so in log.
void ApplySettingsText(std::string_view text, Registry& registry, const VerboseLog* log = nullptr);
// Publishes the twelve records a read may change, in their fixed order.
void PublishSettingsRecords(Registry& registry);

// A tuning is a few KiB; a file beyond this is not a settings file.
constexpr size_t kMaxSettingsBytes = 256 * 1024;

enum class SettingsRead {
    Read,
    Missing,
    // Not read at all (a folder, a FIFO, a read error, too large): nothing was changed.
    Refused,
};
// Fills the records from the file as ApplySettingsText does and publishes them. A file that
// is missing or cannot be read whole changes nothing; error then says why. The file is opened
// without blocking and only a regular file is read.
SettingsRead ReadSettingsFile(const std::string& path, Registry& registry,
                              const VerboseLog* log = nullptr, std::string* error = nullptr);
struct SettingsWriteResult {
    bool ok = false;
    // No temporary file could be made beside the file, so it was rewritten in place.
    bool inPlace = false;
    // Why the write failed, or why it had to be done in place.
    std::string detail;
};

// Replaces the file with text, safely against a crash: a temporary file beside it, flushed to
// disk and renamed over it, so a failure leaves the old file whole. A symbolic link is
// followed and its target replaced; the file keeps its mode and, where permitted, its owner.
// Where no temporary file can be created (a folder the driver may not write to, holding a file
// it may), the file is truncated and rewritten in place instead.
SettingsWriteResult WriteSettingsText(const std::string& path, std::string_view text);
// Removes the temporary files "<target>.tmp<pid>" that a save of a process no longer running
// left beside target (it was killed between creating and renaming one); returns how many.
// WriteSettingsText calls it before each write.
int SweepStaleSettingsTemporaries(const std::string& target);
// WriteSettingsText with the records' current values; on failure says why in error.
bool WriteSettingsFile(const std::string& path, const Registry& registry, std::string* error);

class SettingsSaver;

// DRIVER.INI as the main loop's store. A save only copies the values; a worker thread writes
// them, so a slow disk never holds up a frame. Saves that arrive while one is being written
// are coalesced into one write of the latest values.
class SettingsFile final : public SettingsStore {
public:
    SettingsFile(std::string path, const VerboseLog& log);
    // Finishes any save still pending or being written: the driver's last save reaches the
    // disk before the process ends.
    ~SettingsFile() override;
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::string& Path() const { return path_; }
    // Waits for our own pending writes first, so it never reads a half-written file.
    void Load(Registry& registry) override;
    // Takes the values now and hands them to the worker; true once they are queued.
    bool Save(const Registry& registry) override;
    // Returns when every save handed over so far is on disk (or has failed).
    void Flush();
    std::optional<bool> TakeSaveOutcome() override;

private:
    void Write(const SettingsSnapshot& values);
    // A failed save is said on stderr always, once per cause; a save that succeeds again
    // after failures says so too.
    void Report(bool ok, const std::string& line);

    std::string path_;
    const VerboseLog& log_;
    // The saver's worker writes these, the main loop takes the outcome.
    std::string lastFailure_;
    enum : int { kNoOutcome, kSaved, kNotSaved };
    std::atomic<int> outcome_{kNoOutcome};
    std::unique_ptr<SettingsSaver> saver_;
};

}  // namespace kv
