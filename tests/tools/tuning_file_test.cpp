// The tuning file's structure as kvctl import reads it: each mistake is named at its line
// (values against the driver's ranges are checked in kvctl_live_test.cpp).
#include <gtest/gtest.h>

#include "tools/kvctl/tuning_file.h"

namespace {

TEST(TuningFile, EachMistakeIsNamedAtItsLine) {
    const struct {
        const char* text;
        int line;
        const char* error;
    } cases[] = {
        {"# c\n[Sense/State]\nPressThreshold = 7\n", 0, ""},
        {"PressThreshold = 7\n", 1, "a setting before any [section]"},
        {"[Sense/State]\n\n[Sense/Stat]\n", 3, "no settings section [Sense/Stat]"},
        {"[Sense/State\n", 1, "a section header ends with ]"},
        {"[Edge/State]\nTop = 1\n[Edge/State]\n", 3, "[Edge/State] comes a second time (line 1)"},
        {"[Edge/State]\nTop = 1\n Top=2\n", 3, "Top comes a second time (line 2)"},
        {"[Edge/State]\nTop\n", 2, "a setting is written FIELD = VALUE"},
        {"[Edge/State]\nMuxSize = 40\n", 2, "[Edge/State] has no setting 'MuxSize'"},
        {"[Calib/State]\nActive = true\n", 2, "[Calib/State] has no setting 'Active'"},
        {"[Edge/State]\r\nTop =\r\n", 2, "Top has no value"},
    };
    for (const auto& c : cases) {
        const kv::kvctl::TuningText parsed = kv::kvctl::ParseTuning(c.text);
        EXPECT_EQ(parsed.errorLine, c.line) << c.text;
        EXPECT_EQ(parsed.error, c.error) << c.text;
    }
    const kv::kvctl::TuningText good = kv::kvctl::ParseTuning("[Edge/State]\nTop = 30 \n");
    ASSERT_EQ(good.records.size(), 1u);
    EXPECT_EQ(good.records[0].values.at(0).value, "30");
}

// Each setting a tuning holds is in one section, so that export writes it and import reads it
// back; a new field marked for the tuning needs nothing more.
TEST(TuningFile, EverySettingOfATuningIsInOneSectionAndTheExportReadsBack) {
    for (const kv::SettingField& setting : kv::kSettingFields) {
        int sections = 0;
        for (const kv::kvctl::TuningSection& section : kv::kvctl::TuningSections()) {
            sections += section.Find(setting.field) == &setting ? 1 : 0;
        }
        EXPECT_EQ(sections, setting.tuning == kv::Tuning::None ? 0 : 1) << setting.key;
    }
    kv::Registry records(kv::ProgramRole::Controller);
    const kv::kvctl::TuningText back =
        kv::kvctl::ParseTuning(kv::kvctl::FormatTuning(records, true, "test"));
    ASSERT_EQ(back.error, "");
    size_t values = 0;
    for (const kv::kvctl::TuningRecord& record : back.records) {
        values += record.values.size();
    }
    EXPECT_EQ(back.records.size(), kv::kvctl::TuningSections().size());
    size_t settings = 0;
    for (const kv::SettingField& setting : kv::kSettingFields) {
        settings += setting.tuning == kv::Tuning::None ? 0 : 1;
    }
    EXPECT_EQ(values, settings);
}

}  // namespace
