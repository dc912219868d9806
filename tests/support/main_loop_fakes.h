// Fakes for the ports the main loop drives: a frame processor that keeps the last frame and counts
// the calls, a calibration hook and a settings store that count theirs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "driver/core/frame_processor.h"
#include "driver/core/settings_store.h"
#include "protocol/registry.h"

namespace kv::test {

class RecordingFrameProcessor final : public FrameProcessor {
public:
    void ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) override {
        ++frames;
        lastMux = muxSize;
        lastAvailable = available;
        for (size_t i = 0; i < lastSamples.size() && i < available; ++i) {
            lastSamples[i] = samples[i];
        }
    }
    void MaintainHistories() override { ++maintenance; }
    void LiftTouches() override { ++lifts; }
    void SetGestureLimits(int32_t first, int32_t second) override {
        firstLimit = first;
        secondLimit = second;
    }

    int frames = 0;
    int32_t lastMux = -1;
    size_t lastAvailable = 0;
    std::array<uint8_t, 128> lastSamples{};  // samples 1..128
    int maintenance = 0;
    int lifts = 0;
    int32_t firstLimit = -1;
    int32_t secondLimit = -1;
};

class CountingCalibration final : public CalibrationHook {
public:
    void ComputeTransform() override { ++computed; }
    int computed = 0;
};

class CountingSettings final : public SettingsStore {
public:
    void Load(Registry&) override { ++loads; }
    bool Save(const Registry&) override {
        ++saves;
        if (onSave) {
            onSave();
        }
        return true;
    }
    int loads = 0;
    int saves = 0;
    std::function<void()> onSave;  // what arrives while the file is written
};

}  // namespace kv::test
