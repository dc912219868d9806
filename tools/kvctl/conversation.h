// What the live kvctl commands share: their options, the table position of a record by name,
// and the conversation with the driver (link, hello, collected records, counted events).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/registry.h"
#include "tools/kvctl/commands.h"
#include "tools/kvctl/live_commands.h"
#include "tools/kvctl/live_session.h"
#include "tools/kvctl/record_json.h"
#include "transport/network.h"

namespace kv::kvctl {

// The controller's presence period; the driver stops talking after 5 s without one.
inline constexpr int64_t kPresenceMs = 2000;
inline constexpr int kPollMs = 100;
inline constexpr double kLongestTimeoutS = 3600.0;

struct LiveOptions {
    uint16_t port = kDriverPort;
    int timeoutMs = kDefaultTimeoutMs;
    bool save = false;
    bool trustLoopback = false;
    std::vector<std::string_view> words;  // everything that is not an option
};

// --port N, --timeout S and (where allowed) --save; "--name=value" works too.
std::optional<LiveOptions> ParseLiveOptions(const Arguments& args, std::string_view command,
                                            bool allowSave, CommandIo& io);
// The options of a command that takes nothing besides --port and --timeout; empty, with the
// usage said, when there is more.
std::optional<LiveOptions> ParseOptionsOnly(const Arguments& args, std::string_view command,
                                            CommandIo& io);
// The table position of the record named "Object/Topic" (or "END"), from the table itself.
std::optional<int> RecordIndex(std::string_view name);
int UnknownRecord(CommandIo& io, std::string_view command, std::string_view name);
// Takes the words a command has of its own out of the arguments (flags, and options with a
// value as "--name VALUE" or "--name=VALUE"); the rest are the live options. missing names an
// option given without its value.
Arguments TakeOwnOptions(const Arguments& args, const std::vector<std::string_view>& flags,
                         const std::vector<std::string_view>& valued,
                         std::vector<std::pair<std::string_view, std::string_view>>& found,
                         std::string& missing);

// kvctl's counted events move the driver's sequence a quarter of the 32-bit range on, so
// they stay clear of the Controller's, which counts up by one from what the driver sent it:
// a Controller request is never taken for one already handled.
inline constexpr uint32_t kToolSequenceStep = 0x40000000u;

inline constexpr int kStoreDoSave = Registry::IndexOf("Store", "DoSave");
inline constexpr int kStoreDoLoad = Registry::IndexOf("Store", "DoLoad");
inline constexpr int kDriverDoStop = Registry::IndexOf("Driver", "DoStop");
inline constexpr int kStoreState = Registry::IndexOf("Store", "State");
static_assert(kStoreDoSave >= 0 && kStoreDoLoad >= 0 && kDriverDoStop >= 0 && kStoreState >= 0);
// How long a save may take to be confirmed at least: the driver writes and syncs the file on a
// thread of its own, and a slow card takes its time.
inline constexpr int kSaveLimitMs = 10000;
// How often a stop request goes again while waiting for the driver to end.
inline constexpr int64_t kStopRepeatMs = 250;

// Opens the link, says hello and collects the wanted records; reports failures itself.
class Conversation {
public:
    Conversation(const LiveEnvironment& env, CommandIo& io, std::string_view command)
        : env_(env), io_(io), command_(command) {}

    // kExitOk when every wanted record arrived.
    int Collect(const LiveOptions& options, const EntrySet& wanted, Snapshot* snapshot) {
        std::string error;
        link_ = env_.open(options.port, options.trustLoopback, error);
        if (!link_) {
            io_.err << "kvctl " << command_ << ": " << error << '\n';
            return kExitNoDriver;
        }
        session_ = std::make_unique<LiveSession>(*link_, env_.clock);
        switch (session_->Collect(wanted, options.timeoutMs, snapshot)) {
            case CollectOutcome::Complete:
                return kExitOk;
            case CollectOutcome::NoAnswer:
                if (const std::string refusal = link_->Refusal(); !refusal.empty()) {
                    io_.err << "kvctl " << command_ << ": " << refusal << '\n';
                    return kExitNoDriver;
                }
                io_.err << "driver not answering on " << link_->PeerName() << '\n';
                return kExitNoDriver;
            case CollectOutcome::Incomplete:
                io_.err << "kvctl " << command_ << ": the driver on " << link_->PeerName()
                        << " stopped answering before it sent every record\n";
                return kExitNoDriver;
        }
        return kExitNoDriver;
    }

