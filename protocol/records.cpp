// Behaviour of the record classes beyond their field lists.
#include "protocol/records.h"

namespace kv {

bool SetValue::Parse() {
    const bool parsed = DataManipulation::Parse();
    if (parsed) {
        arrival = 1;
    }
    return parsed;
}

void SetValue::RaiseCounted() {
    header.eventValid = 1;
    // Wraps at the top instead of overflowing; only inequality of sequences matters.
    uint32_t next = static_cast<uint32_t>(header.sequence) + 1u;
    if (raisedAny_ && static_cast<int32_t>(next - lastRaised_) <= 0) {
        next = lastRaised_ + 1u;
    }
    raisedAny_ = true;
    lastRaised_ = next;
    header.sequence = static_cast<int32_t>(next);
    Publish();
}

bool SetValue::ConsumeCounted() {
    const int32_t sequence = header.sequence;
    if (header.eventValid == 0 || sequence == lastHandled) {
        return false;
    }
    lastHandled = sequence;
    return true;
}

void SetValue::RaiseAcknowledged() {
    header.eventValid = 1;
    Publish();
}

bool SetValue::ConsumeAcknowledged() {
    if (header.eventValid != 1) {
        return false;
    }
    header.eventValid = 0;
    Publish();
    return true;
}

int32_t DriverState::WritePayload(uint8_t* out) {
    PayloadWriter writer(out, kPayload);
    char onWire = State == '0' ? '0' : '1';
    writer.Size(receivedPayloadSize);
    writer.Char("State", onWire);
    return writer.Written();
}

void CommState::ReadPayload() {
    Record::ReadPayload();
    receivedPortIndex = PortIndex;
}

void CommState::Reset() {  // Open stays as it is
    PortIndex = 0;
    BaudIndex = 1;
    SampleIndex = 5;
    MuxSize = 64;
}

void SenceState::Reset() {
    CoarseRange = 20;
    TouchThreshold = 10;
    PressThreshold = 20;
    Advanced = false;
}

void DampSettings::Reset() {
    SnapRange = 0.1f;
    DampRange = 0.02f;
    DampPeriod = 0.2f;
    RightClickRange = 0.07f;
    RightClickPeriod = 2.0f;
}

void MonitorQueue::ReadPayload() {
    PayloadReader reader(*this);
    reader.Size(receivedPayloadSize);
    receivedIndex = ReadInt();
    const int32_t slot = (last + 1) % kEntries;
    entries[static_cast<size_t>(slot)].Fields(reader);
    last = slot;
}

int32_t MonitorQueue::WritePayload(uint8_t* out) {
    PayloadWriter writer(out, kPayload);
    int32_t index = header.tag;
    writer.Size(receivedPayloadSize);
    writer.Int("entry_index", index);
    // A tag outside the ring still names a real slot.
    const int32_t slot = ((index % kEntries) + kEntries) % kEntries;
    entries[static_cast<size_t>(slot)].Fields(writer);
    return writer.Written();
}

void MonitorQueue::VisitFields(FieldVisitor& visitor) {
    VisitorAdapter adapter(visitor);
    adapter.Size(receivedPayloadSize);
    adapter.Int("entry_index", receivedIndex);
    entries[static_cast<size_t>(static_cast<int32_t>(last))].Fields(adapter);
}

void MonitorQueue::Put(int32_t slot, const MonitorEntry& entry) {
    slot = static_cast<int32_t>(static_cast<uint32_t>(slot) % kEntries);
    entries[static_cast<size_t>(slot)] = entry;
    last = slot;
    header.tag = slot;
}

void CopyRight::Reset() {
    Lines[0] = "\n";
    Lines[1] = "Kelvarin Driver 10.3.0\n";
    Lines[2] = "Copyright (C) 2026 Kelvarin Vyren. All rights reserved.\n";
    for (int i = 3; i < 9; ++i) {
        Lines[static_cast<size_t>(i)] = "\n";
    }
    Lines[9] = "";
}

bool ClientHereMessage::Parse() {
    const bool parsed = DataManipulation::Parse();
    if (parsed && Owner() != nullptr) {
        Owner()->MarkPeerHeard();
    }
    return parsed;
}

}  // namespace kv
