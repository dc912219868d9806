// Writing and reading the tuning file.
#include "tools/kvctl/tuning_file.h"

#include <algorithm>
#include <cstring>

#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

namespace {

class FieldReader final : public FieldVisitor {
public:
    std::map<std::string, std::string> texts;

    void Size(int32_t& receivedSize) override { (void)receivedSize; }
    void Int(const char* name, int32_t& value) override { Put(name, std::to_string(value)); }
    void Real(const char* name, float& value) override {
        std::string text;
        AppendJsonReal(text, value);
        Put(name, text);
    }
    void Flag(const char* name, bool& value) override { Put(name, value ? "true" : "false"); }
    void Char(const char* name, char& value) override { Put(name, std::string(1, value)); }
    void Text(const char* name, TextRef text) override { Put(name, std::string(text.View())); }
    void BeginArray(const char* name, int32_t count) override {
        (void)count;
        array_ = name;
        element_ = 0;
    }
    void EndArray() override { array_.clear(); }

private:
    void Put(const char* name, std::string value) {
        if (!array_.empty() && name == nullptr) {
            texts[array_ + "[" + std::to_string(element_++) + "]"] = std::move(value);
        } else if (name != nullptr) {
            texts[name] = std::move(value);
        }
    }
    std::string array_;
    int element_ = 0;
};

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// "# " lines of at most 90 characters, broken at blanks.
void AppendComment(std::string& out, std::string_view text) {
    constexpr size_t kWidth = 88;
    while (!text.empty()) {
        size_t cut = text.size();
        if (cut > kWidth) {
            cut = text.rfind(' ', kWidth);
            cut = cut == std::string_view::npos ? kWidth : cut;
        }
        out.append("# ").append(text.substr(0, cut)).append("\n");
        text.remove_prefix(cut);
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
    }
}

}  // namespace

const std::vector<TuningSection>& TuningSections() {
    static const std::vector<TuningSection> sections = {
        {"Split/State",
         "The sensor layout: where the first and second electrode segments end (Split0, "
         "Split1), and whether each of the three runs backwards (Flip0..2, 0 or 1).",
         {"Split0", "Split1", "Flip0", "Flip1", "Flip2"},
         false},
        {"Comms/ReqState",
         "Channels per frame of the sensor model; sent after the layout.",
         {"MuxSize"},
         false},
        {"Sense/State",
         "Sensitivity (CoarseRange) and the touch and press thresholds, 0..50.",
         {"CoarseRange", "TouchThreshold", "PressThreshold", "Advanced"},
         false},
        {"Edge/State",
         "Edge enhancement of the four screen edges, in percent, 0..100.",
         {"Top", "Left", "Right", "Bottom"},
         false},
        {"Output/State",
         "Touch mode (Selection: 0 single touch, 1 pinch scroll, 2 TUIO, 3 native two-finger "
         "touch), click mode (Mode, 0..6) and whether touch output is on (Enable).",
         {"Selection", "Mode", "Enable"},
         false},
        {"Output/Pointer",
         "Which of the eight pointer outputs are enabled.",
         {"Enable0", "Enable1", "Enable2", "Enable3", "Enable4", "Enable5", "Enable6", "Enable7"},
         false},
        {"Mouse/Damp",
         "Pointer damping: snap and damping ranges (0..1 of the screen), the damping period "
         "(0..10) and the press-and-hold right click (range 0..1, period 1..100).",
         {"SnapRange", "DampRange", "DampPeriod", "RightClickRange", "RightClickPeriod"},
         false},
        {"Calib/State",
         "The touch region: exclude_edge_flag 0 exclusion rectangle, 1 whole screen, 2 the "
         "region only (a monitor); the bounds are fractions of the desktop.",
         {"exclude_edge_flag", "exclude_edge_left", "exclude_edge_top", "exclude_edge_right",
          "exclude_edge_bottom"},
         false},
        {"Calib/Ref_TL",
         "Calibration of one mounting: each reference's sensor position (SA, SB) and screen "
         "target (SX, SY). Written to DRIVER.INI, which the driver then reads again.",
         {"SA", "SB", "SX", "SY"},
         true},
        {"Calib/Ref_TR", "", {"SA", "SB", "SX", "SY"}, true},
        {"Calib/Ref_BL", "", {"SA", "SB", "SX", "SY"}, true},
        {"Calib/Angle",
         "The screen's rotation when it was calibrated, in quarter turns, 0..3.",
         {"Angle"},
         true},
    };
    return sections;
}

