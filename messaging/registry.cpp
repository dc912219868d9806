// Registration table, delivery, liveness and publish-all.
#include "messaging/registry.h"

namespace kv {

namespace {

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
    result.record = entry->record;
    entry->record->Attach(buffer, start + wire::kOffRemaining, validBytes);
    result.parsed = entry->record->Parse();
    if (result.parsed) {
        const auto index = static_cast<size_t>(entry - table_.data());
        arrivedIn_[index] = epoch_;
        ++arrivals_[index];
    }
    return result;
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
