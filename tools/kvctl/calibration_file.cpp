// Line-wise rewrite of the calibration keys.
#include "tools/kvctl/calibration_file.h"

#include <memory>
#include <vector>

#include "driver/core/settings_store.h"
#include "driver/settings/settings_file.h"

namespace kv::kvctl {

namespace {

bool IsCalibrationKey(std::string_view key) {
    const int index = SettingIndex(key);
    return index >= 0 && kSettingFields[static_cast<size_t>(index)].tuning == Tuning::Calibration;
}

bool SameReference(const CalibrationData& a, const CalibrationData& b) {
    return a.SA.Load() == b.SA.Load() && a.SB.Load() == b.SB.Load() && a.SX.Load() == b.SX.Load() &&
           a.SY.Load() == b.SY.Load();
}

// The lines of FormatSettings, each without its end, with its key.
std::vector<std::pair<std::string, std::string>> SettingsLines(const Registry& records) {
    std::vector<std::pair<std::string, std::string>> lines;
    const std::string formatted = FormatSettings(records);
    for (size_t at = 0; at < formatted.size();) {
        size_t end = formatted.find('\n', at);
        end = end == std::string::npos ? formatted.size() : end;
        std::string_view line(formatted.data() + at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(std::string(line.substr(0, line.find('='))), std::string(line));
        at = end + 1;
    }
    return lines;
}

// text with the line of each wanted key (key, line without its end) replaced; a key
// without a line is added at the end.
std::string WithLines(std::string_view text,
                      const std::vector<std::pair<std::string, std::string>>& wanted) {
    std::string out;
    std::vector<bool> written(wanted.size(), false);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(at, end - at);
        bool replaced = false;
        for (size_t k = 0; k < wanted.size() && !replaced; ++k) {
            const std::string& key = wanted[k].first;
            if (line.substr(0, key.size()) == key) {
                // Keeps the line's own end: LF, CR LF or none at the end of the file.
                const size_t body = line.find_first_of("\r\n");
                out.append(wanted[k].second);
                out.append(body == std::string_view::npos ? std::string_view() : line.substr(body));
                written[k] = replaced = true;
            }
        }
        if (!replaced) {
            out.append(line);
        }
        at = end;
    }
    for (size_t k = 0; k < wanted.size(); ++k) {
        if (!written[k]) {
            if (!out.empty() && out.back() != '\n') {
                out.append("\r\n");
            }
            out.append(wanted[k].second).append("\r\n");
        }
    }
    return out;
}

}  // namespace

void SetIdentityCalibration(Registry& records) {
    const auto defaults = std::make_unique<Registry>(ProgramRole::Driver);
    ApplySettingsDefaults(*defaults);
    for (auto [to, from] : {std::pair{&records.calibRefTL, &defaults->calibRefTL},
                            std::pair{&records.calibRefTR, &defaults->calibRefTR},
                            std::pair{&records.calibRefBL, &defaults->calibRefBL}}) {
        to->SA = from->SA.Load();
        to->SB = from->SB.Load();
        to->SX = from->SX.Load();
        to->SY = from->SY.Load();
    }
    records.calibState.Angle = 0;
}

bool SameCalibration(const Registry& a, const Registry& b) {
    return SameReference(a.calibRefTL, b.calibRefTL) && SameReference(a.calibRefTR, b.calibRefTR) &&
           SameReference(a.calibRefBL, b.calibRefBL) &&
           a.calibState.Angle.Load() == b.calibState.Angle.Load();
}

std::string WithCalibration(std::string_view text, const Registry& records) {
    // The calibration lines as the driver writes them ("Calib_Ref_TL_SA=0.1"), in its order.
    std::vector<std::pair<std::string, std::string>> wanted;
    for (auto& [key, line] : SettingsLines(records)) {
        if (IsCalibrationKey(key)) {
            wanted.emplace_back(std::move(key), std::move(line));
        }
    }
    return WithLines(text, wanted);
}

std::string WithChangedSettings(std::string_view text, const Registry& from, const Registry& to) {
    const auto before = SettingsLines(from);
    auto after = SettingsLines(to);
    std::vector<std::pair<std::string, std::string>> wanted;
    for (size_t k = 0; k < after.size(); ++k) {
        if (after[k].second != before[k].second) {
            wanted.push_back(std::move(after[k]));
        }
    }
    return WithLines(text, wanted);
}

}  // namespace kv::kvctl
