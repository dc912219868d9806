// Writing and reading the tuning file.
#include "tools/kvctl/tuning_file.h"

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
    // The order and the words are the file's; which fields each section holds, and what they
    // take, come from the settings table.
    static const std::vector<TuningSection> sections = [] {
        std::vector<TuningSection> built = {
            {"Split/State",
             "The sensor layout: where the first and second electrode segments end (Split0, "
             "Split1), and whether each of the three runs backwards (Flip0..2).",
             "Split",
             "State",
             {},
             false},
            {"Comms/ReqState",
             "Channels per frame of the sensor model; sent after the layout.",
             "Comms",
             "ReqState",
             {},
             false},
            {"Sense/State",
             "Sensitivity (CoarseRange) and the touch and press thresholds.",
             "Sense",
             "State",
             {},
             false},
            {"Edge/State",
             "Edge enhancement of the four screen edges, in percent.",
             "Edge",
             "State",
             {},
             false},
            {"Output/State",
             "Touch mode (Selection: 0 single touch, 1 pinch scroll, 2 TUIO, 3 native "
             "two-finger touch), click mode (Mode) and whether touch output is on (Enable).",
             "Output",
             "State",
             {},
             false},
            {"Output/Pointer",
             "Which of the eight pointer outputs are enabled.",
             "Output",
             "Pointer",
             {},
             false},
            {"Mouse/Damp",
             "Pointer damping: snap and damping ranges (fractions of the screen), the damping "
             "period and the press-and-hold right click (its range and period).",
             "Mouse",
             "Damp",
             {},
             false},
            {"Calib/State",
             "The touch region: exclude_edge_flag 0 exclusion rectangle, 1 whole screen, 2 the "
             "region only (a monitor); the bounds are fractions of the desktop.",
             "Calib",
             "State",
             {},
             false},
            {"Calib/Ref_TL",
             "Calibration of one mounting: each reference's sensor position (SA, SB) and screen "
             "target (SX, SY). Written to DRIVER.INI, which the driver then reads again.",
             "Calib",
             "Ref_TL",
             {},
             true},
            {"Calib/Ref_TR", "", "Calib", "Ref_TR", {}, true},
            {"Calib/Ref_BL", "", "Calib", "Ref_BL", {}, true},
            {"Calib/Angle",
             "The screen's rotation when it was calibrated, in quarter turns.",
             "Calib",
             "State",
             {},
             true},
        };
        for (TuningSection& section : built) {
            const Tuning share = section.calibration ? Tuning::Calibration : Tuning::Setting;
            for (const SettingField& setting : kSettingFields) {
                if (setting.object == section.object && setting.topic == section.topic &&
                    setting.tuning == share) {
                    section.settings.push_back(&setting);
                }
            }
        }
        return built;
    }();
    return sections;
}

const SettingField* TuningSection::Find(std::string_view field) const {
    for (const SettingField* setting : settings) {
        if (setting->field == field) {
            return setting;
        }
    }
    return nullptr;
}

std::string RangeText(const ValueCheck& check) {
    std::string text;
    switch (check.kind) {
        case ValueCheck::Kind::Any:
            break;
        case ValueCheck::Kind::Ints:
            text = std::to_string(check.ints.min) + ".." + std::to_string(check.ints.max);
            break;
        case ValueCheck::Kind::Reals:
            AppendJsonReal(text, check.reals.min);
            text += "..";
            AppendJsonReal(text, check.reals.max);
            break;
        case ValueCheck::Kind::MuxSize:
            text = "16..64 or 128";
            break;
    }
    return text;
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
        const TableEntry* entry = records.Find(section.object, section.topic);
        if (entry == nullptr) {
            continue;
        }
        const std::map<std::string, std::string> texts = FieldTexts(*entry->record);
        std::string takes;
        for (const SettingField* setting : section.settings) {
            if (const std::string range = RangeText(setting->check); !range.empty()) {
                takes.append(takes.empty() ? "Takes " : ", ")
                    .append(setting->field)
                    .append(" ")
                    .append(range);
            }
        }
        out.append("\n");
        AppendComment(out, section.comment);
        AppendComment(out, takes.empty() ? takes : takes + ".");
        out.append("[").append(section.record).append("]\n");
        for (const SettingField* setting : section.settings) {
            const std::string field(setting->field);
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
        if (record.section->Find(field) == nullptr) {
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
