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

namespace kv {

namespace {

// The record each key's field is in.
DataManipulation& RecordOf(Registry& registry, size_t key) {
    return *registry.Table()[static_cast<size_t>(kSettingRecords[key])].record;
}

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

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The key that takes a line: the one the line begins with (no key begins with another); -1
// for none.
int KeyOfLine(std::string_view line) {
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        const std::string_view key = kSettingFields[i].key;
        if (line.substr(0, key.size()) == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string ValueText(const SettingsValue& value) {
    std::string text;
    AppendValue(text, value);
    return text;
}

// Puts back the values read out of range, and the pairs that only make sense together (the
// split, the region's bounds) where the pair does not; each with a --verbose line.
void KeepInRange(SettingsSnapshot& values, const SettingsSnapshot& before, const VerboseLog* log) {
    auto keep = [&](size_t i, std::string_view why) {
        if (log != nullptr && values[i] != before[i]) {
            log->Say(std::string(kSettingsFileName) + ": " + std::string(kSettingFields[i].key) +
                     "=" + ValueText(values[i]) + " " + std::string(why) + "; keeping " +
                     ValueText(before[i]));
        }
        values[i] = before[i];
    };
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        if (!kSettingFields[i].check.Holds(values[i])) {
            keep(i, "is out of range");
        }
    }
    for (size_t a = 0; a < kSettingFields.size(); ++a) {
        const SettingField& first = kSettingFields[a];
        if (first.pair == PairRule::None) {
            continue;
        }
        size_t b = 0;
        while (kSettingRecords[b] != kSettingRecords[a] ||
               kSettingFields[b].field != first.partner) {
            ++b;  // the table holds the partner (SettingTableHolds)
        }
        if (!PairHolds(first.pair, values[a], values[b])) {
            const std::string aText = std::string(first.key) + "=" + ValueText(values[a]);
            const std::string bText =
                std::string(kSettingFields[b].key) + "=" + ValueText(values[b]);
            keep(a, "is out of range with " + bText);
            keep(b, "is out of range with " + aText);
        }
    }
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
    // The field walk hands out writable references; here they are only read.
    Registry& fields = const_cast<Registry&>(registry);
    SettingsSnapshot values;
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        // Every key names a field of its record (tests/app/settings_file_test.cpp).
        values[i] = LoadField(RecordOf(fields, i), kSettingFields[i].field).value_or(FieldValue{});
    }
    return values;
}

std::string FormatSettings(const SettingsSnapshot& values) {
    std::string out;
    out.reserve(2048);
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        out += kSettingFields[i].key;
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
    for (size_t i = 0; i < kSettingFields.size(); ++i) {
        if (given[i]) {
            StoreField(RecordOf(registry, i), kSettingFields[i].field, values[i]);
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
