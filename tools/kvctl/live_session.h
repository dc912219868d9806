// kvctl's conversation with a running Driver: the hello, the driver's publish-all collected
// into a registry of our own, and records and counted events sent back.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "protocol/frame_cutter.h"
#include "protocol/registry.h"
#include "protocol/transport.h"
#include "tools/kvctl/datagram_link.h"

namespace kv::kvctl {

using EntrySet = std::bitset<Registry::kEntries>;

// Every record frame, after it has been parsed into the session's registry.
class FrameListener {
public:
    virtual ~FrameListener() = default;
    // index is the record's table position (0..37); frame holds the whole frame.
    virtual void OnFrame(int index, DataManipulation& record, const uint8_t* frame,
                         size_t length) = 0;
};

enum class CollectOutcome {
    Complete,    // every wanted record arrived
    NoAnswer,    // nothing at all came from the driver within the time-out
    Incomplete,  // the driver answered but went quiet before sending all wanted records
};

// The last frame of every record seen while collecting.
struct Snapshot {
    std::array<std::vector<uint8_t>, Registry::kEntries> frames;
    EntrySet seen;
};

class LiveSession final : private Transport, private FrameSink {
public:
    // kvctl speaks as the Controller does (sender 1234), from its own registry.
    LiveSession(DatagramLink& link, const Clock& clock);
    ~LiveSession() override;
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // What the driver has told us so far; records sent through it go to the driver.
    Registry& Records() { return *registry_; }
    const Clock& GetClock() const { return clock_; }

    // Asks the driver for all its records (it answers with its publish-all).
    void SayHello();

    // Waits up to timeoutMs for one datagram and hands its record frames, parsed, to the
    // listener (may be null). True when a datagram from the driver arrived.
    bool Poll(int timeoutMs, FrameListener* listener);

    // Says hello and receives until every wanted record has arrived. timeoutMs bounds the wait
    // for the first answer and every silence after it. Frames are kept in the snapshot (if
    // given) and passed to the listener (if given).
    CollectOutcome Collect(const EntrySet& wanted, int timeoutMs, Snapshot* snapshot,
                           FrameListener* listener = nullptr);

    // The table position of a record of this registry, or -1.
    int IndexOf(const DataManipulation& record) const;

private:
    int32_t Send(const uint8_t* bytes, size_t length) override;
    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override;
    void OnHello() override {}

    DatagramLink& link_;
    const Clock& clock_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<FrameCutter> cutter_;
    std::vector<uint8_t> receiveBuffer_;
    FrameListener* listener_ = nullptr;
};

}  // namespace kv::kvctl
