// Where the main loop keeps its settings, and the values they have before any are read. The
// main loop needs only this; the settings file behind it belongs to the program.
#pragma once

#include <optional>

#include "protocol/registry.h"

namespace kv {

// The values fields have before any file is read: the calibration reference presets, and for
// the fields only the file sets, the records' reset values where they have them (Delay 20,
// every pointer enabled), zero or false elsewhere.
void ApplySettingsDefaults(Registry& registry);

// Where the main loop loads and saves; tests count or fail the calls.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Reads the settings into the records and publishes them.
    virtual void Load(Registry& registry) = 0;
    // Stores the records' current values; false when they cannot be stored.
    virtual bool Save(const Registry& registry) = 0;
    // Whether the latest save that finished since the last call reached the disk; nothing when
    // none finished. A store that saves at once says so through Save alone.
    virtual std::optional<bool> TakeSaveOutcome() { return std::nullopt; }
};

}  // namespace kv
