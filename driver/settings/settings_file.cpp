// Reading and writing DRIVER.INI: its keys, the text of its values, and the settings file
// the driver loads and saves (the crash-safe replacement is in settings_replace.cpp).
#include "driver/settings/settings_file.h"

#include <locale.h>
#include <stdlib.h>

#include <array>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <variant>

#include "common/posix_file.h"
#include "driver/settings/settings_saver.h"
#include "protocol/record_ranges.h"

namespace kv {

namespace {

// The settings are record fields, which the receive thread writes while the main loop saves.
using FieldRef = std::variant<Relaxed<bool>*, Relaxed<int32_t>*, Relaxed<float>*>;

// Whether a value read for a key is one the driver works with (protocol/record_ranges.h).
using RangeCheck = bool (*)(const SettingsValue&);

template <const IntRange& kRange>
bool IntIn(const SettingsValue& value) {
    return kRange.Holds(std::get<int32_t>(value));
}
template <const RealRange& kRange>
bool RealIn(const SettingsValue& value) {
    return kRange.Holds(std::get<float>(value));
}
bool ReadableMuxSize(const SettingsValue& value) {
    return IsReadableMuxSize(std::get<int32_t>(value));
}

struct Key {
    std::string_view name;
    FieldRef (*field)(Registry&);
    RangeCheck inRange = nullptr;  // none: every value is taken, or the split's pair rule
};

#define KV_FIELD(member) [](Registry& r) -> FieldRef { return &r.member; }

// The keys in writing order; the order of the file.
constexpr std::array<Key, kSettingsKeys> kKeys = {{
    {"Comms_ReqState_Open", KV_FIELD(commsReqState.Open)},
    {"Comms_ReqState_PortIndex", KV_FIELD(commsReqState.PortIndex), IntIn<ranges::kLinkIndex>},
    {"Comms_ReqState_BaudIndex", KV_FIELD(commsReqState.BaudIndex), IntIn<ranges::kLinkIndex>},
    {"Comms_ReqState_SampleIndex", KV_FIELD(commsReqState.SampleIndex), IntIn<ranges::kLinkIndex>},
    {"Comms_ReqState_MuxSize", KV_FIELD(commsReqState.MuxSize), ReadableMuxSize},
    {"Output_Tune_SnapRange", KV_FIELD(mouseDamp.SnapRange), RealIn<ranges::kDistance>},
    {"Output_Tune_DampRange", KV_FIELD(mouseDamp.DampRange), RealIn<ranges::kDistance>},
    {"Output_Tune_DampPeriod", KV_FIELD(mouseDamp.DampPeriod), RealIn<ranges::kDampPeriod>},
    {"Output_Tune_RightClickRange", KV_FIELD(mouseDamp.RightClickRange), RealIn<ranges::kDistance>},
    {"Output_Tune_RightClickPeriod", KV_FIELD(mouseDamp.RightClickPeriod),
     RealIn<ranges::kHoldPeriod>},
    {"Delay", KV_FIELD(driverConfig.Delay)},
    {"Split_State_Split0", KV_FIELD(splitState.Split0)},
    {"Split_State_Split1", KV_FIELD(splitState.Split1)},
    {"Split_State_Flip0", KV_FIELD(splitState.Flip0), IntIn<ranges::kFlip>},
    {"Split_State_Flip1", KV_FIELD(splitState.Flip1), IntIn<ranges::kFlip>},
    {"Split_State_Flip2", KV_FIELD(splitState.Flip2), IntIn<ranges::kFlip>},
    {"Sense_State_CoarseRange", KV_FIELD(senseState.CoarseRange), IntIn<ranges::kSense>},
    {"Sense_State_TouchThreshold", KV_FIELD(senseState.TouchThreshold), IntIn<ranges::kSense>},
    {"Sense_State_PressThreshold", KV_FIELD(senseState.PressThreshold), IntIn<ranges::kSense>},
    {"Sense_State_Advanced", KV_FIELD(senseState.Advanced)},
    {"Calib_Ref_TL_SA", KV_FIELD(calibRefTL.SA)},
    {"Calib_Ref_TL_SB", KV_FIELD(calibRefTL.SB)},
    {"Calib_Ref_TL_SX", KV_FIELD(calibRefTL.SX)},
    {"Calib_Ref_TL_SY", KV_FIELD(calibRefTL.SY)},
    {"Calib_Ref_TR_SA", KV_FIELD(calibRefTR.SA)},
    {"Calib_Ref_TR_SB", KV_FIELD(calibRefTR.SB)},
    {"Calib_Ref_TR_SX", KV_FIELD(calibRefTR.SX)},
    {"Calib_Ref_TR_SY", KV_FIELD(calibRefTR.SY)},
    {"Calib_Ref_BL_SA", KV_FIELD(calibRefBL.SA)},
    {"Calib_Ref_BL_SB", KV_FIELD(calibRefBL.SB)},
    {"Calib_Ref_BL_SX", KV_FIELD(calibRefBL.SX)},
    {"Calib_Ref_BL_SY", KV_FIELD(calibRefBL.SY)},
    {"Edge_State_Top", KV_FIELD(edgeState.Top), IntIn<ranges::kEdge>},
    {"Edge_State_Left", KV_FIELD(edgeState.Left), IntIn<ranges::kEdge>},
    {"Edge_State_Right", KV_FIELD(edgeState.Right), IntIn<ranges::kEdge>},
    {"Edge_State_Bottom", KV_FIELD(edgeState.Bottom), IntIn<ranges::kEdge>},
    {"Output_State_Mode", KV_FIELD(outputState.Mode), IntIn<ranges::kClickMode>},
    {"Output_State_Selection", KV_FIELD(outputState.Selection), IntIn<ranges::kTouchMode>},
    {"Output_State_Enable", KV_FIELD(outputState.Enable)},
    {"Output_Fake", KV_FIELD(outputState.Fake)},
    {"exclude_edge_flag", KV_FIELD(calibState.exclude_edge_flag), IntIn<ranges::kRegionMode>},
    {"exclude_edge_left", KV_FIELD(calibState.exclude_edge_left), RealIn<ranges::kRegionBound>},
    {"exclude_edge_top", KV_FIELD(calibState.exclude_edge_top), RealIn<ranges::kRegionBound>},
    {"exclude_edge_right", KV_FIELD(calibState.exclude_edge_right), RealIn<ranges::kRegionBound>},
    {"exclude_edge_bottom", KV_FIELD(calibState.exclude_edge_bottom), RealIn<ranges::kRegionBound>},
    {"Calib_State_Angle", KV_FIELD(calibState.Angle), IntIn<ranges::kAngle>},
    {"start_at_boot", KV_FIELD(driverConfig.start_at_boot)},
    {"Output_Pointer_Enable0", KV_FIELD(outputPointer.Enable[0])},
    {"Output_Pointer_Enable1", KV_FIELD(outputPointer.Enable[1])},
    {"Output_Pointer_Enable2", KV_FIELD(outputPointer.Enable[2])},
    {"Output_Pointer_Enable3", KV_FIELD(outputPointer.Enable[3])},
    {"Output_Pointer_Enable4", KV_FIELD(outputPointer.Enable[4])},
    {"Output_Pointer_Enable5", KV_FIELD(outputPointer.Enable[5])},
    {"Output_Pointer_Enable6", KV_FIELD(outputPointer.Enable[6])},
    {"Output_Pointer_Enable7", KV_FIELD(outputPointer.Enable[7])},
}};

#undef KV_FIELD

constexpr int FindKey(std::string_view name) {
    for (int i = 0; i < kSettingsKeys; ++i) {
        if (kKeys[static_cast<size_t>(i)].name == name) {
            return i;
        }
    }
    return -1;
}

// The order in which a line is matched against the keys; the first key the line begins with
// takes it (so "Output_Pointer_Enable10" lands on Enable1).
constexpr std::array<int, kSettingsKeys> kReadOrder = {
    FindKey("Comms_ReqState_Open"),
    FindKey("Comms_ReqState_PortIndex"),
    FindKey("Comms_ReqState_BaudIndex"),
    FindKey("Comms_ReqState_SampleIndex"),
    FindKey("Comms_ReqState_MuxSize"),
    FindKey("Delay"),
    FindKey("Split_State_Split0"),
    FindKey("Split_State_Split1"),
    FindKey("Split_State_Flip0"),
    FindKey("Split_State_Flip1"),
    FindKey("Split_State_Flip2"),
    FindKey("Sense_State_CoarseRange"),
    FindKey("Sense_State_TouchThreshold"),
    FindKey("Sense_State_PressThreshold"),
    FindKey("Sense_State_Advanced"),
    FindKey("Calib_Ref_TL_SA"),
    FindKey("Calib_Ref_TL_SB"),
    FindKey("Calib_Ref_TL_SX"),
    FindKey("Calib_Ref_TL_SY"),
    FindKey("Calib_Ref_TR_SA"),
    FindKey("Calib_Ref_TR_SB"),
    FindKey("Calib_Ref_TR_SX"),
    FindKey("Calib_Ref_TR_SY"),
    FindKey("Calib_Ref_BL_SA"),
    FindKey("Calib_Ref_BL_SB"),
    FindKey("Calib_Ref_BL_SX"),
    FindKey("Calib_Ref_BL_SY"),
    FindKey("Output_Tune_SnapRange"),
    FindKey("Output_Tune_DampRange"),
    FindKey("Output_Tune_DampPeriod"),
    FindKey("Output_Tune_RightClickRange"),
    FindKey("Output_Tune_RightClickPeriod"),
    FindKey("Edge_State_Top"),
    FindKey("Edge_State_Left"),
    FindKey("Edge_State_Right"),
    FindKey("Edge_State_Bottom"),
    FindKey("Output_State_Mode"),
    FindKey("Output_State_Selection"),
    FindKey("Output_State_Enable"),
    FindKey("Output_Fake"),
    FindKey("Output_Pointer_Enable0"),
    FindKey("Output_Pointer_Enable1"),
    FindKey("Output_Pointer_Enable2"),
    FindKey("Output_Pointer_Enable3"),
    FindKey("Output_Pointer_Enable4"),
    FindKey("Output_Pointer_Enable5"),
    FindKey("Output_Pointer_Enable6"),
    FindKey("Output_Pointer_Enable7"),
    FindKey("exclude_edge_flag"),
    FindKey("exclude_edge_left"),
    FindKey("exclude_edge_top"),
    FindKey("exclude_edge_right"),
    FindKey("exclude_edge_bottom"),
    FindKey("Calib_State_Angle"),
    FindKey("start_at_boot"),
};

constexpr bool EveryKeyReadOnce() {
    std::array<int, kSettingsKeys> seen{};
    for (int index : kReadOrder) {
        if (index < 0 || ++seen[static_cast<size_t>(index)] != 1) {
            return false;
        }
    }
    return true;
}
static_assert(EveryKeyReadOnce(), "the reading order names every key exactly once");

// White space as the C locale's isspace sees it, whatever the process locale.
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi without the locale and without overflow: leading white space, an optional sign,
// digits up to the first non-digit; 0 without digits; clamped to the int32 range.
int32_t ParseInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            value = kLimit;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        value = std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// atof with '.' as the decimal point whatever the process locale; a value beyond the float
// range becomes an infinity, as storing atof's result in a float does.
float ParseFloat(std::string_view text) {
    const std::string terminated(text);
    double value = 0.0;
    if (const locale_t c = CLocale(); c != static_cast<locale_t>(nullptr)) {
        value = strtod_l(terminated.c_str(), nullptr, c);
    } else {
        size_t i = 0;
        while (i < text.size() && IsSpace(text[i])) {
            ++i;
        }
        std::from_chars(text.data() + i, text.data() + text.size(), value);
    }
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
        return value > 0 ? std::numeric_limits<float>::infinity()
                         : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

// Converts a line's value by the type the key's value already has.
void Assign(SettingsValue& field, std::string_view value) {
    const bool emptyOrFalse = value.empty() || value == "false";
    if (bool* flag = std::get_if<bool>(&field)) {
        *flag = value == "true";
    } else if (int32_t* integer = std::get_if<int32_t>(&field)) {
        *integer = emptyOrFalse ? 0 : ParseInt(value);
    } else if (float* real = std::get_if<float>(&field)) {
        *real = emptyOrFalse ? 0.0f : ParseFloat(value);
    }
}

// The stream library's default formatting: six significant digits, trailing zeros dropped,
// exponent form for very large or small values; independent of the process locale.
void AppendValue(std::string& out, const SettingsValue& value) {
    if (const bool* flag = std::get_if<bool>(&value)) {
        out += *flag ? "true" : "false";
    } else if (const int32_t* integer = std::get_if<int32_t>(&value)) {
        out += std::to_string(*integer);
    } else if (const float* real = std::get_if<float>(&value)) {
        std::array<char, 32> text{};
        const auto result = std::to_chars(text.data(), text.data() + text.size(), *real,
                                          std::chars_format::general, 6);
        out.append(text.data(), result.ptr);
    }
}

SettingsValue ValueOf(const FieldRef& field) {
    return std::visit([](auto* member) -> SettingsValue { return member->Load(); }, field);
}

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The key that takes a line: the first, in reading order, that the line begins with; -1 for
// none.
int KeyOfLine(std::string_view line) {
    for (int index : kReadOrder) {
        const std::string_view name = kKeys[static_cast<size_t>(index)].name;
        if (line.substr(0, name.size()) == name) {
            return index;
        }
    }
    return -1;
}

std::string ValueText(const SettingsValue& value) {
    std::string text;
    AppendValue(text, value);
    return text;
}

template <class T>
void Store(Relaxed<T>& field, const SettingsValue& value) {
    field = std::get<T>(value);
}

// Puts back the values read out of range, and the pairs that only make sense together (the
// split, the region's bounds) where the pair does not; each with a --verbose line.
void KeepInRange(SettingsSnapshot& values, const SettingsSnapshot& before, const VerboseLog* log) {
    auto keep = [&](size_t i, std::string_view why) {
        if (log != nullptr && values[i] != before[i]) {
            log->Say(std::string(kSettingsFileName) + ": " + std::string(kKeys[i].name) + "=" +
                     ValueText(values[i]) + " " + std::string(why) + "; keeping " +
                     ValueText(before[i]));
        }
        values[i] = before[i];
    };
    for (size_t i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i].inRange != nullptr && !kKeys[i].inRange(values[i])) {
            keep(i, "is out of range");
        }
    }
    auto pair = [&](std::string_view first, std::string_view second, auto fits) {
        const auto a = static_cast<size_t>(FindKey(first));
        const auto b = static_cast<size_t>(FindKey(second));
        if (!fits(values[a], values[b])) {
            const std::string aText = std::string(first) + "=" + ValueText(values[a]);
            const std::string bText = std::string(second) + "=" + ValueText(values[b]);
            keep(a, "is out of range with " + bText);
            keep(b, "is out of range with " + aText);
        }
    };
    pair("Split_State_Split0", "Split_State_Split1",
         [](const SettingsValue& s0, const SettingsValue& s1) {
             return IsReadableSplit(std::get<int32_t>(s0), std::get<int32_t>(s1));
         });
    auto below = [](const SettingsValue& low, const SettingsValue& high) {
        return std::get<float>(low) < std::get<float>(high);
    };
    pair("exclude_edge_left", "exclude_edge_right", below);
    pair("exclude_edge_top", "exclude_edge_bottom", below);
}

}  // namespace

