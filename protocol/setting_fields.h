// The settings: every record field the driver keeps in DRIVER.INI, each written once with what
// it may hold, whether a peer may write it and whether it belongs to a tuning. The range checks
// of a peer's records, the DRIVER.INI keys and kvctl's tuning file all come from this table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "protocol/record_ranges.h"
#include "protocol/registry.h"

namespace kv {

// A setting's value, as its field holds it.
using FieldValue = std::variant<bool, int32_t, float>;

// What a field may hold. Flags and fields without a range take every value.
struct ValueCheck {
    enum class Kind : uint8_t { Any, Ints, Reals, MuxSize };
    Kind kind = Kind::Any;
    IntRange ints{0, 0};
    RealRange reals{0.0f, 0.0f};

    bool Holds(const FieldValue& value) const;
};
constexpr ValueCheck Ints(IntRange range) {
    return {ValueCheck::Kind::Ints, range, {}};
}
constexpr ValueCheck Reals(RealRange range) {
    return {ValueCheck::Kind::Reals, {}, range};
}
constexpr ValueCheck kAnyValue{};
// A channel count the board's frames come in (protocol/sensor_layout.h).
constexpr ValueCheck kMuxSize{ValueCheck::Kind::MuxSize, {}, {}};

// A rule a field keeps with the field named as its partner, in the same record.
enum class PairRule : uint8_t {
    None,
    ReadableSplit,  // the two ends of the split fit some frame (IsReadableSplit)
    Below,          // the field is below its partner: a region's left and right, top and bottom
};

// Where a field goes in kvctl's tuning file.
enum class Tuning : uint8_t {
    None,         // not in it: the link, the driver's own start-up settings
    Setting,      // a setting of a kind of installation, sent to the driver as a record
    Calibration,  // one mounting's calibration, which the driver takes from DRIVER.INI alone
};

struct SettingField {
    std::string_view key;     // its DRIVER.INI key
    std::string_view object;  // the record it is a field of
    std::string_view topic;
    std::string_view field;  // its name in the record's field list
    ValueCheck check;
    bool fromPeers;  // a peer's copy of the record sets it (when the whole record is in range)
    Tuning tuning;
    PairRule pair = PairRule::None;
    std::string_view partner = {};
};

inline constexpr bool kPeer = true;
inline constexpr bool kDriverOnly = false;

// In the order of the file's lines. No key begins with another, so the key a line begins with
// is never in doubt.
inline constexpr std::array<SettingField, 55> kSettingFields = {{
    // clang-format off
    {"Comms_ReqState_Open", "Comms", "ReqState", "Open", kAnyValue, kPeer, Tuning::None},
    {"Comms_ReqState_PortIndex", "Comms", "ReqState", "PortIndex", Ints(ranges::kLinkIndex), kPeer, Tuning::None},
    {"Comms_ReqState_BaudIndex", "Comms", "ReqState", "BaudIndex", Ints(ranges::kLinkIndex), kPeer, Tuning::None},
    {"Comms_ReqState_SampleIndex", "Comms", "ReqState", "SampleIndex", Ints(ranges::kLinkIndex), kPeer, Tuning::None},
    {"Comms_ReqState_MuxSize", "Comms", "ReqState", "MuxSize", kMuxSize, kPeer, Tuning::Setting},
    {"Output_Tune_SnapRange", "Mouse", "Damp", "SnapRange", Reals(ranges::kDistance), kPeer, Tuning::Setting},
    {"Output_Tune_DampRange", "Mouse", "Damp", "DampRange", Reals(ranges::kDistance), kPeer, Tuning::Setting},
    {"Output_Tune_DampPeriod", "Mouse", "Damp", "DampPeriod", Reals(ranges::kDampPeriod), kPeer, Tuning::Setting},
    {"Output_Tune_RightClickRange", "Mouse", "Damp", "RightClickRange", Reals(ranges::kDistance), kPeer, Tuning::Setting},
    {"Output_Tune_RightClickPeriod", "Mouse", "Damp", "RightClickPeriod", Reals(ranges::kHoldPeriod), kPeer, Tuning::Setting},
    {"Delay", "Driver", "Config", "Delay", kAnyValue, kDriverOnly, Tuning::None},
    {"Split_State_Split0", "Split", "State", "Split0", kAnyValue, kPeer, Tuning::Setting, PairRule::ReadableSplit, "Split1"},
    {"Split_State_Split1", "Split", "State", "Split1", kAnyValue, kPeer, Tuning::Setting},
    {"Split_State_Flip0", "Split", "State", "Flip0", Ints(ranges::kFlip), kPeer, Tuning::Setting},
    {"Split_State_Flip1", "Split", "State", "Flip1", Ints(ranges::kFlip), kPeer, Tuning::Setting},
    {"Split_State_Flip2", "Split", "State", "Flip2", Ints(ranges::kFlip), kPeer, Tuning::Setting},
    {"Sense_State_CoarseRange", "Sense", "State", "CoarseRange", Ints(ranges::kSense), kPeer, Tuning::Setting},
    {"Sense_State_TouchThreshold", "Sense", "State", "TouchThreshold", Ints(ranges::kSense), kPeer, Tuning::Setting},
    {"Sense_State_PressThreshold", "Sense", "State", "PressThreshold", Ints(ranges::kSense), kPeer, Tuning::Setting},
    {"Sense_State_Advanced", "Sense", "State", "Advanced", kAnyValue, kPeer, Tuning::Setting},
    // The references are checked together, as a calibration (ReferencesProblem).
    {"Calib_Ref_TL_SA", "Calib", "Ref_TL", "SA", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TL_SB", "Calib", "Ref_TL", "SB", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TL_SX", "Calib", "Ref_TL", "SX", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TL_SY", "Calib", "Ref_TL", "SY", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TR_SA", "Calib", "Ref_TR", "SA", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TR_SB", "Calib", "Ref_TR", "SB", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TR_SX", "Calib", "Ref_TR", "SX", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_TR_SY", "Calib", "Ref_TR", "SY", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_BL_SA", "Calib", "Ref_BL", "SA", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_BL_SB", "Calib", "Ref_BL", "SB", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_BL_SX", "Calib", "Ref_BL", "SX", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Calib_Ref_BL_SY", "Calib", "Ref_BL", "SY", kAnyValue, kDriverOnly, Tuning::Calibration},
    {"Edge_State_Top", "Edge", "State", "Top", Ints(ranges::kEdge), kPeer, Tuning::Setting},
    {"Edge_State_Left", "Edge", "State", "Left", Ints(ranges::kEdge), kPeer, Tuning::Setting},
    {"Edge_State_Right", "Edge", "State", "Right", Ints(ranges::kEdge), kPeer, Tuning::Setting},
    {"Edge_State_Bottom", "Edge", "State", "Bottom", Ints(ranges::kEdge), kPeer, Tuning::Setting},
    {"Output_State_Mode", "Output", "State", "Mode", Ints(ranges::kClickMode), kPeer, Tuning::Setting},
    {"Output_State_Selection", "Output", "State", "Selection", Ints(ranges::kTouchMode), kPeer, Tuning::Setting},
    {"Output_State_Enable", "Output", "State", "Enable", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Fake", "Output", "State", "Fake", kAnyValue, kPeer, Tuning::None},
    {"exclude_edge_flag", "Calib", "State", "exclude_edge_flag", Ints(ranges::kRegionMode), kPeer, Tuning::Setting},
    {"exclude_edge_left", "Calib", "State", "exclude_edge_left", Reals(ranges::kRegionBound), kPeer, Tuning::Setting, PairRule::Below, "exclude_edge_right"},
    {"exclude_edge_top", "Calib", "State", "exclude_edge_top", Reals(ranges::kRegionBound), kPeer, Tuning::Setting, PairRule::Below, "exclude_edge_bottom"},
    {"exclude_edge_right", "Calib", "State", "exclude_edge_right", Reals(ranges::kRegionBound), kPeer, Tuning::Setting},
    {"exclude_edge_bottom", "Calib", "State", "exclude_edge_bottom", Reals(ranges::kRegionBound), kPeer, Tuning::Setting},
    {"Calib_State_Angle", "Calib", "State", "Angle", Ints(ranges::kAngle), kDriverOnly, Tuning::Calibration},
    {"start_at_boot", "Driver", "Config", "start_at_boot", kAnyValue, kDriverOnly, Tuning::None},
    {"Output_Pointer_Enable0", "Output", "Pointer", "Enable0", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable1", "Output", "Pointer", "Enable1", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable2", "Output", "Pointer", "Enable2", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable3", "Output", "Pointer", "Enable3", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable4", "Output", "Pointer", "Enable4", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable5", "Output", "Pointer", "Enable5", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable6", "Output", "Pointer", "Enable6", kAnyValue, kPeer, Tuning::Setting},
    {"Output_Pointer_Enable7", "Output", "Pointer", "Enable7", kAnyValue, kPeer, Tuning::Setting},
    // clang-format on
}};

// The table position of the setting with this key, or -1.
constexpr int SettingIndex(std::string_view key) {
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        if (kSettingFields[i].key == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The registry position of the record each setting is a field of.
inline constexpr std::array<int, kSettingFields.size()> kSettingRecords = [] {
    std::array<int, kSettingFields.size()> records{};
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        records[i] = Registry::IndexOf(kSettingFields[i].object, kSettingFields[i].topic);
    }
    return records;
}();

// The table's own rules, checked as it compiles.
constexpr bool SettingTableHolds() {
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        const SettingField& a = kSettingFields[i];
        if (kSettingRecords[i] < 0) {
            return false;  // no such record
        }
        const PeerWrite rule = kTableRows[static_cast<size_t>(kSettingRecords[i])].peer;
        if (a.fromPeers && rule != PeerWrite::Check) {
            return false;  // a peer sets fields only of the records the driver checks
        }
        bool partnered = a.pair == PairRule::None;
        for (size_t k = 0; k < kSettingFields.size(); ++k) {
            const SettingField& b = kSettingFields[k];
            const bool sameRecord = kSettingRecords[k] == kSettingRecords[i];
            if (k != i && a.key.substr(0, b.key.size()) == b.key) {
                return false;  // a key that begins with another
            }
            if (k != i && sameRecord && a.field == b.field) {
                return false;  // a field twice
            }
            partnered = partnered || (sameRecord && b.field == a.partner);
        }
        if (!partnered) {
            return false;  // a pair rule with a field the table does not hold
        }
    }
    return true;
}
static_assert(SettingTableHolds());

// A setting's value in a record, or none when the record has no such field.
std::optional<FieldValue> LoadField(DataManipulation& record, std::string_view field);
// Stores value in the record's field of that name; false when it has none of value's type.
bool StoreField(DataManipulation& record, std::string_view field, const FieldValue& value);

// Whether two values keep the rule (values of another type never do).
bool PairHolds(PairRule rule, const FieldValue& first, const FieldValue& partner);

// Whether the fields of the record at this table position are in range: those a peer may set
// (fromPeersOnly), or all of them. true for a record without settings.
bool RecordInRange(DataManipulation& record, int index, bool fromPeersOnly);

// Whether the record at this table position, as it is now, is one the driver would take from
// a peer: true for records without ranges (commands, presence).
bool InRangeAt(Registry& registry, int index);

// Every setting of a registry, each in range and each pair keeping its rule.
bool SettingsInRange(const Registry& registry);

}  // namespace kv
