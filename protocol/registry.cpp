// Registration table, delivery, liveness and publish-all.
#include "protocol/registry.h"

#include <type_traits>

#include "protocol/setting_fields.h"

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
    // The order of the list is the protocol: every address follows from it.
#define KV_RECORD_ADDRESS(kind, object, topic, tag, settable, preset, member, Class, peer) &member,
    DataManipulation* const records[kEntries] = {KV_RECORDS(KV_RECORD_ADDRESS)};
#undef KV_RECORD_ADDRESS
    int32_t address = kFirstAddress;
    for (int i = 0; i < kEntries; ++i) {
        Register(i, *records[i], address);
    }
    unregistered.SetOwner(this);
}

void Registry::Register(int index, DataManipulation& record, int32_t& address) {
    const TableRow& row = kTableRows[static_cast<size_t>(index)];
    TableEntry& entry = table_[static_cast<size_t>(index)];
    entry = {.kind = row.kind,
             .object = row.object,
             .topic = row.topic,
             .tag = row.tag,
             .payloadPreset = row.preset,
             .record = &record,
             .address = address,
             .settable = row.settable};
    record.SetHeader({.kind = row.kind,
                      .object = row.object,
                      .topic = row.topic,
                      .payloadSize = row.preset,
                      .tag = row.tag,
                      .settable = row.settable});
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
    const PeerWrite rule = kTableRows[static_cast<size_t>(index)].peer;
    return rule == PeerWrite::Take || rule == PeerWrite::Check;
}

bool Registry::GuardedFromPeers(size_t index) {
    return kTableRows[index].peer != PeerWrite::Take;
}

Registry::PeerOutcome Registry::TakeFromPeer(size_t index, const uint8_t* buffer, int32_t start,
                                             int32_t validBytes) {
    DataManipulation& live = *table_[index].record;
    switch (kTableRows[index].peer) {
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
#define KV_COMMIT(kind, object, topic, tag, settable, preset, member, Class, peer) \
    KV_COMMIT_##peer(member)
#define KV_COMMIT_Check(member)                                                          \
    if (&live == &member) {                                                              \
        return CommitInRange(index, member, scratch_.member, buffer, start, validBytes); \
    }
#define KV_COMMIT_Take(member)
#define KV_COMMIT_Refuse(member)
#define KV_COMMIT_Acknowledge(member)
    KV_RECORDS(KV_COMMIT)
#undef KV_COMMIT
#undef KV_COMMIT_Check
#undef KV_COMMIT_Take
#undef KV_COMMIT_Refuse
#undef KV_COMMIT_Acknowledge
    return PeerOutcome::Refused;
}

// The live record's header stays the driver's; only the payload fields are committed.
template <class R>
Registry::PeerOutcome Registry::CommitInRange(size_t index, R& live, R& scratch,
                                              const uint8_t* buffer, int32_t start,
                                              int32_t validBytes) {
    scratch.Attach(buffer, start + wire::kOffRemaining, validBytes);
    if (!scratch.Parse()) {
        return PeerOutcome::NotARecord;
    }
    if (!RecordInRange(scratch, static_cast<int>(index), true)) {
        return PeerOutcome::Refused;
    }
    if constexpr (std::is_same_v<R, CalibrationState>) {
        // The touch region only; the rest is the state of the calibration.
        live.exclude_edge_flag = scratch.exclude_edge_flag.Load();
        MoveBounds(live.exclude_edge_left, live.exclude_edge_right, scratch.exclude_edge_left,
                   scratch.exclude_edge_right);
        MoveBounds(live.exclude_edge_top, live.exclude_edge_bottom, scratch.exclude_edge_top,
                   scratch.exclude_edge_bottom);
    } else {
        FieldCopier::Copy(scratch, live);
    }
    if constexpr (std::is_same_v<R, CommState>) {
        live.receivedPortIndex = scratch.receivedPortIndex.Load();
    }
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