std::string DefaultSettingsPath() {
    std::string folder = SettingsFolder(ExecutableFolder());
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder + kSettingsFileName;
}

SettingsSnapshot TakeSettingsSnapshot(const Registry& registry) {
    // The field table hands out writable references; here they are only read.
    Registry& fields = const_cast<Registry&>(registry);
    SettingsSnapshot values;
    for (size_t i = 0; i < kKeys.size(); ++i) {
        values[i] = ValueOf(kKeys[i].field(fields));
    }
    return values;
}

std::string FormatSettings(const SettingsSnapshot& values) {
    std::string out;
    out.reserve(2048);
    for (size_t i = 0; i < kKeys.size(); ++i) {
        out += kKeys[i].name;
        out += '=';
        AppendValue(out, values[i]);
        out += "\r\n";
    }
    return out;
}

std::string FormatSettings(const Registry& registry) {
    return FormatSettings(TakeSettingsSnapshot(registry));
}

void ApplySettingsText(std::string_view text, Registry& registry, const VerboseLog* log) {
    // The whole text is read over the values the records hold, checked, and only then stored,
    // so that no record ever holds a value out of range, not even for a moment.
    const SettingsSnapshot before = TakeSettingsSnapshot(registry);
    SettingsSnapshot values = before;
    std::array<bool, kSettingsKeys> given{};
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = WithoutCr(text.substr(0, end));
        if (const int index = KeyOfLine(line); index >= 0) {
            const size_t equals = line.find('=');
            Assign(values[static_cast<size_t>(index)],
                   equals == std::string_view::npos ? line : line.substr(equals + 1));
            given[static_cast<size_t>(index)] = true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    KeepInRange(values, before, log);
    for (size_t i = 0; i < kKeys.size(); ++i) {
        if (given[i]) {
            std::visit([&](auto* member) { Store(*member, values[i]); }, kKeys[i].field(registry));
        }
    }
}

void PublishSettingsRecords(Registry& registry) {
    registry.commsReqState.Publish();
    registry.splitState.Publish();
    registry.senseState.Publish();
    registry.calibRefTL.Publish();
    registry.calibRefTR.Publish();
    registry.calibRefBL.Publish();
    registry.edgeState.Publish();
    registry.outputState.Publish();
    registry.outputPointer.Publish();
    registry.calibState.Publish();
    registry.mouseDamp.Publish();
    registry.driverConfig.Publish();
}

SettingsRead ReadSettingsFile(const std::string& path, Registry& registry, const VerboseLog* log,
                              std::string* error) {
    const FileText file = ReadRegularFile(path, kMaxSettingsBytes);
    if (file.Whole()) {
        ApplySettingsText(file.text, registry, log);
    } else if (error != nullptr) {
        *error = file.error;
    }
    PublishSettingsRecords(registry);
    if (file.Whole()) {
        return SettingsRead::Read;
    }
    return file.outcome == FileText::Outcome::Missing ? SettingsRead::Missing
                                                      : SettingsRead::Refused;
}

bool WriteSettingsFile(const std::string& path, const Registry& registry, std::string* error) {
    const SettingsWriteResult result = WriteSettingsText(path, FormatSettings(registry));
    if (!result.ok && error != nullptr) {
        *error = result.detail;
    }
    return result.ok;
}

SettingsFile::SettingsFile(std::string path, const VerboseLog& log)
    : path_(std::move(path)),
      log_(log),
      saver_(std::make_unique<SettingsSaver>(
          [this](const SettingsSnapshot& values) { Write(values); })) {}

SettingsFile::~SettingsFile() {
    saver_.reset();  // writes what is pending
}

void SettingsFile::Load(Registry& registry) {
    Flush();
    std::string error;
    switch (ReadSettingsFile(path_, registry, &log_, &error)) {
        case SettingsRead::Read:
            log_.Say("read settings from " + path_);
            break;
        case SettingsRead::Missing:
            log_.Say("no settings at " + path_ + "; keeping the current values");
            break;
        case SettingsRead::Refused:
            log_.Warn("cannot read the settings (" + error + "); keeping the current values");
            break;
    }
}

bool SettingsFile::Save(const Registry& registry) {
    saver_->Submit(TakeSettingsSnapshot(registry));
    return true;
}

void SettingsFile::Flush() {
    saver_->Flush();
}

std::optional<bool> SettingsFile::TakeSaveOutcome() {
    const int outcome = outcome_.exchange(kNoOutcome);
    if (outcome == kNoOutcome) {
        return std::nullopt;
    }
    return outcome == kSaved;
}

void SettingsFile::Report(bool ok, const std::string& line) {
    if (ok) {
        if (!lastFailure_.empty()) {
            log_.Warn(line);
        } else {
            log_.Say(line);
        }
        lastFailure_.clear();
    } else if (line != lastFailure_) {
        log_.Warn(line);
        lastFailure_ = line;
    }
    outcome_ = ok ? kSaved : kNotSaved;
}

// On the saver's worker thread.
void SettingsFile::Write(const SettingsSnapshot& values) {
    // The user's configuration folder is made on the first save, not before.
    std::string folderError;
    if (!MakeSettingsFolder(FolderOfFile(path_), &folderError)) {
        Report(false, "could not save settings (" + folderError + "); " + path_ + " is unchanged");
        return;
    }
    const SettingsWriteResult result = WriteSettingsText(path_, FormatSettings(values));
    if (result.ok && !result.inPlace) {
        Report(true, "wrote settings to " + path_);
    } else if (result.ok) {
        Report(true, "wrote settings to " + path_ + " in place, without the protection of a " +
                         "temporary file (" + result.detail + ")");
    } else {
        Report(false, "could not save settings (" + result.detail + "); " + path_ +
                          (result.inPlace ? " may be incomplete" : " is unchanged"));
    }
}

}  // namespace kv
