// kvctl calibration reset, export and import: the driver's settings as a file, and the
// calibration through DRIVER.INI and a reload (the driver takes no calibration from peers).
#include <algorithm>
#include <memory>

#include "common/posix_file.h"
#include "driver/core/settings_store.h"
#include "driver/settings/settings_file.h"
#include "protocol/setting_fields.h"
#include "tools/kvctl/calibration_file.h"
#include "tools/kvctl/conversation.h"
#include "tools/kvctl/field_assign.h"
#include "tools/kvctl/text_file.h"
#include "tools/kvctl/tuning_file.h"

namespace kv::kvctl {

namespace {

// The driver reloads its file in its two-second task; allow two of them, and the publish.
constexpr int kReloadWaitMs = 6000;

// A tuning file is a few KiB, DRIVER.INI too; anything far larger is not one of them.
constexpr size_t kMaxTuningBytes = 64 * 1024;

// The record a section's values go into (the angle's is Calib/State).
DataManipulation& RecordOf(Registry& records, const TuningSection& section) {
    return *records.Find(section.object, section.topic)->record;
}

// The driver's records of every tuning section, as it holds them now, in a registry of our own.
std::unique_ptr<Registry> CopyOfSections(Registry& records) {
    auto copy = std::make_unique<Registry>(ProgramRole::Controller);
    for (const TuningSection& section : TuningSections()) {
        DataManipulation& to = RecordOf(*copy, section);
        for (const auto& [field, value] : FieldTexts(RecordOf(records, section))) {
            AssignField(to, field + "=" + value);
        }
    }
    return copy;
}

// The driver's DRIVER.INI as it is now, parsed as the driver reads it, and its text; a file
// that does not exist yet stands for what the driver holds now. Empty, with the reason said,
// when it cannot be read.
struct SettingsOnDisk {
    std::string text;
    std::unique_ptr<Registry> values;
};
std::optional<SettingsOnDisk> ReadDriverSettings(Registry& records, const std::string& path,
                                                 CommandIo& io, std::string_view command) {
    FileText file = ReadRegularFile(path, kMaxSettingsBytes);
    if (file.outcome == FileText::Outcome::Missing) {
        file.text = FormatSettings(records);
    } else if (!file.Whole()) {
        io.err << "kvctl " << command << ": cannot read DRIVER.INI (" << file.error
               << "); nothing was changed\n";
        return std::nullopt;
    }
    SettingsOnDisk settings{std::move(file.text), std::make_unique<Registry>(ProgramRole::Driver)};
    ApplySettingsDefaults(*settings.values);
    ApplySettingsText(settings.text, *settings.values);
    return settings;
}

// Replaces DRIVER.INI with text in one step, asks the driver to read it again and waits for the
// records that reload publishes. The calibration comes from the file alone, so the driver must
// then hold wanted's; every other setting the reload took from the file is given back as
// wanted holds it (the settings the driver had not saved yet, and an import's values).
int ReloadInto(Conversation& conversation, CommandIo& io, std::string_view command,
               const std::string& path, const std::string& text, Registry& wanted, int timeoutMs) {
    Registry& records = conversation.Session().Records();
    const SettingsWriteResult written = WriteSettingsText(path, text);
    if (!written.ok) {
        io.err << "kvctl " << command << ": " << written.detail << "; nothing was changed\n";
        return kExitNotDone;
    }
    // A reload publishes the settings, Driver/Config last; the calibration built from them
    // follows, Calib/Ref_BL last. Both in turn, after the request, mark the reload as done.
    const int marks[] = {records.IndexOf(records.driverConfig),
                         records.IndexOf(records.calibRefBL)};
    uint32_t since = records.Arrivals(marks[0]);
    size_t seen = 0;
    if (!conversation.RaiseCounted(records.storeDoLoad)) {
        return kExitNoDriver;
    }
    const Clock& clock = conversation.Session().GetClock();
    const int64_t begin = clock.NowMs();
    const int limit = std::max(timeoutMs, kReloadWaitMs);
    const int32_t sequence = records.storeDoLoad.header.sequence;
    int64_t lastSent = begin;
    while (seen < 2 || !SameCalibration(records, wanted)) {
        if (seen < 2 && records.Arrivals(marks[seen]) != since) {
            ++seen;
            since = seen < 2 ? records.Arrivals(marks[seen]) : 0;
            continue;
        }
        if (conversation.GoneWhileWaiting(records.storeDoLoad, sequence, lastSent)) {
            io.err << "kvctl " << command << ": the driver on " << conversation.PeerName()
                   << " stopped before it read " << path
                   << " again; the file holds the new settings, which it takes when it starts\n";
            return kExitNotDone;
        }
        if (clock.NowMs() - begin >= limit) {
            io.err << "kvctl " << command << ": wrote " << path << ", but the driver on "
                   << conversation.PeerName()
                   << (seen < 2 ? " did not read it again" : " did not take its calibration")
                   << " within " << limit / 1000
                   << " s; does it read another DRIVER.INI? (give it with --settings)\n";
            return kExitNotDone;
        }
        conversation.Session().Poll(kPollMs, nullptr);
    }
    for (const TuningSection& section : TuningSections()) {
        if (section.calibration) {
            continue;
        }
        DataManipulation& live = RecordOf(records, section);
        const auto meant = FieldTexts(RecordOf(wanted, section));
        if (FieldTexts(live) == meant) {
            continue;
        }
        for (const auto& [field, value] : meant) {
            AssignField(live, field + "=" + value);
        }
        if (!conversation.Send(live)) {
            return kExitNoDriver;
        }
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
    Registry& records = conversation.Session().Records();
    // The driver's settings as they are, with only the calibration changed: what it has not
    // saved yet stays as it is, unsaved.
    const std::unique_ptr<Registry> wanted = CopyOfSections(records);
    SetIdentityCalibration(*wanted);
    const std::optional<SettingsOnDisk> saved =
        ReadDriverSettings(records, path, io, "calibration reset");
    if (!saved) {
        return kExitNotDone;
    }
    const int status =
        ReloadInto(conversation, io, "calibration reset", path,
                   WithCalibration(saved->text, *wanted), *wanted, options->timeoutMs);
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

namespace {

// A line of the import file that cannot be taken: said with its place, nothing changed.
int BadLine(CommandIo& io, const std::string& file, int line, const std::string& message) {
    io.err << "kvctl import: " << file << ':' << line << ": " << Printable(message)
           << "; nothing was changed\n";
    return kExitFailure;
}

// The import file's sections; a file that cannot be read or holds none is said.
int ReadImportFile(const std::string& file, CommandIo& io, TuningText& tuning) {
    const FileText text = ReadRegularFile(file, kMaxTuningBytes);
    if (!text.Whole()) {
        io.err << "kvctl import: " << text.error << "; nothing was changed\n";
        // A file of the wrong kind is the caller's mistake; a read that failed is not.
        return text.outcome == FileText::Outcome::Failed ? kExitNotDone : kExitFailure;
    }
    tuning = ParseTuning(text.text);
    if (!tuning.error.empty()) {
        return BadLine(io, file, tuning.errorLine, tuning.error);
    }
    if (tuning.records.empty()) {
        io.err << "kvctl import: " << file
               << " holds no section of settings (is it a file kvctl export wrote?); nothing "
                  "was changed\n";
        return kExitFailure;
    }
    return kExitOk;
}

// The imported values on a copy of the driver's records: each type is checked as it is
// assigned, each record's range as a whole (some fields only make sense together). Every
// section's record is copied, so that a calibration written to the file keeps the driver's
// values of what the import file leaves out.
int WantedRecords(const TuningText& tuning, Registry& records, const std::string& file,
                  CommandIo& io, std::unique_ptr<Registry>& wanted, bool& calibration) {
    wanted = CopyOfSections(records);
    calibration = false;
    for (const TuningRecord& record : tuning.records) {
        DataManipulation& target = RecordOf(*wanted, *record.section);
        const std::map<std::string, std::string> before = FieldTexts(target);
        for (const TuningValue& value : record.values) {
            const AssignOutcome outcome = AssignField(target, value.field + "=" + value.value);
            if (!outcome.ok) {
                return BadLine(io, file, value.line, outcome.error);
            }
        }
        calibration = calibration || record.section->calibration;
        if (record.section->calibration) {
            for (const TuningValue& value : record.values) {
                const SettingField& setting = *record.section->Find(value.field);
                if (!setting.check.Holds(LoadField(target, setting.field).value_or(false))) {
                    return BadLine(io, file, value.line,
                                   value.field + " takes " + RangeText(setting.check));
                }
            }
            const int line = record.values.empty() ? record.line : record.values.front().line;
            if (const std::string problem =
                    ReferencesProblem(wanted->calibRefTL, wanted->calibRefTR, wanted->calibRefBL);
                !problem.empty()) {
                return BadLine(io, file, line, "the calibration is unusable: " + problem);
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
                return BadLine(io, file, value.line,
                               std::string(record.section->record) + " " + value.field + " = " +
                                   value.value + " is out of the range the driver takes");
            }
        }
        return BadLine(io, file, record.line,
                       std::string("the values of [") + record.section->record +
                           "] do not fit together in the range the driver takes");
    }
    return kExitOk;
}

// How many imported values differ from the driver's; each is printed on a dry run.
int CountChanges(const TuningText& tuning, Registry& records, Registry& wanted, bool print,
                 CommandIo& io) {
    int changes = 0;
    for (const TuningRecord& record : tuning.records) {
        const auto now = FieldTexts(RecordOf(records, *record.section));
        const auto then = FieldTexts(RecordOf(wanted, *record.section));
        for (const TuningValue& value : record.values) {
            if (now.at(value.field) != then.at(value.field)) {
                ++changes;
                if (print) {
                    io.out << record.section->record << ' ' << value.field << ": "
                           << now.at(value.field) << " -> " << then.at(value.field) << '\n';
                }
            }
        }
    }
    return changes;
}

// The wanted values into the driver: a calibration through DRIVER.INI and a reload, the rest
// as records.
int ApplyImport(const TuningText& tuning, Conversation& conversation, Registry& records,
                Registry& wanted, bool calibration, const std::string& settingsPath, int timeoutMs,
                CommandIo& io) {
    if (!calibration) {
        for (const TuningRecord& record : tuning.records) {
            DataManipulation& live = RecordOf(records, *record.section);
            for (const auto& [field, value] : FieldTexts(RecordOf(wanted, *record.section))) {
                AssignField(live, field + "=" + value);
            }
            if (!conversation.Send(live)) {
                return kExitNoDriver;
            }
        }
        return kExitOk;
    }
    // The driver takes its calibration only from DRIVER.INI: every imported value goes into
    // the file in one write, so that a driver stopped half-way takes the whole import or none
    // of it when it starts again. The reload then gives back what the driver had not saved,
    // and the save that follows writes it all.
    const std::optional<SettingsOnDisk> saved =
        ReadDriverSettings(records, settingsPath, io, "import");
    if (!saved) {
        return kExitNotDone;
    }
    const auto imported = std::make_unique<Registry>(ProgramRole::Driver);
    ApplySettingsDefaults(*imported);
    ApplySettingsText(saved->text, *imported);
    for (const TuningRecord& record : tuning.records) {
        for (const TuningValue& value : record.values) {
            AssignField(RecordOf(*imported, *record.section), value.field + "=" + value.value);
        }
    }
    return ReloadInto(conversation, io, "import", settingsPath,
                      WithChangedSettings(saved->text, *saved->values, *imported), wanted,
                      timeoutMs);
}

// The imported values the driver does not hold after the import, each said.
int Differences(const TuningText& tuning, Registry& after, Registry& wanted, CommandIo& io) {
    int differing = 0;
    for (const TuningRecord& record : tuning.records) {
        const auto got = FieldTexts(RecordOf(after, *record.section));
        const auto meant = FieldTexts(RecordOf(wanted, *record.section));
        for (const TuningValue& value : record.values) {
            if (got.at(value.field) != meant.at(value.field)) {
                ++differing;
                io.err << "kvctl import: the driver holds " << record.section->record << ' '
                       << value.field << " = " << got.at(value.field) << ", not "
                       << meant.at(value.field) << '\n';
            }
        }
    }
    return differing;
}

}  // namespace

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
    TuningText tuning;
    if (const int status = ReadImportFile(file, io, tuning); status != kExitOk) {
        return status;
    }

    Conversation conversation(env, io, "import");
    EntrySet all;
    all.set();
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    Registry& records = conversation.Session().Records();
    std::unique_ptr<Registry> wanted;
    bool calibration = false;
    if (const int status = WantedRecords(tuning, records, file, io, wanted, calibration);
        status != kExitOk) {
        return status;
    }
    const int changes = CountChanges(tuning, records, *wanted, dryRun, io);
    if (dryRun) {
        io.out << (changes == 0 ? "no change" : std::to_string(changes) + " change(s)")
               << " for the driver on " << conversation.PeerName() << " (dry run)\n";
        return kExitOk;
    }
    if (const int status = ApplyImport(tuning, conversation, records, *wanted, calibration,
                                       settingsPath, options->timeoutMs, io);
        status != kExitOk) {
        return status;
    }
    if (const int status = conversation.SaveConfirmed(std::max(options->timeoutMs, kSaveLimitMs));
        status != kExitOk) {
        return status;
    }
    // Read back: a new hello brings the driver's records as it holds them now.
    if (const int status = conversation.Collect(*options, all, nullptr); status != kExitOk) {
        return status;
    }
    if (Differences(tuning, conversation.Session().Records(), *wanted, io) != 0) {
        return kExitNoDriver;
    }
    io.out << "imported " << file << " into the driver on " << conversation.PeerName() << " ("
           << changes << " change(s)), saved\n";
    return kExitOk;
}

}  // namespace kv::kvctl
