// The writer thread of the virtual touch device.
#include "driver/board/queued_touch_endpoint.h"

#include <algorithm>

namespace kv {

QueuedTouchEndpoint::QueuedTouchEndpoint(std::unique_ptr<TouchEndpoint> endpoint, int settleMs,
                                         const Clock& clock)
    : endpoint_(std::move(endpoint)),
      settleMs_(settleMs),
      clock_(clock),
      writer_([this] { WriteQueued(); }) {}

QueuedTouchEndpoint::~QueuedTouchEndpoint() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        count_ = 0;
    }
    wake_.notify_one();
    writer_.join();
}

void QueuedTouchEndpoint::Write(const uint8_t* report, size_t length) {
    if (report == nullptr) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == kMaxQueued) {
            first_ = (first_ + 1) % kMaxQueued;
            --count_;
        }
        Report& slot = ring_[(first_ + count_) % kMaxQueued];
        slot.length = std::min(length, kMaxReportBytes);
        std::copy_n(report, slot.length, slot.bytes.begin());
        ++count_;
    }
    wake_.notify_one();
}

void QueuedTouchEndpoint::WriteQueued() {
    if (settleMs_ > 0) {
        clock_.SleepMs(settleMs_);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || count_ > 0; });
        if (stopping_) {
            return;
        }
        const Report report = ring_[first_];
        first_ = (first_ + 1) % kMaxQueued;
        --count_;
        lock.unlock();
        if (endpoint_ != nullptr) {
            endpoint_->Write(report.bytes.data(), report.length);
        }
        lock.lock();
    }
}

}  // namespace kv
