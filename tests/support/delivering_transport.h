// A transport that hands every frame straight to the other program's registry, as the network
// would, and keeps which record each frame reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/registry.h"
#include "protocol/transport.h"

namespace kv::test {

class DeliveringTransport final : public Transport {
public:
    explicit DeliveringTransport(Registry& peer) : peer_(peer) {}

    int32_t Send(const uint8_t* bytes, size_t length) override {
        const DeliverResult result = peer_.Deliver(bytes, 0, static_cast<int32_t>(length));
        delivered.push_back(result.record);
        received.push_back(Name(result.record));
        return static_cast<int32_t>(length);
    }
    // How many frames reached the record.
    int Count(const DataManipulation& record) const {
        int n = 0;
        for (const DataManipulation* r : delivered) {
            n += r == &record ? 1 : 0;
        }
        return n;
    }
    // "Object/Topic" of a record of the peer's registry, "other" for none.
    std::string Name(const DataManipulation* record) const {
        for (const TableEntry& entry : peer_.Table()) {
            if (entry.record == record) {
                return std::string(entry.object) + "/" + std::string(entry.topic);
            }
        }
        return "other";
    }

    std::vector<const DataManipulation*> delivered;  // the record each frame reached, in order
    std::vector<std::string> received;               // the same as "Object/Topic"

private:
    Registry& peer_;
};

// A publish-all without its pauses: every record of `from` delivered into `into`, whose peer
// counts as heard now. The Controller then knows each record as the driver's.
inline void DeliverAll(Registry& from, Registry& into) {
    std::vector<uint8_t> frame;
    for (const TableEntry& entry : from.Table()) {
        frame.resize(static_cast<size_t>(entry.record->FrameSize()));
        entry.record->WriteFrame(frame.data(), from.SenderId());
        into.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    }
    into.MarkPeerHeard();
}

}  // namespace kv::test
