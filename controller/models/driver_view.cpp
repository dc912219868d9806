// What the Controller has heard from the driver, and the changes that wait for it.
#include "controller/models/driver_view.h"

#include <algorithm>
#include <vector>

namespace kv::controller {

bool DriverView::Answering() const {
    return registry_.SilenceMs() < kPeerSilenceMs;
}

std::optional<uint32_t> DriverView::ForeignHolder() const {
    if (!holder_ || Answering()) {
        return std::nullopt;
    }
    const int64_t now = registry_.GetClock().NowMs();
    if (now - holderAskedAt_ >= 1000) {
        holderAskedAt_ = now;
        foreignHolder_ = holder_();
    }
    return foreignHolder_;
}

DriverView::Link DriverView::BoardLink() const {
    if (!Answering()) {
        return Link::NoDriver;
    }
    if (!Knows(registry_.commsActStatus)) {
        return Link::Waiting;
    }
    return registry_.commsActStatus.Connected ? Link::Board : Link::NoBoard;
}

int DriverView::FramesPerSecond() const {
    // The driver counts frames over two-second periods.
    return registry_.commsActStatus.FramesLastPeriod / 2;
}

bool DriverView::Knows(const DataManipulation& record) const {
    return registry_.Arrived(record);
}

namespace {

std::vector<uint8_t> PayloadOf(DataManipulation& record) {
    std::vector<uint8_t> payload(static_cast<size_t>(record.PayloadSize()));
    record.WritePayload(payload.data());
    return payload;
}

}  // namespace

uint32_t DriverView::ArrivalsOf(const DataManipulation& record) const {
    return registry_.Arrivals(registry_.IndexOf(record));
}

bool DriverView::Send(Pending change) {
    change.record->Publish();
    const bool save = change.save;
    const uint32_t arrivals = ArrivalsOf(*change.record);
    recent_.push_back(
        {std::move(change), arrivals, registry_.GetClock().NowMs() + kDriverViewRecentMs});
    return save;
}

void DriverView::Change(DataManipulation& record, Apply apply, bool save) {
    const bool changed = apply();
    if (queue_.empty() && Knows(record)) {
        if (changed && Send({&record, std::move(apply), save})) {
            registry_.storeDoSave.RaiseCounted();
        }
        return;
    }
    if (queue_.empty()) {
        waitingSince_ = registry_.GetClock().NowMs();
    }
    queue_.push_back({&record, std::move(apply), save});
}

void DriverView::Poll() {
    bool save = false;
    while (!queue_.empty() && Knows(*queue_.front().record)) {
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        // Onto the driver's copy: its other fields are kept as the driver has them.
        if (pending.apply()) {
            save = Send(std::move(pending)) || save;
        }
        waitingSince_ = registry_.GetClock().NowMs();
    }
    const int64_t now = registry_.GetClock().NowMs();
    while (!recent_.empty() && recent_.front().until < now) {
        recent_.pop_front();
    }
    // A copy that left the driver before the change did has overwritten it here; the driver
    // itself has the change. Written again, the changes to one record in the order made, and
    // the record sent once if the copy said otherwise.
    std::vector<DataManipulation*> contradicted;
    for (Sent& sent : recent_) {
        DataManipulation& record = *sent.change.record;
        const uint32_t arrivals = ArrivalsOf(record);
        if (arrivals == sent.arrivals) {
            continue;
        }
        sent.arrivals = arrivals;
        const std::vector<uint8_t> arrived = PayloadOf(record);
        sent.change.apply();
        if (PayloadOf(record) != arrived) {
            save = save || sent.change.save;
            if (std::find(contradicted.begin(), contradicted.end(), &record) ==
                contradicted.end()) {
                contradicted.push_back(&record);
            }
        }
    }
    for (DataManipulation* record : contradicted) {
        record->Publish();
    }
    if (save) {
        registry_.storeDoSave.RaiseCounted();
    }
    if (!queue_.empty() && hello_ && Answering() && now - waitingSince_ >= kDriverViewWaitMs &&
        now - lastHello_ >= kDriverViewHelloGapMs) {
        lastHello_ = now;
        hello_();
    }
}

}  // namespace kv::controller
