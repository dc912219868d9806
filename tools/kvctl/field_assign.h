// FIELD=VALUE on a record: finds the field by its catalogue name and checks the value's type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/data_manipulation.h"

namespace kv::kvctl {

struct AssignOutcome {
    bool ok = false;
    std::string error;   // why the assignment was refused (ok is false)
    std::string notice;  // something the user should know although it was applied
};

// Applies one "FIELD=VALUE" to the record's wire fields. FIELD is a catalogue field name, or
// NAME[i] for an element of an array field (Values, Lines; 0-based). Integers are decimal or
// 0x-hex, reals decimal (finite), flags true/false/1/0, characters one byte, texts as given
// (cut to the field's width, with a notice). The leading size field cannot be set: it is
// always written as the class's payload size.
AssignOutcome AssignField(DataManipulation& record, std::string_view assignment);

// Points the field walk at what Send writes: a MonitorQueue frame carries the entry its tag
// selects, so assignments must land in that entry. Call after setting the tag.
void PrepareForAssignment(DataManipulation& record);

// The names of the record's wire fields in wire order, arrays as NAME[N], comma-separated.
std::string FieldList(DataManipulation& record);

// Value parsers shared with the command-line options.
std::optional<int32_t> ParseInt(std::string_view text);
std::optional<float> ParseReal(std::string_view text);
std::optional<bool> ParseFlag(std::string_view text);

}  // namespace kv::kvctl
