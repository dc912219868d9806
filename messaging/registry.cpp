// Registration table, delivery, liveness and publish-all.
#include "messaging/registry.h"

namespace kv {

namespace {

ProgramRole& ProcessRole() {
    static ProgramRole role = ProgramRole::Driver;
    return role;
}

constexpr std::string_view kEvent = "EVENT";
constexpr std::string_view kObject = "OBJECT";
constexpr std::string_view kQueue = "QUEUE";
constexpr std::string_view kEnd = "END";

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
    int32_t address = kFirstAddress;
    int i = 0;
    // The order of this table is the protocol: every address follows from it.
    Register(i++, kEvent, "Driver", "DoStop", driverDoStop, 0, true, 0, address);
    Register(i++, kEvent, "Driver", "DoReset", driverDoReset, 0, true, 0, address);
    Register(i++, kEvent, "Driver", "DoHeartBeat", driverDoHeartBeat, 0, false, 0, address);
    Register(i++, kObject, "Driver", "Config", driverConfig, 1, false, 0, address);
    Register(i++, kObject, "Driver", "State", driverState, 0, false, 5, address);
    Register(i++, kEvent, "Store", "DoSave", storeDoSave, 0, true, 0, address);
    Register(i++, kEvent, "Store", "DoLoad", storeDoLoad, 0, true, 0, address);
    Register(i++, kObject, "Store", "State", storeState, 1, false, 0, address);
    Register(i++, kEvent, "Log", "DoStop", logDoStop, 0, true, 0, address);
    Register(i++, kEvent, "Log", "DoRecord", logDoRecord, 0, true, 0, address);
    Register(i++, kEvent, "Log", "DoPlay", logDoPlay, 0, true, 0, address);
    Register(i++, kObject, "Log", "State", logState, 1, false, 0, address);
    Register(i++, kObject, "Comms", "ReqState", commsReqState, 1, true, 0, address);
    Register(i++, kObject, "Comms", "ActState", commsActState, 1, false, 0, address);
    Register(i++, kObject, "Comms", "ActStatus", commsActStatus, 1, false, 0, address);
    Register(i++, kObject, "Graph", "State0", graphState0, 1, false, 0, address);
    Register(i++, kObject, "Graph", "State1", graphState1, 1, false, 0, address);
    Register(i++, kObject, "Graph", "State2", graphState2, 1, false, 0, address);
    Register(i++, kObject, "Graph", "State3", graphState3, 1, false, 0, address);
    Register(i++, kObject, "Split", "State", splitState, 1, false, 0, address);
    Register(i++, kObject, "Sense", "State", senseState, 1, true, 0, address);
    Register(i++, kObject, "Sense", "Status", senseStatus, 1, false, 0, address);
    Register(i++, kEvent, "Calib", "DoStart", calibDoStart, 0, true, 0, address);
    Register(i++, kEvent, "Calib", "DoStartPlus", calibDoStartPlus, 0, true, 0, address);
    Register(i++, kEvent, "Calib", "DoStop", calibDoStop, 0, true, 0, address);
    Register(i++, kEvent, "Calib", "DoComplete", calibDoComplete, 0, false, 0, address);
    Register(i++, kObject, "Calib", "State", calibState, 1, false, 0, address);
    Register(i++, kObject, "Calib", "Ref_TL", calibRefTL, 1, false, 0, address);
    Register(i++, kObject, "Calib", "Ref_TR", calibRefTR, 1, false, 0, address);
    Register(i++, kObject, "Calib", "Ref_BL", calibRefBL, 1, false, 0, address);
    Register(i++, kObject, "Edge", "State", edgeState, 1, true, 0, address);
    Register(i++, kObject, "Output", "State", outputState, 1, true, 0, address);
    Register(i++, kObject, "Output", "Pointer", outputPointer, 1, true, 0, address);
    Register(i++, kObject, "Mouse", "Damp", mouseDamp, 1, true, 0, address);
    Register(i++, kQueue, "Monitor", "Queue", monitorQueue, 1, false, 0, address);
    Register(i++, kObject, "Copyright", "State", copyrightState, 1, false, 0, address);
    Register(i++, kObject, "Client", "client", clientClient, 1, false, 0, address);
    Register(i++, kEnd, "", "", endMarker, 0, false, 0, address);
    unregistered.SetOwner(this);
}

void Registry::Register(int index, std::string_view kind, std::string_view object,
                        std::string_view topic, DataManipulation& record, int32_t tag,
                        bool settable, int32_t preset, int32_t& address) {
    TableEntry& entry = table_[static_cast<size_t>(index)];
    entry.kind = kind;
    entry.object = object;
    entry.topic = topic;
    entry.tag = tag;
    entry.payloadPreset = preset;
    entry.record = &record;
    entry.address = address;
    entry.settable = settable;

    RecordHeader header;
    header.object = object;
    header.kind = kind;
    header.topic = topic;
    header.payloadSize = preset;
    header.tag = tag;
    header.settable = settable;
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
    return result;
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
            return static_cast<int32_t>(silence > INT32_MAX ? INT32_MAX : silence);
        }
    }
    record.Send();
    return 0;
}

}  // namespace kv