const TuningSection* FindTuningSection(std::string_view record) {
    for (const TuningSection& section : TuningSections()) {
        if (record == section.record) {
            return &section;
        }
    }
    return nullptr;
}

std::map<std::string, std::string> FieldTexts(DataManipulation& record) {
    FieldReader reader;
    record.VisitFields(reader);
    return reader.texts;
}

std::string FormatTuning(Registry& records, bool withCalibration, std::string_view source) {
    std::string out = "# Touch foil tuning, exported by kvctl from the driver on ";
    out.append(source).append(
        ".\n# kvctl import FILE checks every value against the ranges the driver takes and "
        "changes\n# nothing if one is wrong; kvctl import --dry-run FILE shows what would "
        "change.\n");
    if (!withCalibration) {
        out.append("# The calibration is not in it (kvctl export --with-calibration adds it).\n");
    }
    for (const TuningSection& section : TuningSections()) {
        if (section.calibration && !withCalibration) {
            continue;
        }
        // The angle sits in the Calib/State record, under a section of its own.
        const std::string_view name =
            std::strcmp(section.record, "Calib/Angle") == 0 ? "Calib/State" : section.record;
        DataManipulation* record = FindRecord(records, name);
        if (record == nullptr) {
            continue;
        }
        const std::map<std::string, std::string> texts = FieldTexts(*record);
        out.append("\n");
        AppendComment(out, section.comment);
        out.append("[").append(section.record).append("]\n");
        for (const char* field : section.fields) {
            out.append(field).append(" = ").append(texts.at(field)).append("\n");
        }
    }
    return out;
}

TuningText ParseTuning(std::string_view text) {
    TuningText parsed;
    const auto fail = [&parsed](int line, std::string message) {
        parsed.errorLine = line;
        parsed.error = std::move(message);
        parsed.records.clear();
        return parsed;
    };
    int number = 0;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end;
        const std::string_view line = Trim(text.substr(at, end - at));
        ++number;
        at = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return fail(number, "a section header ends with ]");
            }
            const std::string_view name = line.substr(1, line.size() - 2);
            const TuningSection* section = FindTuningSection(name);
            if (section == nullptr) {
                return fail(number, "no settings section [" + std::string(name) + "]");
            }
            for (const TuningRecord& seen : parsed.records) {
                if (seen.section == section) {
                    return fail(number, "[" + std::string(name) + "] comes a second time (line " +
                                            std::to_string(seen.line) + ")");
                }
            }
            parsed.records.push_back({number, section, {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return fail(number, "a setting is written FIELD = VALUE");
        }
        if (parsed.records.empty()) {
            return fail(number, "a setting before any [section]");
        }
        TuningRecord& record = parsed.records.back();
        const std::string field(Trim(line.substr(0, equals)));
        const std::string value(Trim(line.substr(equals + 1)));
        const auto& fields = record.section->fields;
        if (std::find_if(fields.begin(), fields.end(),
                         [&field](const char* f) { return field == f; }) == fields.end()) {
            return fail(number, "[" + std::string(record.section->record) + "] has no setting '" +
                                    field + "'");
        }
        for (const TuningValue& seen : record.values) {
            if (seen.field == field) {
                return fail(number, field + " comes a second time (line " +
                                        std::to_string(seen.line) + ")");
            }
        }
        if (value.empty()) {
            return fail(number, field + " has no value");
        }
        record.values.push_back({number, field, value});
    }
    return parsed;
}

}  // namespace kv::kvctl
