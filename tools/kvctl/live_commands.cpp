// The live kvctl commands on LiveSession: status, get, set, save, load, stop and monitor.
#include "tools/kvctl/live_commands.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "common/command_line.h"
#include "protocol/setting_fields.h"
#include "tools/kvctl/conversation.h"
#include "tools/kvctl/field_assign.h"
#include "tools/kvctl/foil_health.h"
#include "tools/kvctl/frame_decode.h"
#include "tools/kvctl/live_session.h"
#include "tools/kvctl/monitor_view.h"
#include "tools/kvctl/record_json.h"
#include "tools/kvctl/text_file.h"
#include "transport/network.h"

namespace kv::kvctl {

namespace {

// How long kvctl stop waits for the driver to end (or --timeout, if longer): its next frame,
// then a publish-all it may be in the middle of, then its shutdown.
constexpr int kDriverEndLimitMs = 10000;

// Prints the kept frames in table order, each as kvctl decode prints it.
void PrintSnapshot(const Snapshot& snapshot, const EntrySet& which, std::ostream& out) {
    DatagramDecoder decoder;
    for (size_t i = 0; i < snapshot.frames.size(); ++i) {
        if (which.test(i)) {
            const auto& frame = snapshot.frames[i];
            decoder.Decode(frame.data(), frame.size(), out);
        }
    }
    out.flush();
}

// Collects the wanted records from the driver and prints them as PrintSnapshot does.
int PrintRecords(const LiveOptions& options, const EntrySet& wanted, CommandIo& io,
                 const LiveEnvironment& env, std::string_view command) {
    Snapshot snapshot;
    Conversation conversation(env, io, command);
    if (const int status = conversation.Collect(options, wanted, &snapshot); status != kExitOk) {
        return status;
    }
    PrintSnapshot(snapshot, wanted, io.out);
    return kExitOk;
}

int RunEvent(const Arguments& args, CommandIo& io, const LiveEnvironment& env,
             std::string_view command, int eventIndex) {
    const auto options = ParseOptionsOnly(args, command, io);
    if (!options) {
        return kExitFailure;
    }
    // The driver's current sequence comes with its record; ours moves on from it.
    const auto index = static_cast<size_t>(eventIndex);
    Conversation conversation(env, io, command);
    EntrySet wanted;
    wanted.set(index);
    if (eventIndex == kStoreDoSave) {
        wanted.set(static_cast<size_t>(kStoreState));
    }
    if (const int status = conversation.Collect(*options, wanted, nullptr); status != kExitOk) {
        return status;
    }
    if (eventIndex == kStoreDoSave) {
        return conversation.SaveConfirmed(std::max(options->timeoutMs, kSaveLimitMs));
    }
    auto& event = static_cast<SetValue&>(*conversation.Session().Records().Table()[index].record);
    if (!conversation.RaiseCounted(event)) {
        return kExitNoDriver;
    }
    if (eventIndex == kDriverDoStop) {
        // Done only once the driver has gone: a stop that did not happen is not reported as
        // one.
        return conversation.AwaitEnd(event, std::max(options->timeoutMs, kDriverEndLimitMs))
                   ? kExitOk
                   : kExitNoDriver;
    }
    return kExitOk;
}

// How long health and metrics watch the driver after its records arrived: a little over the
// driver's two-second status period, for the signal level; and how long at most, for proof
// that its main loop runs. The receive thread answers a hello with the records as they are, so
// only what the loop sends after that is fresh: its heartbeat, due every 2 s, and a signal
// level for every frame it processes.
constexpr int64_t kHealthWatchMs = 2500;
constexpr int64_t kFreshLimitMs = 6000;
// After the heartbeat, the same two-second task publishes the link status.
constexpr int64_t kAfterBeatMs = 200;

// What the driver sends while health watches: the lowest finite signal level, the frames it
// processed and whether its heartbeat moved.
class FoilWatch final : public FrameListener {
public:
    explicit FoilWatch(const Registry& records) : records_(records) {}
    void OnFrame(int index, DataManipulation& record, const uint8_t* frame,
                 size_t length) override {
        (void)frame, (void)length;
        // A publish-all runs from the first record to the end marker; the driver answers a new
        // peer's hello with two.
        if (index == 0) {
            inPublishAll_ = true;
        } else if (index == Registry::kEntries - 1) {
            inPublishAll_ = false;
        }
        if (&record == &records_.driverDoHeartBeat) {
            const int32_t sequence = records_.driverDoHeartBeat.header.sequence;
            if (!firstBeat_) {
                firstBeat_ = sequence;
            } else if (sequence != *firstBeat_ && !heartbeatMoved) {
                heartbeatMoved = true;
                movedAtMs = records_.GetClock().NowMs();
            }
            return;
        }
        if (&record != &records_.senseStatus) {
            return;
        }
        // A publish-all's copy may be the last of a loop that has stopped.
        framesHeard += watching && !inPublishAll_ ? 1 : 0;
        const float value = records_.senseStatus.Value;
        if (std::isfinite(value) && (!quietest || value < *quietest)) {
            quietest = value;
        }
    }
    // Fresh evidence is complete: the heartbeat moved a little while ago and, with a board,
    // frames came.
    bool Complete(int64_t now) const {
        return heartbeatMoved && now - movedAtMs >= kAfterBeatMs &&
               (!records_.commsActStatus.Connected || framesHeard > 0);
    }

