// A sensor link driven by a script, for tests and for running the driver "with a board" on
// machines that have none: queued reports, a steady stream, open results, unplug and replug.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "common/clock.h"
#include "driver/core/sensor_link.h"

namespace kv {

class ScriptedSensorLink final : public SensorLink {
public:
    // Waits (read time-outs, stream period) go through the clock, so a fake clock makes them
    // instant.
    explicit ScriptedSensorLink(const Clock& clock);

    // Reports the next reads deliver, in order, each with its report ID at index 0.
    void QueueReport(std::vector<uint8_t> report);
    void ClearQueue() { queue_.clear(); }
    // Once the queue is empty every read delivers this report after periodMs; without a
    // stream such reads time out.
    void StreamReport(std::vector<uint8_t> report, int periodMs);
    void StopStream();
    // Results of the next opens, in order; after them an open succeeds while plugged.
    void QueueOpenResults(std::initializer_list<bool> results);
    // The input report length the board declares (65 by default; 0: no input reports).
    void SetReportLength(int32_t length) { reportLength_ = length; }
    // The board goes away: the open handle dies and opens fail until Replug.
    void Unplug();
    void Replug() { plugged_ = true; }
    // Unplugs the board once it has delivered this many more reports.
    void UnplugAfter(size_t reports) { unplugAfter_ = static_cast<int64_t>(reports); }

    int OpenHandles() const { return handles_; }
    int OpenCalls() const { return openCalls_; }
    int Reads() const { return reads_; }
    size_t QueuedReports() const { return queue_.size(); }

    bool Open() override;
    bool Alive() override;
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override;
    size_t LastDelivered() const override { return delivered_; }

private:
    size_t delivered_ = 0;
    const Clock& clock_;
    std::deque<std::vector<uint8_t>> queue_;
    std::vector<uint8_t> stream_;
    int streamPeriodMs_ = 0;
    bool streaming_ = false;
    std::deque<bool> openResults_;
    int32_t reportLength_ = 65;
    bool plugged_ = true;
    bool handleOpen_ = false;
    bool handleDead_ = false;
    int handles_ = 0;
    int openCalls_ = 0;
    int reads_ = 0;
    int64_t unplugAfter_ = -1;
};

}  // namespace kv
