// The scripted sensor link.
#include "driver/sim/scripted_sensor_link.h"

#include <algorithm>
#include <cstring>

namespace kv {

ScriptedSensorLink::ScriptedSensorLink(const Clock& clock) : clock_(clock) {}

void ScriptedSensorLink::QueueReport(std::vector<uint8_t> report) {
    queue_.push_back(std::move(report));
}

void ScriptedSensorLink::StreamReport(std::vector<uint8_t> report, int periodMs) {
    stream_ = std::move(report);
    streamPeriodMs_ = periodMs;
    streaming_ = true;
}

void ScriptedSensorLink::StopStream() {
    streaming_ = false;
}

void ScriptedSensorLink::QueueOpenResults(std::initializer_list<bool> results) {
    openResults_.insert(openResults_.end(), results.begin(), results.end());
}

void ScriptedSensorLink::Unplug() {
    plugged_ = false;
    handleDead_ = true;
}

bool ScriptedSensorLink::Open() {
    ++openCalls_;
    Close();
    bool result = plugged_;
    if (!openResults_.empty()) {
        result = openResults_.front() && plugged_;
        openResults_.pop_front();
    }
    if (result) {
        handleOpen_ = true;
        handleDead_ = false;
        ++handles_;
    }
    return result;
}

bool ScriptedSensorLink::Alive() {
    return handleOpen_ && !handleDead_;
}

int32_t ScriptedSensorLink::Read(uint8_t* dest, size_t capacity) {
    ++reads_;
    delivered_ = 0;
    const int32_t result = reportLength_ - 1;
    if (!Alive() || reportLength_ <= 0) {
        return result;
    }
    const std::vector<uint8_t>* report = nullptr;
    if (!queue_.empty()) {
        report = &queue_.front();
    } else if (streaming_) {
        clock_.SleepMs(streamPeriodMs_);
        report = &stream_;
    } else {
        clock_.SleepMs(kReadTimeoutMs);  // a silent board: the wait ends, nothing arrives
        return result;
    }
    const size_t length = std::min({report->size(), capacity, static_cast<size_t>(reportLength_)});
    if (dest != nullptr && length > 0) {
        std::memcpy(dest, report->data(), length);
        delivered_ = length;
    }
    if (!queue_.empty()) {
        queue_.pop_front();
    }
    if (unplugAfter_ > 0 && --unplugAfter_ == 0) {
        Unplug();
        unplugAfter_ = -1;
    }
    return result;
}

void ScriptedSensorLink::Close() {
    if (handleOpen_) {
        handleOpen_ = false;
        --handles_;
    }
    handleDead_ = false;
}

}  // namespace kv
