// Records as kvctl shows them: names, class names and JSON objects of header and fields.
#pragma once

#include <string>
#include <string_view>

#include "protocol/data_manipulation.h"
#include "protocol/registry.h"

namespace kv::kvctl {

// "Object/Topic" of a table entry; "END" for the end marker, which has neither.
std::string RecordName(const TableEntry& entry);

// The registered record named "Object/Topic" (or "END"), or null.
DataManipulation* FindRecord(Registry& registry, std::string_view name);

// The record's class as the catalogue names it ("CommState", "SetValue").
std::string ClassName(const DataManipulation& record);

// A JSON string literal; control characters and bytes from 0x7F up as \u00XX, so that any
// received text gives valid ASCII JSON.
void AppendJsonString(std::string& out, std::string_view text);
// The shortest decimal that reads back to the same float; null when not finite.
void AppendJsonReal(std::string& out, float value);

// {"size": 21, "Open": false, ...}: the wire fields in wire order, by catalogue name, with
// arrays as JSON arrays.
void AppendFieldsJson(DataManipulation& record, std::string& out);

// The members "address", "record", "kind", "object", "topic", "payload_size", "tag",
// "settable", "event_valid", "sequence" and "spare", without braces: the registration and the
// header as the record holds them now.
void AppendHeaderMembers(const DataManipulation& record, std::string& out);

// {header members, "fields": {...}}: one record as a whole.
std::string RecordJson(DataManipulation& record);

}  // namespace kv::kvctl
