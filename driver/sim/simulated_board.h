// A model of the foil and its controller board: electrode readings with rest counts, drift,
// noise and fingers, packed into HID input reports exactly as the board sends them.
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include "driver/sim/scenario.h"
#include "messaging/sensor_layout.h"

namespace kv::sim {

constexpr int32_t kReportLength = 65;  // report ID 0 and 64 channel bytes
constexpr int32_t kMaxSamples = 256;

using Report = std::array<uint8_t, kReportLength>;

// The HID input reports that carry one frame: one report, or a sync report and two data
// reports for 128 channels.
struct FrameReports {
    std::array<Report, 3> reports{};
    int32_t count = 0;  // 0 when the board cannot send frames of this size
};

// Packs a frame (samples in the order the driver's splitter expects) into reports.
FrameReports PackFrame(int32_t muxSize, const uint8_t* samples);

class SimulatedBoard {
public:
    explicit SimulatedBoard(const Scenario& scenario);

    const Scenario& GetScenario() const { return scenario_; }
    // True when the scenario fixes the layout; otherwise the driver's settings decide it.
    bool HasOwnLayout() const { return ownLayout_; }
    const SensorLayout& Layout() const { return layout_; }
    void SetLayout(const SensorLayout& layout);

    // Advances the scenario to time t (seconds, never going back) and tells whether the
    // board is on the bus then.
    bool AdvanceTo(double t);
    // Applies an event now, whatever its time says: lines written to the board live.
    void ApplyNow(ScenarioEvent event);
    // The frame at the current time, in splitter order (Layout().muxSize samples).
    void Render(uint8_t* samples);
    // Advance and render, then pack: the reports the board sends for the frame at t.
    FrameReports FrameAt(double t);

    // The seconds of stall the scenario's stall lines have asked for since the last call; the
    // link blocks its read that long.
    double TakeStall();

    // The electrode readings before wrapping (for tests): X electrode k or Y electrode k.
    double Level(int axis, int32_t k) const;

private:
    struct Finger {
        bool present = false;
        double strength = 0.0;
        double fromX = 0.0, fromY = 0.0, toX = 0.0, toY = 0.0;
        double moveStart = 0.0, moveDuration = 0.0;
        double X(double t) const;
        double Y(double t) const;
    };
    static constexpr int kFingers = 16;

    void Restart();
    void Apply(const ScenarioEvent& event);
    double Profile(double distance) const;

    Scenario scenario_;
    bool ownLayout_ = false;
    SensorLayout layout_;
    std::mt19937 random_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    std::array<double, kMaxSamples> restX_{}, restY_{};
    std::array<double, kMaxSamples> driftPeriodX_{}, driftPeriodY_{};
    std::array<double, kMaxSamples> driftPhaseX_{}, driftPhaseY_{};
    std::array<Finger, kFingers> fingers_{};
    size_t nextEvent_ = 0;
    double now_ = 0.0;       // scenario time since start
    double loopBase_ = 0.0;  // start of the current pass when looping
    bool attached_ = true;
    bool ended_ = false;
    double stall_ = 0.0;  // seconds of stall not yet served
};

}  // namespace kv::sim
