// Playback of a hid-recorder file as the sensor board.
#include "driver/sim/replay_sensor_link.h"

#include <algorithm>
#include <cstring>

#include "driver/core/report_descriptor.h"

namespace kv::sim {

ReplaySensorLink::ReplaySensorLink(HidRecording recording, const Clock& clock, bool paced)
    : recording_(std::move(recording)), clock_(clock), paced_(paced) {
    if (auto layout =
            ParseInputReports(recording_.descriptor.data(), recording_.descriptor.size())) {
        numbered_ = layout->numbered;
        if (layout->length > 0) {
            reportLength_ = layout->length;
        }
    }
}

bool ReplaySensorLink::Open() {
    open_ = true;
    if (!started_) {
        started_ = true;
        startMs_ = clock_.NowMs();
    }
    return true;
}

int32_t ReplaySensorLink::Read(uint8_t* dest, size_t capacity) {
    delivered_ = 0;
    if (!open_) {
        return -1;
    }
    if (Finished()) {
        // The board stays attached and silent after the recording: reads time out (also
        // when unpaced, so a finished replay does not spin).
        clock_.SleepMs(kReadTimeoutMs);
        return reportLength_ - 1;
    }
    const HidRecording::Event& event = recording_.events[next_++];
    if (paced_) {
        const int64_t wait = startMs_ + event.micros / 1000 - clock_.NowMs();
        if (wait > 0) {
            clock_.SleepMs(static_cast<int>(wait));
        }
    }
    // Unnumbered reports reach the driver with report ID 0 in front.
    size_t at = 0;
    if (!numbered_ && capacity > 0) {
        dest[at++] = 0;
    }
    const size_t n = std::min(event.data.size(), capacity - at);
    std::memcpy(dest + at, event.data.data(), n);
    delivered_ = at + n;
    return reportLength_ - 1;
}

}  // namespace kv::sim
