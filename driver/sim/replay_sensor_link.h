// A recorded board played back behind the driver's sensor link interface.
#pragma once

#include "common/clock.h"
#include "driver/core/sensor_link.h"
#include "driver/sim/hid_recording.h"

namespace kv::sim {

class ReplaySensorLink final : public SensorLink {
public:
    // paced: reports come at their recorded times; otherwise as fast as they are read.
    ReplaySensorLink(HidRecording recording, const Clock& clock, bool paced);

    bool Open() override;
    bool Alive() override { return open_; }
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override { open_ = false; }

    size_t LastDelivered() const override { return delivered_; }
    // True once every recorded report has been delivered.
    bool Finished() const { return next_ >= recording_.events.size(); }
    // Reports that the descriptor numbers carry their ID in their first byte.
    bool Numbered() const { return numbered_; }

private:
    HidRecording recording_;
    const Clock& clock_;
    bool paced_;
    bool numbered_ = false;
    int32_t reportLength_ = 65;
    int64_t startMs_ = 0;
    size_t next_ = 0;
    bool open_ = false;
    bool started_ = false;
    size_t delivered_ = 0;
};

}  // namespace kv::sim
