// What the Controller has heard from the driver, and the changes that wait for it.
#include "controller/driver_view.h"

namespace kv::controller {

bool DriverView::Answering() const {
    return registry_.SilenceMs() < kPeerSilenceMs;
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

void DriverView::Change(DataManipulation& record, Apply apply, bool save) {
    const bool changed = apply();
    if (queue_.empty() && Knows(record)) {
        if (changed) {
            record.Publish();
            if (save) {
                registry_.storeDoSave.RaiseCounted();
            }
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
        const Pending pending = std::move(queue_.front());
        queue_.pop_front();
        // Onto the driver's copy: its other fields are kept as the driver has them.
        if (pending.apply()) {
            pending.record->Publish();
            save = save || pending.save;
        }
        waitingSince_ = registry_.GetClock().NowMs();
    }
    if (save) {
        registry_.storeDoSave.RaiseCounted();
    }
    const int64_t now = registry_.GetClock().NowMs();
    if (!queue_.empty() && hello_ && Answering() && now - waitingSince_ >= kDriverViewWaitMs &&
        now - lastHello_ >= kDriverViewHelloGapMs) {
        lastHello_ = now;
        hello_();
    }
}

}  // namespace kv::controller
