// The settings table against the records it describes.
#include "protocol/setting_fields.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// Every key names a field of its record, of the type its check reads: a row that names no field
// (or the wrong kind of field) would save a default and never load.
TEST(SettingFields, EveryKeyNamesAFieldOfItsRecordOfTheTypeItsCheckReads) {
    for (const ProgramRole role : {ProgramRole::Driver, ProgramRole::Controller}) {
        Registry registry(role);
        for (size_t i = 0; i < kSettingFields.size(); ++i) {
            const SettingField& setting = kSettingFields[i];
            SCOPED_TRACE(std::string(setting.key));
            DataManipulation& record =
                *registry.Table()[static_cast<size_t>(kSettingRecords[i])].record;
            const std::optional<FieldValue> value = LoadField(record, setting.field);
            ASSERT_TRUE(value.has_value());
            switch (setting.check.kind) {
                case ValueCheck::Kind::Ints:
                case ValueCheck::Kind::MuxSize:
                    EXPECT_TRUE(std::holds_alternative<int32_t>(*value));
                    break;
                case ValueCheck::Kind::Reals:
                    EXPECT_TRUE(std::holds_alternative<float>(*value));
                    break;
                case ValueCheck::Kind::Any:
                    break;
            }
            // A store of the value's own type lands, another type does not.
            EXPECT_TRUE(StoreField(record, setting.field, *value));
            const FieldValue other =
                std::holds_alternative<bool>(*value) ? FieldValue{int32_t{1}} : FieldValue{true};
            EXPECT_FALSE(StoreField(record, setting.field, other));
            EXPECT_EQ(LoadField(record, setting.field), value);
        }
        EXPECT_TRUE(SettingsInRange(registry));
    }
}

// The angle is the driver's alone: out of range it spoils the settings, yet a peer's copy of
// Calib State is judged by its touch region only; the region's bounds keep their order.
TEST(SettingFields, ThePeersShareOfARecordIsCheckedApartFromTheDriversOwn) {
    Registry registry(ProgramRole::Driver);
    const int calib = Registry::IndexOf("Calib", "State");
    registry.calibState.Angle = 7;
    EXPECT_TRUE(InRangeAt(registry, calib));
    EXPECT_FALSE(SettingsInRange(registry));
    registry.calibState.Angle = 0;
    registry.calibState.exclude_edge_left = 0.6f;
    registry.calibState.exclude_edge_right = 0.4f;
    EXPECT_FALSE(InRangeAt(registry, calib));
    EXPECT_FALSE(SettingsInRange(registry));
    registry.calibState.exclude_edge_right = 0.9f;
    registry.commsReqState.MuxSize = 100;
    EXPECT_FALSE(InRangeAt(registry, Registry::IndexOf("Comms", "ReqState")));
    EXPECT_TRUE(InRangeAt(registry, calib));
}

}  // namespace
}  // namespace kv
