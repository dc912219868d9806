// kvctl calibration reset, export and import: the driver's settings as a file, and the
// calibration through DRIVER.INI and a reload (the driver takes no calibration from peers).
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "driver/settings/settings_file.h"
#include "messaging/record_ranges.h"
#include "tools/kvctl/calibration_file.h"
#include "tools/kvctl/conversation.h"
#include "tools/kvctl/field_assign.h"
#include "tools/kvctl/text_file.h"
#include "tools/kvctl/tuning_file.h"

namespace kv::kvctl {

namespace {

// The driver reloads its file in its two-second task; allow two of them, and the publish.
constexpr int kReloadWaitMs = 6000;

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The record a section's values go into: the angle is a field of Calib/State.
DataManipulation& RecordOf(Registry& records, const TuningSection& section) {
    const std::string_view name =
        std::strcmp(section.record, "Calib/Angle") == 0 ? "Calib/State" : section.record;
    return *FindRecord(records, name);
}

// Rewrites the calibration keys of the file at path with the calibration the records hold,
// asks the driver to read the file again and waits until it publishes that calibration.
int ReloadCalibration(Conversation& conversation, CommandIo& io, std::string_view command,
                      const std::string& path, const Registry& calibration, int timeoutMs) {
    Registry& records = conversation.Session().Records();
    // A driver that never saved has no file yet: start from what it holds now.
    const std::string text = ReadWholeFile(path).value_or(FormatSettings(records));
    const SettingsWriteResult written = WriteSettingsText(path, WithCalibration(text, calibration));
    if (!written.ok) {
        io.err << "kvctl " << command << ": " << written.detail << '\n';
        return kExitFailure;
    }
    if (!conversation.RaiseCounted(records.storeDoLoad)) {
        return kExitNoDriver;
    }
    const Clock& clock = conversation.Session().GetClock();
    const int64_t begin = clock.NowMs();
    const int limit = std::max(timeoutMs, kReloadWaitMs);
    while (!SameCalibration(records, calibration)) {
        if (clock.NowMs() - begin >= limit) {
            io.err << "kvctl " << command << ": wrote " << path
                   << ", but the driver did not take it within " << limit / 1000
                   << " s; does it read another DRIVER.INI? (give it with --settings)\n";
            return kExitNoDriver;
        }
        conversation.Session().Poll(kPollMs, nullptr);
    }
    return kExitOk;
}

}  // namespace

int RunCalibration(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    std::vector<std::pair<std::string_view, std::string_view>> own;
    std::string missing;
    const Arguments rest = TakeOwnOptions(args, {}, {"--settings"}, own, missing);
    if (!missing.empty()) {
        return Usage(io, "calibration", missing + " needs the path of DRIVER.INI");
    }
    const auto options = ParseLiveOptions(rest, "calibration", false, io);
    if (!options) {
        return kExitFailure;
    }
    if (options->words.size() != 1 || options->words[0] != "reset") {
        return Usage(io, "calibration", "the one action is reset");
    }
    const std::string path = own.empty() ? DefaultSettingsPath() : std::string(own.back().second);
    Conversation conversation(env, io, "calibration reset");
    EntrySet all;
    all.set();
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    const auto identity = std::make_unique<Registry>(ProgramRole::Controller);
    SetIdentityCalibration(*identity);
    const int status = ReloadCalibration(conversation, io, "calibration reset", path, *identity,
                                         options->timeoutMs);
    if (status == kExitOk) {
        io.out << "the driver on " << conversation.PeerName()
               << " now maps touches with the identity calibration (" << path << ")\n";
    }
    return status;
}

int RunExport(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    std::vector<std::pair<std::string_view, std::string_view>> own;
    std::string missing;
    const Arguments rest = TakeOwnOptions(args, {"--with-calibration"}, {}, own, missing);
    const auto options = ParseLiveOptions(rest, "export", false, io);
    if (!options) {
        return kExitFailure;
    }
    if (options->words.size() != 1) {
        return Usage(io, "export", "give the file to write, or - for standard output");
    }
    Conversation conversation(env, io, "export");
    EntrySet all;
    all.set();
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    const std::string text =
        FormatTuning(conversation.Session().Records(), !own.empty(), conversation.PeerName());
    const std::string target(options->words[0]);
    if (target == "-") {
        io.out << text;
        io.out.flush();
        return kExitOk;
    }
    std::string error;
    if (!WriteUserFile(target, text, error)) {
        io.err << "kvctl export: " << error << '\n';
        return kExitNotDone;
    }
    return kExitOk;
}

int RunImport(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    std::vector<std::pair<std::string_view, std::string_view>> own;
    std::string missing;
    const Arguments rest = TakeOwnOptions(args, {"--dry-run"}, {"--settings"}, own, missing);
    if (!missing.empty()) {
        return Usage(io, "import", missing + " needs the path of DRIVER.INI");
    }
    bool dryRun = false;
    std::string settingsPath = DefaultSettingsPath();
    for (const auto& [name, value] : own) {
        if (name == "--dry-run") {
            dryRun = true;
        } else {
            settingsPath = std::string(value);
        }
    }
    const auto options = ParseLiveOptions(rest, "import", false, io);
    if (!options) {
        return kExitFailure;
    }
    if (options->words.size() != 1) {
        return Usage(io, "import", "give the file that kvctl export wrote");
    }
    const std::string file(options->words[0]);
    const std::optional<std::string> text = ReadWholeFile(file);
    if (!text) {
        io.err << "kvctl import: cannot read " << file << '\n';
        return kExitFailure;
    }
    const auto bad = [&io, &file](int line, const std::string& message) {
        io.err << "kvctl import: " << file << ':' << line << ": " << message
               << "; nothing was changed\n";
        return kExitFailure;
    };
    const TuningText tuning = ParseTuning(*text);
    if (!tuning.error.empty()) {
        return bad(tuning.errorLine, tuning.error);
    }

    Conversation conversation(env, io, "import");
    EntrySet all;
    all.set();
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    Registry& records = conversation.Session().Records();
    // The values go onto a copy of the driver's records: each type is checked as it is
    // assigned, each record's range as a whole (some fields only make sense together).
    const auto wanted = std::make_unique<Registry>(ProgramRole::Controller);
    // Every section's record, so that a calibration written to the file keeps the driver's
    // values of what the import file leaves out.
    for (const TuningSection& section : TuningSections()) {
        DataManipulation& copy = RecordOf(*wanted, section);
        for (const auto& [field, value] : FieldTexts(RecordOf(records, section))) {
            AssignField(copy, field + "=" + value);
        }
    }
    bool calibration = false;
    for (const TuningRecord& record : tuning.records) {
        DataManipulation& target = RecordOf(*wanted, *record.section);
        const std::map<std::string, std::string> before = FieldTexts(target);
        for (const TuningValue& value : record.values) {
            const AssignOutcome outcome = AssignField(target, value.field + "=" + value.value);
            if (!outcome.ok) {
                return bad(value.line, outcome.error);
            }
        }
        calibration = calibration || record.section->calibration;
        if (record.section->calibration) {
            if (!ranges::kAngle.Holds(wanted->calibState.Angle)) {
                return bad(record.values.empty() ? record.line : record.values.front().line,
                           "Angle takes 0..3 quarter turns");
            }
            continue;
        }
        const int index = RecordIndex(RecordName(target.Registration())).value_or(-1);
        if (InRangeAt(*wanted, index)) {
            continue;
        }
        // The first line that, put back alone, brings the record into range is the bad one.
        for (const TuningValue& value : record.values) {
            AssignField(target, value.field + "=" + before.at(value.field));
            const bool fits = InRangeAt(*wanted, index);
            AssignField(target, value.field + "=" + value.value);
            if (fits) {
                return bad(value.line, std::string(record.section->record) + " " + value.field +
                                           " = " + value.value +
                                           " is out of the range the driver takes");
            }
        }
        return bad(record.line, std::string("the values of [") + record.section->record +
                                    "] do not fit together in the range the driver takes");
    }

    // What would change, or what is about to.
    int changes = 0;
    for (const TuningRecord& record : tuning.records) {
        const auto now = FieldTexts(RecordOf(records, *record.section));
        const auto then = FieldTexts(RecordOf(*wanted, *record.section));
        for (const TuningValue& value : record.values) {
            if (now.at(value.field) != then.at(value.field)) {
                ++changes;
                if (dryRun) {
                    io.out << record.section->record << ' ' << value.field << ": "
                           << now.at(value.field) << " -> " << then.at(value.field) << '\n';
                }
            }
        }
    }
    if (dryRun) {
        io.out << (changes == 0 ? "no change" : std::to_string(changes) + " change(s)")
               << " for the driver on " << conversation.PeerName() << " (dry run)\n";
        return kExitOk;
    }

    // The calibration first: reading DRIVER.INI again sets every setting from the file.
    if (calibration) {
        if (const int status = ReloadCalibration(conversation, io, "import", settingsPath, *wanted,
                                                 options->timeoutMs);
            status != kExitOk) {
            return status;
        }
    }
    for (const TuningRecord& record : tuning.records) {
        if (record.section->calibration) {
            continue;
        }
        DataManipulation& live = RecordOf(records, *record.section);
        for (const auto& [field, value] : FieldTexts(RecordOf(*wanted, *record.section))) {
            AssignField(live, field + "=" + value);
        }
        if (!conversation.Send(live)) {
            return kExitNoDriver;
        }
    }
    if (!conversation.RaiseCounted(records.storeDoSave)) {
        return kExitNoDriver;
    }
    // Read back: a new hello brings the driver's records as it holds them now.
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    Registry& after = conversation.Session().Records();
    int differing = 0;
    for (const TuningRecord& record : tuning.records) {
        const auto got = FieldTexts(RecordOf(after, *record.section));
        const auto meant = FieldTexts(RecordOf(*wanted, *record.section));
        for (const TuningValue& value : record.values) {
            if (got.at(value.field) != meant.at(value.field)) {
                ++differing;
                io.err << "kvctl import: the driver holds " << record.section->record << ' '
                       << value.field << " = " << got.at(value.field) << ", not "
                       << meant.at(value.field) << '\n';
            }
        }
    }
    if (differing != 0) {
        return kExitNoDriver;
    }
    io.out << "imported " << file << " into the driver on " << conversation.PeerName() << " ("
           << changes << " change(s)), saved\n";
    return kExitOk;
}

}  // namespace kv::kvctl
