// Wraps any sensor link and writes every input report it delivers, with its time, to a
// hid-recorder file that users can attach to a bug report and replay.
#pragma once

#include <string>

#include "common/clock.h"
#include "driver/core/sensor_link.h"
#include "driver/sim/hid_recording.h"

namespace kv::sim {

class RecordingSensorLink final : public SensorLink {
public:
    RecordingSensorLink(SensorLink& inner, const Clock& clock) : inner_(inner), clock_(clock) {}

    // Creates the file and writes its header (the sensor board's identity and descriptor);
    // false when the file cannot be created.
    bool Start(const std::string& path);

    bool Open() override { return inner_.Open(); }
    bool Alive() override { return inner_.Alive(); }
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override { inner_.Close(); }
    size_t LastDelivered() const override { return inner_.LastDelivered(); }

    // False once a write failed (disk full): the driver goes on, the recording is cut short.
    bool Healthy() const { return healthy_; }

private:
    SensorLink& inner_;
    const Clock& clock_;
    HidRecordingWriter writer_;
    int64_t startMs_ = 0;
    bool healthy_ = false;
};

}  // namespace kv::sim
