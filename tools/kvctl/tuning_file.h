// The tuning file of kvctl export and import: an INI text, one section per record named as
// kvctl names records ("[Sense/State]"), one "Field = value" line per setting, # comments.
// Only the settings that belong to a kind of installation are in it; the calibration
// references (which belong to one mounting) only when asked for.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/registry.h"
#include "protocol/setting_fields.h"

namespace kv::kvctl {

struct TuningSection {
    const char* record;       // "Sense/State"; the angle has a section of its own, "Calib/Angle"
    const char* comment;      // what the section holds, for the file's readers
    std::string_view object;  // the record its fields are in
    std::string_view topic;
    // Its fields and what each takes: the settings of that record in this share of a tuning
    // (protocol/setting_fields.h), in their DRIVER.INI order.
    std::vector<const SettingField*> settings;
    bool calibration;  // goes through DRIVER.INI, not the record (the driver keeps it)

    const SettingField* Find(std::string_view field) const;
};

// The sections in the order import sends them: the layout (split) before the channel count,
// the calibration sections last in the file but applied first by import.
const std::vector<TuningSection>& TuningSections();
const TuningSection* FindTuningSection(std::string_view record);

// Every wire field of the record by catalogue name, as text that AssignField reads back to
// the same value (reals in their shortest exact form).
std::map<std::string, std::string> FieldTexts(DataManipulation& record);

// What a field takes, as the file's readers are told: "0..50"; empty for every value.
std::string RangeText(const ValueCheck& check);

// The file's text for the records, with the calibration sections when asked.
std::string FormatTuning(Registry& records, bool withCalibration, std::string_view source);

struct TuningValue {
    int line;
    std::string field;
    std::string value;
};
struct TuningRecord {
    int line;  // of its section header
    const TuningSection* section;
    std::vector<TuningValue> values;
};
struct TuningText {
    std::vector<TuningRecord> records;  // in file order
    int errorLine = 0;                  // the first bad line, when error is set
    std::string error;
};

// Reads the file's structure: known sections, each once, fields of their section, each once,
// values present. The values' types and ranges are checked against a driver's records later.
TuningText ParseTuning(std::string_view text);

}  // namespace kv::kvctl