    LiveSession& Session() { return *session_; }
    std::string PeerName() const { return link_->PeerName(); }
    // The driver has ended: the system refuses datagrams to its port.
    bool PeerGone() const { return link_->PeerGone(); }
    // While waiting for the answer to a raised event: sends the same request again every so
    // often (the driver takes a sequence once, so this changes nothing), which is what makes the
    // system say that the driver has gone. True once it has.
    bool GoneWhileWaiting(SetValue& event, int32_t sequence, int64_t& lastSent) {
        const int64_t now = env_.clock.NowMs();
        if (now - lastSent >= kStopRepeatMs) {
            // What the driver said meanwhile may have overwritten our copy.
            event.header.eventValid = 1;
            event.header.sequence = sequence;
            event.Send();
            lastSent = now;
        }
        return link_->PeerGone();
    }

    // Sends a record through the session; says so when the system refused it.
    bool Send(DataManipulation& record) {
        if (record.Send() > 0) {
            return true;
        }
        io_.err << "kvctl " << command_ << ": could not send " << RecordName(record.Registration())
                << " to " << link_->PeerName() << '\n';
        return false;
    }

    bool RaiseCounted(SetValue& event) {
        event.header.eventValid = 1;
        // Wraps like the driver's 32-bit word; the new value differs from any handled one.
        event.header.sequence =
            static_cast<int32_t>(static_cast<uint32_t>(event.header.sequence) + kToolSequenceStep);
        return Send(event);
    }

    // Raises Store/DoSave and waits for the driver's word on it: after each save it writes,
    // the driver publishes Store/State, set when the save failed. Says what went wrong and
    // returns kExitNotDone when the save failed or was not confirmed within limitMs. The
    // records collected before must include Store/State, so that the copy of a publish-all
    // still under way is not taken for the answer.
    int SaveConfirmed(int limitMs) {
        Registry& records = session_->Records();
        const int index = records.IndexOf(records.storeState);
        const uint32_t before = records.Arrivals(index);
        if (!RaiseCounted(records.storeDoSave)) {
            return kExitNoDriver;
        }
        const int64_t begin = env_.clock.NowMs();
        const int32_t sequence = records.storeDoSave.header.sequence;
        int64_t lastSent = begin;
        while (records.Arrivals(index) == before) {
            if (GoneWhileWaiting(records.storeDoSave, sequence, lastSent)) {
                io_.err << "kvctl " << command_ << ": the driver on " << link_->PeerName()
                        << " stopped before it saved\n";
                return kExitNotDone;
            }
            if (env_.clock.NowMs() - begin >= limitMs) {
                io_.err << "kvctl " << command_ << ": the driver on " << link_->PeerName()
                        << " did not say within " << limitMs / 1000
                        << " s whether it saved its settings\n";
                return kExitNotDone;
            }
            session_->Poll(kPollMs, nullptr);
        }
        if (records.storeState.State) {
            io_.err << "kvctl " << command_ << ": the driver on " << link_->PeerName()
                    << " could not save its settings to DRIVER.INI (its standard error, or the "
                       "journal, says why); they hold until it stops\n";
            return kExitNotDone;
        }
        return kExitOk;
    }

    // After a raised stop: true once the system refuses datagrams to the driver's port, that
    // is once the driver has ended. The same request goes again every so often: that is what
    // brings the refusal, and the driver takes a sequence only once, so a request lost on the
    // way is made good and a taken one changes nothing.
    bool AwaitEnd(SetValue& event, int limitMs) {
        const int32_t sequence = event.header.sequence;
        const int64_t begin = env_.clock.NowMs();
        int64_t lastSent = begin;
        while (!link_->PeerGone()) {
            const int64_t now = env_.clock.NowMs();
            if (now - begin >= limitMs) {
                io_.err << "kvctl " << command_ << ": the driver on " << link_->PeerName()
                        << " is still running " << limitMs / 1000 << " s after the request\n";
                return false;
            }
            GoneWhileWaiting(event, sequence, lastSent);
            session_->Poll(kPollMs, nullptr);
        }
        return true;
    }

private:
    const LiveEnvironment& env_;
    CommandIo& io_;
    std::string_view command_;
    std::unique_ptr<DatagramLink> link_;
    std::unique_ptr<LiveSession> session_;
};

}  // namespace kv::kvctl
