// Contact reports written on a thread of their own, so that a device slow to take them never
// holds up the main loop.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "driver/core/touch_endpoint.h"

namespace kv {

class QueuedTouchEndpoint final : public TouchEndpoint {
public:
    // Reports waiting beyond this many drop the oldest: the newest say where the fingers are.
    // Room for well over settle time's worth of two-finger reports at any frame rate.
    static constexpr size_t kMaxQueued = 256;
    // Longest report kept; longer ones are cut (contact reports are 30 bytes).
    static constexpr size_t kMaxReportBytes = 64;

    // Takes an endpoint that is already open; its writes happen on the writer thread only.
    // settleMs holds back the first write: an input device that has just been created is
    // opened by its readers (the desktop, through udev) a moment later, and events written
    // before that are lost, the first touch's landing with them.
    explicit QueuedTouchEndpoint(std::unique_ptr<TouchEndpoint> endpoint, int settleMs = 0,
                                 const Clock& clock = DefaultClock());
    // Drops what is still queued, waits for a write in progress and ends the thread.
    ~QueuedTouchEndpoint() override;
    QueuedTouchEndpoint(const QueuedTouchEndpoint&) = delete;
    QueuedTouchEndpoint& operator=(const QueuedTouchEndpoint&) = delete;

    // The endpoint was opened before it was handed over.
    bool Open() override { return true; }
    // Queues a copy of the report and returns at once.
    void Write(const uint8_t* report, size_t length) override;

private:
    struct Report {
        std::array<uint8_t, kMaxReportBytes> bytes{};
        size_t length = 0;
    };

    void WriteQueued();

    std::unique_ptr<TouchEndpoint> endpoint_;
    const int settleMs_;
    const Clock& clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::array<Report, kMaxQueued> ring_{};
    size_t first_ = 0;
    size_t count_ = 0;
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace kv
