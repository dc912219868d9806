// Helpers for the driver runtime tests: a settable clock, a transport that keeps what it is
// given, an engine and a settings store that record their calls, and commands delivered the
// way the controller sends them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "driver/app/settings_file.h"
#include "driver/core/frame_engine.h"
#include "messaging/clock.h"
#include "messaging/registry.h"
#include "messaging/transport.h"
#include "messaging/wire.h"

namespace kv::test {

using Bytes = std::vector<uint8_t>;

// Time stands still until a test moves it; sleeping moves it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(int64_t start = 1'000'000) : now_(start) {}
    int64_t NowMs() const override { return now_; }
    void SleepMs(int ms) const override {
        now_ += ms;
        slept_ += ms;
    }
    void Advance(int64_t ms) { now_ += ms; }
    int64_t Slept() const { return slept_; }

private:
    mutable int64_t now_;
    mutable int64_t slept_ = 0;
};

class RecordingTransport final : public Transport {
public:
    int32_t Send(const uint8_t* bytes, size_t length) override {
        sent.emplace_back(bytes, bytes + length);
        return static_cast<int32_t>(length);
    }
    // Record addresses of the frames sent, in order.
    std::vector<int32_t> Addresses() const {
        std::vector<int32_t> addresses;
        for (const Bytes& frame : sent) {
            addresses.push_back(wire::GetInt(frame.data() + wire::kOffAddress));
        }
        return addresses;
    }
    std::vector<Bytes> sent;
};

class RecordingEngine final : public FrameEngine {
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
    void SetGestureLimits(int32_t first, int32_t second) override {
        firstLimit = first;
        secondLimit = second;
    }

    int frames = 0;
    int32_t lastMux = -1;
    size_t lastAvailable = 0;
    std::array<uint8_t, 128> lastSamples{};  // samples 1..128
    int maintenance = 0;
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
        return true;
    }
    int loads = 0;
    int saves = 0;
};

// The controller's side of a counted event: raised on a controller registry and the frame it
// sends delivered to the driver's registry, as the transport would.
class ControllerSide {
public:
    ControllerSide() : registry(ProgramRole::Controller) { registry.SetTransport(&transport); }

    // Raises the event named by object and topic and returns the frame the controller sends.
    Bytes Raise(const char* object, const char* topic) {
        const TableEntry* entry = registry.Find(object, topic);
        static_cast<SetValue*>(entry->record)->RaiseCounted();
        return transport.sent.back();
    }
    void RaiseInto(Registry& driver, const char* object, const char* topic) {
        const Bytes frame = Raise(object, topic);
        driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    }

    Registry registry;
    RecordingTransport transport;
};

}  // namespace kv::test
