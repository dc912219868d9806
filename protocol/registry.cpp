// Registration table, delivery, liveness and publish-all.
#include "protocol/registry.h"

#include "protocol/record_ranges.h"

namespace kv {

namespace {

// Copies every wire field of one record into another of its class, each written once: a
// thread reading the target sees each field either as it was or as it is now. The target's
// fields are walked first for their addresses, then the source's for their values.
class FieldCopier {
public:
    template <class R>
    static void Copy(R& from, R& to) {
        FieldCopier copier;
        to.Fields(copier);
        copier.storing_ = true;
        from.Fields(copier);
    }
    template <class T>
    void Size(T& field) {
        Visit(field);
    }
    template <class T>
    void Int(const char*, T& field) {
        Visit(field);
    }
    template <class T>
    void Real(const char*, T& field) {
        Visit(field);
    }
    template <class T>
    void Flag(const char*, T& field) {
        Visit(field);
    }
    void BeginArray(const char*, int32_t) {}
    void EndArray() {}

private:
    template <class T>
    void Visit(T& field) {
        if (!storing_) {
            at_[count_++] = &field;
        } else {
            *static_cast<T*>(at_[next_++]) = field.Load();
        }
    }
    std::array<void*, 16> at_{};  // the largest settings record has ten fields
    size_t count_ = 0;
    size_t next_ = 0;
    bool storing_ = false;
};

// Moves a pair of region bounds in the order that keeps low below high between the two writes,
// for a reader on another thread.
void MoveBounds(Relaxed<float>& low, Relaxed<float>& high, float newLow, float newHigh) {
    if (newLow < high) {
        low = newLow;
        high = newHigh;
    } else {
        high = newHigh;
        low = newLow;
    }
}

// What the driver's registry does with a peer's frame for a record.
enum class PeerWrite : uint8_t {
    Take,         // parsed into the record, as every frame is on the controller's side
    Refuse,       // the driver's own state: dropped
    Check,        // a setting: parsed into a scratch copy, committed when in range
    Acknowledge,  // an event the driver raises: the peer may only clear event valid
};

// What a peer may write in the driver's registry. Its own state the driver publishes and never
// takes back; commands and the presence record are the peers' to send; settings are taken
// when every field is in range (protocol/record_ranges.h).
//
//   Driver DoStop, DoReset         Take      commands (DoReset: the driver's hello answer;
//                                            a peer's copy changes nothing it acts on)
//   Driver DoHeartBeat             Refuse    the driver's beat
//   Driver Config, State           Refuse    the driver's state; Delay and start_at_boot come
//                                            from DRIVER.INI alone
//   Store DoSave, DoLoad           Take      commands
//   Store State, Log State         Refuse    the driver's state
//   Log DoStop, DoRecord, DoPlay   Take      commands (nothing acts on them)
//   Comms ReqState                 Check     the Controller's sensor model (MuxSize), kvctl
//   Comms ActState, ActStatus      Refuse    the link in force; FramesLastPeriod paces the
//                                            pointer smoothing
//   Graph State0..3                Refuse    the driver's live signals
//   Split State, Sense State       Check     the Controller's model, sliders, auto adaption
//   Sense Status                   Refuse    the driver's signal level
//   Calib DoStart, DoStop          Take      the Controller's calibration dialog
//   Calib DoStartPlus              Refuse    no one sends it
//   Calib DoComplete               Acknowledge  raised by the driver, cleared by the Controller
//   Calib State                    Check     only the touch region (mode and bounds) is taken:
//                                            Active, Progress, Stage and Angle stay the
//                                            driver's
//   Calib Ref_TL, Ref_TR, Ref_BL   Refuse    the driver's calibration measurements
//   Edge State, Output State,      Check     the Advanced and Setting pages, kvctl
//   Output Pointer, Mouse Damp
//   Monitor Queue, Copyright State Refuse    the driver's pointer reports and texts
//   Client client                  Take      presence
//   END                            Refuse    the driver's end marker
constexpr std::array<PeerWrite, Registry::kEntries> kPeerWrites = [] {
    std::array<PeerWrite, Registry::kEntries> rules{};
    rules.fill(PeerWrite::Refuse);
    const std::pair<std::string_view, std::string_view> taken[] = {
        {"Driver", "DoStop"}, {"Driver", "DoReset"}, {"Store", "DoSave"}, {"Store", "DoLoad"},
        {"Log", "DoStop"},    {"Log", "DoRecord"},   {"Log", "DoPlay"},   {"Calib", "DoStart"},
        {"Calib", "DoStop"},  {"Client", "client"},
    };
    const std::pair<std::string_view, std::string_view> checked[] = {
        {"Comms", "ReqState"}, {"Split", "State"},  {"Sense", "State"},    {"Calib", "State"},
        {"Edge", "State"},     {"Output", "State"}, {"Output", "Pointer"}, {"Mouse", "Damp"},
    };
    for (const auto& [object, topic] : taken) {
        rules[static_cast<size_t>(Registry::IndexOf(object, topic))] = PeerWrite::Take;
    }
    for (const auto& [object, topic] : checked) {
        rules[static_cast<size_t>(Registry::IndexOf(object, topic))] = PeerWrite::Check;
    }
    rules[static_cast<size_t>(Registry::IndexOf("Calib", "DoComplete"))] = PeerWrite::Acknowledge;
    return rules;
}();

// A driver never answers another driver's frame: two of them (or one whose peer port is its
// own) would answer each other for ever.
bool FromADriver(const uint8_t* frame) {
    return wire::GetInt(frame + wire::kOffSender) == wire::kSenderDriver;
}

ProgramRole& ProcessRole() {
    static ProgramRole role = ProgramRole::Driver;
    return role;
}

}  // namespace

RoleTraits TraitsOf(ProgramRole role) {
    if (role == ProgramRole::Driver) {
        return {wire::kSenderDriver, "10.3.0"};
    }
    return {wire::kSenderController, "10.3.2"};
}

Registry& Registry::Instance() {
    static Registry registry(ProcessRole());
    return registry;
}

void Registry::SetProcessRole(ProgramRole role) {
    ProcessRole() = role;
}

Registry::Registry(ProgramRole role, const Clock& clock)
    : role_(role), traits_(TraitsOf(role)), clock_(clock), lastHeard_(clock.NowMs() - 50000) {
    // The order of kTableRows is the protocol: every address follows from it.
    DataManipulation* const records[kEntries] = {
        &driverDoStop,    &driverDoReset, &driverDoHeartBeat, &driverConfig,     &driverState,
        &storeDoSave,     &storeDoLoad,   &storeState,        &logDoStop,        &logDoRecord,
        &logDoPlay,       &logState,      &commsReqState,     &commsActState,    &commsActStatus,
        &graphState0,     &graphState1,   &graphState2,       &graphState3,      &splitState,
        &senseState,      &senseStatus,   &calibDoStart,      &calibDoStartPlus, &calibDoStop,
        &calibDoComplete, &calibState,    &calibRefTL,        &calibRefTR,       &calibRefBL,
        &edgeState,       &outputState,   &outputPointer,     &mouseDamp,        &monitorQueue,
        &copyrightState,  &clientClient,  &endMarker,
    };
    int32_t address = kFirstAddress;
    for (int i = 0; i < kEntries; ++i) {
        Register(i, *records[i], address);
    }
    unregistered.SetOwner(this);
}

void Registry::Register(int index, DataManipulation& record, int32_t& address) {
    const TableRow& row = kTableRows[static_cast<size_t>(index)];
    TableEntry& entry = table_[static_cast<size_t>(index)];
    entry.kind = row.kind;
    entry.object = row.object;
    entry.topic = row.topic;
    entry.tag = row.tag;
    entry.payloadPreset = row.preset;
    entry.record = &record;
    entry.address = address;
    entry.settable = row.settable;

    RecordHeader header;
    header.object = row.object;
    header.kind = row.kind;
    header.topic = row.topic;
    header.payloadSize = row.preset;
    header.tag = row.tag;
    header.settable = row.settable;
    record.SetHeader(header);
    record.SetAddress(address);
    record.SetRegistration(entry);
    record.SetOwner(this);

    address += record.PayloadSize() + 76;
}

const TableEntry* Registry::Find(std::string_view object, std::string_view topic) const {
    for (const TableEntry& entry : table_) {
        if (entry.object == object && entry.topic == topic) {
            return &entry;
        }
    }
    return nullptr;
}

const TableEntry* Registry::FindByAddress(int32_t address) const {
    for (const TableEntry& entry : table_) {
        if (entry.address == address) {
            return &entry;
        }
    }
    return nullptr;
}

DeliverResult Registry::Deliver(const uint8_t* buffer, int32_t start, int32_t validBytes) {
    DeliverResult result;
    if (buffer == nullptr || start < 0 || validBytes - start < wire::kOffAddress + 4) {
        return result;
    }
    const TableEntry* entry = FindByAddress(wire::GetInt(buffer + start + wire::kOffAddress));
    if (entry == nullptr) {
        return result;
    }
    const auto index = static_cast<size_t>(entry - table_.data());
    result.record = entry->record;
    if (role_ == ProgramRole::Driver && GuardedFromPeers(index)) {
        const PeerOutcome outcome = TakeFromPeer(index, buffer, start, validBytes);
        result.parsed = outcome == PeerOutcome::Taken;
        result.refused = outcome == PeerOutcome::Refused && !FromADriver(buffer + start);
    } else {
        entry->record->Attach(buffer, start + wire::kOffRemaining, validBytes);
        result.parsed = entry->record->Parse();
    }
    if (result.parsed) {
        arrivedIn_[index] = epoch_;
        ++arrivals_[index];
    }
    return result;
}

bool Registry::DriverTakesFromPeers(int index) {
    if (index < 0 || index >= kEntries) {
        return false;
    }
    const PeerWrite rule = kPeerWrites[static_cast<size_t>(index)];
    return rule == PeerWrite::Take || rule == PeerWrite::Check;
}

bool Registry::GuardedFromPeers(size_t index) {
    return kPeerWrites[index] != PeerWrite::Take;
}

Registry::PeerOutcome Registry::TakeFromPeer(size_t index, const uint8_t* buffer, int32_t start,
                                             int32_t validBytes) {
    DataManipulation& live = *table_[index].record;
    switch (kPeerWrites[index]) {
        case PeerWrite::Take:  // not guarded: never here
        case PeerWrite::Refuse:
            return PeerOutcome::Refused;
        case PeerWrite::Acknowledge: {
            SetValue& peer = scratch_.event;
            peer.Attach(buffer, start + wire::kOffRemaining, validBytes);
            if (!peer.Parse()) {
                return PeerOutcome::NotARecord;
            }
            if (peer.header.eventValid != 0) {
                return PeerOutcome::Refused;
            }
            live.Attach(buffer, start + wire::kOffRemaining, validBytes);
            return live.Parse() ? PeerOutcome::Taken : PeerOutcome::NotARecord;
        }
        case PeerWrite::Check:
            break;
    }
    if (&live == &commsReqState) {
        const PeerOutcome outcome =
            CommitInRange(commsReqState, scratch_.commsReqState, buffer, start, validBytes);
        if (outcome == PeerOutcome::Taken) {
            commsReqState.receivedPortIndex = scratch_.commsReqState.receivedPortIndex.Load();
        }
        return outcome;
    }
    if (&live == &splitState) {
        return CommitInRange(splitState, scratch_.splitState, buffer, start, validBytes);
    }
    if (&live == &senseState) {
        return CommitInRange(senseState, scratch_.senseState, buffer, start, validBytes);
    }
    if (&live == &edgeState) {
        return CommitInRange(edgeState, scratch_.edgeState, buffer, start, validBytes);
    }
    if (&live == &outputState) {
        return CommitInRange(outputState, scratch_.outputState, buffer, start, validBytes);
    }
    if (&live == &outputPointer) {
        return CommitInRange(outputPointer, scratch_.outputPointer, buffer, start, validBytes);
    }
    if (&live == &mouseDamp) {
        return CommitInRange(mouseDamp, scratch_.mouseDamp, buffer, start, validBytes);
    }
    // Calib State: the region only.
    CalibrationState& peer = scratch_.calibState;
    peer.Attach(buffer, start + wire::kOffRemaining, validBytes);
    if (!peer.Parse()) {
        return PeerOutcome::NotARecord;
    }
    if (!RegionInRange(peer)) {
        return PeerOutcome::Refused;
    }
    calibState.exclude_edge_flag = peer.exclude_edge_flag.Load();
    MoveBounds(calibState.exclude_edge_left, calibState.exclude_edge_right, peer.exclude_edge_left,
               peer.exclude_edge_right);
    MoveBounds(calibState.exclude_edge_top, calibState.exclude_edge_bottom, peer.exclude_edge_top,
               peer.exclude_edge_bottom);
    return PeerOutcome::Taken;
}

// The live record's header stays the driver's; only the payload fields are committed.
template <class R>
Registry::PeerOutcome Registry::CommitInRange(R& live, R& scratch, const uint8_t* buffer,
                                              int32_t start, int32_t validBytes) {
    scratch.Attach(buffer, start + wire::kOffRemaining, validBytes);
    if (!scratch.Parse()) {
        return PeerOutcome::NotARecord;
    }
    if (!InRange(scratch)) {
        return PeerOutcome::Refused;
    }
    FieldCopier::Copy(scratch, live);
    return PeerOutcome::Taken;
}

bool Registry::Arrived(int index) const {
    return index >= 0 && index < kEntries && arrivedIn_[static_cast<size_t>(index)] == epoch_;
}

uint32_t Registry::Arrivals(int index) const {
    return index >= 0 && index < kEntries ? arrivals_[static_cast<size_t>(index)].Load() : 0u;
}

bool Registry::Arrived(const DataManipulation& record) const {
    return Arrived(IndexOf(record));
}

int Registry::IndexOf(const DataManipulation& record) const {
    for (int i = 0; i < kEntries; ++i) {
        if (table_[static_cast<size_t>(i)].record == &record) {
            return i;
        }
    }
    return -1;
}

void Registry::PublishAll() {
    for (const TableEntry& entry : table_) {
        entry.record->Send();
        clock_.SleepMs(kPublishAllGapMs);
    }
}

void Registry::MarkPeerHeard() {
    lastHeard_ = clock_.NowMs();
}

int32_t Registry::Transmit(const uint8_t* frame, size_t length) {
    Transport* transport = transport_;
    if (transport == nullptr) {
        return 0;
    }
    return transport->Send(frame, length);
}

// The driver publishes only while the controller has been heard within the last 5000 ms and
// otherwise reports how long it has been silent; the controller always sends.
int32_t Registry::PublishRecord(DataManipulation& record) {
    if (role_ == ProgramRole::Driver) {
        const int64_t silence = SilenceMs();
        if (silence >= kPeerSilenceMs) {
            // Silent again: the next datagram must bring a full publish-all.
            if (Transport* transport = transport_; transport != nullptr) {
                transport->OnPeersSilent();
            }
            return static_cast<int32_t>(silence > INT32_MAX ? INT32_MAX : silence);
        }
    }
    record.Send();
    return 0;
}

}  // namespace kv
