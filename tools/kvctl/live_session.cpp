// kvctl's conversation with a running Driver, on kv::FrameCutter and kv::Registry.
#include "tools/kvctl/live_session.h"

#include <algorithm>

#include "protocol/wire.h"

namespace kv::kvctl {

namespace {

// The largest datagram the driver sends is one frame of Monitor/Queue; room for more.
constexpr size_t kReceiveBytes = FrameCutter::kCapacity;

// A publish-all takes 38 × 30 ms; beyond this the driver is talking but not answering.
constexpr int64_t kCollectLimitMs = 10000;
// A hello is one datagram and may be lost (a driver busy with a publish-all for someone else
// lets its socket fill up): until the answer begins, it is said again this often. The driver
// answers a run of hellos with one publish-all.
constexpr int64_t kHelloRepeatMs = 1000;

class SnapshotKeeper final : public FrameListener {
public:
    SnapshotKeeper(Snapshot* snapshot, FrameListener* next, EntrySet& seen)
        : snapshot_(snapshot), next_(next), seen_(seen) {}
    void OnFrame(int index, DataManipulation& record, const uint8_t* frame,
                 size_t length) override {
        seen_.set(static_cast<size_t>(index));
        if (snapshot_ != nullptr) {
            snapshot_->frames[static_cast<size_t>(index)].assign(frame, frame + length);
            snapshot_->seen.set(static_cast<size_t>(index));
        }
        if (next_ != nullptr) {
            next_->OnFrame(index, record, frame, length);
        }
    }

private:
    Snapshot* snapshot_;
    FrameListener* next_;
    EntrySet& seen_;
};

}  // namespace

LiveSession::LiveSession(DatagramLink& link, const Clock& clock)
    : link_(link),
      clock_(clock),
      registry_(std::make_unique<Registry>(ProgramRole::Controller, clock)),
      cutter_(std::make_unique<FrameCutter>()),
      receiveBuffer_(kReceiveBytes) {
    registry_->SetTransport(this);
}

LiveSession::~LiveSession() {
    registry_->SetTransport(nullptr);
}

void LiveSession::SayHello() {
    const auto hello = wire::HelloDatagram(registry_->SenderId());
    link_.Send(hello.data(), hello.size());
}

int32_t LiveSession::Send(const uint8_t* bytes, size_t length) {
    return link_.Send(bytes, length) ? static_cast<int32_t>(length) : 0;
}

bool LiveSession::Poll(int timeoutMs, FrameListener* listener) {
    const size_t received = link_.Receive(receiveBuffer_.data(), receiveBuffer_.size(), timeoutMs);
    if (received == 0) {
        return false;
    }
    listener_ = listener;
    cutter_->Append(receiveBuffer_.data(), received, *this);
    listener_ = nullptr;
    return true;
}

void LiveSession::OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) {
    const DeliverResult delivered = registry_->Deliver(buffer, start, validBytes);
    if (delivered.record == nullptr || listener_ == nullptr) {
        return;
    }
    const int index = IndexOf(*delivered.record);
    if (index < 0) {
        return;
    }
    // The cutter hands over only whole frames: the length word is within validBytes.
    const int32_t length = wire::GetInt(buffer + start + wire::kOffLength);
    const int32_t available = validBytes - start;
    listener_->OnFrame(index, *delivered.record, buffer + start,
                       static_cast<size_t>(std::min(length, available)));
}

int LiveSession::IndexOf(const DataManipulation& record) const {
    const auto& table = registry_->Table();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].record == &record) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CollectOutcome LiveSession::Collect(const EntrySet& wanted, int timeoutMs, Snapshot* snapshot,
                                    FrameListener* listener) {
    EntrySet seen;
    SnapshotKeeper keeper(snapshot, listener, seen);
    SayHello();
    bool answered = false;
    const int64_t begin = clock_.NowMs();
    int64_t lastHeard = begin;
    int64_t lastHello = begin;
    for (;;) {
        if ((seen & wanted) == wanted) {
            return CollectOutcome::Complete;
        }
        const int64_t now = clock_.NowMs();
        if (!answered && now - lastHello >= kHelloRepeatMs) {
            SayHello();
            lastHello = now;
        }
        const int64_t silence = now - lastHeard;
        if (silence >= timeoutMs) {
            return answered ? CollectOutcome::Incomplete : CollectOutcome::NoAnswer;
        }
        if (answered && now - begin >= kCollectLimitMs + timeoutMs) {
            return CollectOutcome::Incomplete;
        }
        if (Poll(static_cast<int>(std::min<int64_t>(timeoutMs - silence, 100)), &keeper)) {
            answered = true;
            lastHeard = clock_.NowMs();
        }
    }
}

}  // namespace kv::kvctl