    std::optional<float> quietest;
    bool watching = false;  // the publish-all is complete
    bool heartbeatMoved = false;
    int64_t movedAtMs = 0;
    int framesHeard = 0;

private:
    const Registry& records_;
    std::optional<int32_t> firstBeat_;
    bool inPublishAll_ = false;
};

// The foil's state as the driver on the port tells it: its records, then what it sends while
// watched for kHealthWatchMs, or until its main loop has shown it runs (kFreshLimitMs at most).
FoilState ProbeFoil(const LiveOptions& options, const LiveEnvironment& env) {
    FoilState state;
    state.peer = "127.0.0.1:" + std::to_string(options.port);
    std::string error;
    const auto link = env.open(options.port, options.trustLoopback, error);
    if (!link) {
        return state;
    }
    state.peer = link->PeerName();
    LiveSession session(*link, env.clock);
    Registry& records = session.Records();
    FoilWatch watch(records);
    EntrySet all;
    all.set();
    if (session.Collect(all, options.timeoutMs, nullptr, &watch) != CollectOutcome::Complete) {
        return state;
    }
    state.driver = true;
    watch.watching = true;
    const int64_t begin = env.clock.NowMs();
    int64_t lastSent = begin;
    for (int64_t now = begin; now - begin < kFreshLimitMs; now = env.clock.NowMs()) {
        if (now - begin >= kHealthWatchMs && watch.Complete(now)) {
            break;
        }
        if (now - lastSent >= kPresenceMs) {
            // The driver stops sending after 5 s without a word from us.
            records.clientClient.Present = true;
            records.clientClient.Send();
            lastSent = now;
        }
        session.Poll(kPollMs, &watch);
    }
    state.watchedSeconds = static_cast<double>(env.clock.NowMs() - begin) / 1000.0;
    state.heartbeatMoved = watch.heartbeatMoved;
    state.framesHeard = watch.framesHeard;
    state.board = records.commsActStatus.Connected;
    state.framesPerSecond = records.commsActStatus.FramesLastPeriod / kStatusPeriodSeconds;
    state.quietestLevel = watch.quietest;
    state.pressThreshold = records.senseState.PressThreshold;
    state.touchMode = records.outputState.Selection;
    state.outputEnabled = records.outputState.Enable;
    state.version = VersionOf(records.copyrightState.Lines[1].View());
    return state;
}

}  // namespace

int RunStatus(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    const auto options = ParseOptionsOnly(args, "status", io);
    if (!options) {
        return kExitFailure;
    }
    EntrySet all;
    all.set();
    return PrintRecords(*options, all, io, env, "status");
}

int RunGet(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    const auto options = ParseLiveOptions(args, "get", false, io);
    if (!options) {
        return kExitFailure;
    }
    if (options->words.size() != 1) {
        return Usage(io, "get", "name one record as OBJECT/TOPIC");
    }
    const auto index = RecordIndex(options->words[0]);
    if (!index) {
        return UnknownRecord(io, "get", options->words[0]);
    }
    EntrySet wanted;
    wanted.set(static_cast<size_t>(*index));
    return PrintRecords(*options, wanted, io, env, "get");
}

int RunSet(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    const auto options = ParseLiveOptions(args, "set", true, io);
    if (!options) {
        return kExitFailure;
    }
    if (options->words.empty()) {
        return Usage(io, "set", "name the record as OBJECT/TOPIC, then FIELD=VALUE ...");
    }
    const std::string_view name = options->words[0];
    const auto index = RecordIndex(name);
    if (!index) {
        return UnknownRecord(io, "set", name);
    }
    const std::vector<std::string_view> assignments(options->words.begin() + 1,
                                                    options->words.end());
    if (assignments.empty()) {
        return Usage(io, "set", "give at least one FIELD=VALUE for " + std::string(name));
    }
    // Every assignment is checked on a record of our own before anything is sent.
    {
        auto scratch = std::make_unique<Registry>(ProgramRole::Controller);
        DataManipulation& record = *scratch->Table()[static_cast<size_t>(*index)].record;
        PrepareForAssignment(record);
        for (const std::string_view assignment : assignments) {
            const AssignOutcome outcome = AssignField(record, assignment);
            if (!outcome.ok) {
                return Usage(io, "set", outcome.error);
            }
        }
    }

    EntrySet wanted;
    wanted.set(static_cast<size_t>(*index));
    if (options->save) {
        wanted.set(static_cast<size_t>(kStoreDoSave));
        wanted.set(static_cast<size_t>(kStoreState));
    }
    Conversation conversation(env, io, "set");
    if (const int status = conversation.Collect(*options, wanted, nullptr); status != kExitOk) {
        return status;
    }
    // The driver's record as it holds it now, with only the named fields changed.
    Registry& records = conversation.Session().Records();
    DataManipulation& record = *records.Table()[static_cast<size_t>(*index)].record;
    PrepareForAssignment(record);
    for (const std::string_view assignment : assignments) {
        const AssignOutcome outcome = AssignField(record, assignment);
        if (!outcome.ok) {
            return Usage(io, "set", outcome.error);
        }
        if (!outcome.notice.empty()) {
            io.err << "kvctl set: " << outcome.notice << '\n';
        }
    }
    // What the driver would refuse (and answer with its own copy) is not sent: say why instead.
    if (!Registry::DriverTakesFromPeers(*index)) {
        return Usage(
            io, "set",
            "the driver keeps " + std::string(name) + " to itself and takes no copy of it");
    }
    if (!InRangeAt(records, *index)) {
        return Usage(io, "set",
                     "a value of " + std::string(name) +
                         " is out of the range the driver takes; nothing was sent");
    }
    if (!conversation.Send(record)) {
        return kExitNoDriver;
    }
    if (options->save) {
        return conversation.SaveConfirmed(std::max(options->timeoutMs, kSaveLimitMs));
    }
    return kExitOk;
}

int RunSave(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    return RunEvent(args, io, env, "save", kStoreDoSave);
}

int RunLoad(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    return RunEvent(args, io, env, "load", kStoreDoLoad);
}

int RunStop(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    return RunEvent(args, io, env, "stop", kDriverDoStop);
}

int RunMonitor(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    const auto options = ParseOptionsOnly(args, "monitor", io);
    if (!options) {
        return kExitFailure;
    }
    std::string error;
    const auto link = env.open(options->port, options->trustLoopback, error);
    if (!link) {
        io.err << "kvctl monitor: " << error << '\n';
        return kExitNoDriver;
    }
    const std::string peer = link->PeerName();
    LiveSession session(*link, env.clock);
    Registry& records = session.Records();
    MonitorView view(records, env.clock, io.out);
    io.out << "monitoring the driver on " << peer << " (Ctrl-C ends)\n";
    io.out.flush();

    const Clock& clock = env.clock;
    const int64_t begin = clock.NowMs();
    int64_t lastSent = begin;
    int64_t lastHeard = begin;
    bool answered = false;
    bool silent = false;       // said that the driver went quiet
    bool saidWaiting = false;  // said that nothing answers yet
    session.SayHello();
    while (!env.stopRequested()) {
        if (!io.out) {
            // Nobody reads the lines any more (a closed pipe: SIGPIPE is ignored).
            return kExitOutputClosed;
        }
        if (session.Poll(kPollMs, &view)) {
            lastHeard = clock.NowMs();
            if (!answered || silent) {
                io.out << "driver answering on " << peer << '\n';
                io.out.flush();
            }
            answered = true;
            silent = false;
        }
        view.Tick();
        const int64_t now = clock.NowMs();
        if (now - lastSent >= kPresenceMs) {
            // Until the driver answers, a hello asks for everything; after that the presence
            // record keeps it talking, as the Controller's does. A driver that restarted
            // answers the presence record with a publish-all of its own.
            if (answered) {
                // The driver's publish-all brings its own copy, which says absent.
                records.clientClient.Present = true;
                records.clientClient.Send();
            } else {
                session.SayHello();
            }
            lastSent = now;
        }
        if (!answered && !saidWaiting && now - begin >= options->timeoutMs) {
            io.out << "driver not answering on " << peer << "; waiting for it\n";
            io.out.flush();
            saidWaiting = true;
        }
        if (answered && !silent && now - lastHeard >= kPeerSilenceMs) {
            // A driver without a sensor board, or one that has ended.
            io.out << "driver silent on " << peer << " for " << kPeerSilenceMs / 1000 << " s\n";
            io.out.flush();
            silent = true;
        }
    }
    return kExitOk;
}

int RunHealth(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    std::vector<std::pair<std::string_view, std::string_view>> own;
    std::string missing;
    const Arguments rest = TakeOwnOptions(args, {"--json"}, {"--min-fps"}, own, missing);
    if (!missing.empty()) {
        return Usage(io, "health", missing + " needs a value");
    }
    bool json = false;
    double minFps = kDefaultMinFramesPerSecond;
    for (const auto& [name, value] : own) {
        if (name == "--json") {
            json = true;
        } else {
            const auto fps = ParseReal(value);
            if (!fps || !(*fps >= 0.0f && *fps <= 10000.0f)) {
                return Usage(io, "health",
                             "--min-fps takes frames per second from 0 to 10000, not '" +
                                 std::string(value) + "'");
            }
            minFps = *fps;
        }
    }
    const auto options = ParseOptionsOnly(rest, "health", io);
    if (!options) {
        return kExitFailure;
    }
    const FoilState state = ProbeFoil(*options, env);
    const HealthVerdict verdict = Judge(state, minFps);
    io.out << (json ? HealthJson(state, verdict) : verdict.line) << '\n';
    io.out.flush();
    return verdict.status;
}

int RunMetrics(const Arguments& args, CommandIo& io, const LiveEnvironment& env) {
    std::vector<std::pair<std::string_view, std::string_view>> own;
    std::string missing;
    const Arguments rest = TakeOwnOptions(args, {}, {"--textfile"}, own, missing);
    if (!missing.empty()) {
        return Usage(io, "metrics", missing + " needs a folder");
    }
    const auto options = ParseOptionsOnly(rest, "metrics", io);
    if (!options) {
        return kExitFailure;
    }
    const std::string text = MetricsText(ProbeFoil(*options, env));
    if (own.empty()) {
        io.out << text;
        io.out.flush();
        return kExitOk;
    }
    std::string error;
    if (!WriteFileAtomically(std::string(own.back().second), kMetricsFile, text, error)) {
        io.err << "kvctl metrics: " << error << '\n';
        return kExitNotDone;
    }
    return kExitOk;
}

}  // namespace kv::kvctl
