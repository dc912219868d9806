// A model of the foil and its controller board: electrode readings with rest counts, drift,
// noise and fingers, packed into HID input reports exactly as the board sends them.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "driver/sim/scenario.h"
#include "protocol/sensor_layout.h"

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
        double size = 0.0;  // its own width (pitches); 0: the profile's
        size_t table = 0;   // finger profile: the contact table for its size
        double X(double t) const;
        double Y(double t) const;
    };
    static constexpr int kFingers = 16;

    // The finger profile sampled at distances d = edge + scale sinh(s) for s in equal steps
    // from d = 0: finest at the contact's edge, where it changes fastest (over the cover's
    // thickness), coarse in the long tail.
    struct ContactTable {
        double size = 0.0;  // contact diameter it was made for; 0: not made
        double edge = 0.0;
        double scale = 1.0;
        double start = 0.0;  // s at d = 0
        double step = 1.0;
    };
    static constexpr size_t kContactSteps = 2048;

    void Restart();
    void Apply(const ScenarioEvent& event);
    void MakeContactTable(size_t slot, double size);
    double Profile(const Finger& finger, double distance) const;

    Scenario scenario_;
    bool ownLayout_ = false;
    SensorLayout layout_;
    std::mt19937 random_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    std::array<double, kMaxSamples> restX_{}, restY_{};
    std::array<double, kMaxSamples> driftPeriodX_{}, driftPeriodY_{};
    std::array<double, kMaxSamples> driftPhaseX_{}, driftPhaseY_{};
    std::array<Finger, kFingers> fingers_{};

    // The foil model. Its random values come from a generator of their own, drawn only when a
    // setting asks for them, so that a scenario without it renders as it always did.
    std::mt19937 extra_;
    std::normal_distribution<double> extraNoise_{0.0, 1.0};
    std::array<std::array<double, kMaxSamples>, 2> gain_{};        // on the finger signal
    std::array<std::array<double, kMaxSamples>, 2> riseFactor_{};  // of the scenario's rise
    std::array<std::array<bool, kMaxSamples>, 2> dead_{};
    std::array<std::array<double, kMaxSamples>, 2> extraSigma_{};  // noisy electrodes
    std::array<double, 2> humPhase_{};
    // Slot 0: the scenario's contact size; slot 1 + f: finger f's own size. Made at
    // construction (and for a new size when a finger is placed), never per frame.
    std::array<ContactTable, kFingers + 1> contactTables_{};
    std::vector<double> contactValues_;
    size_t nextEvent_ = 0;
    double now_ = 0.0;       // scenario time since start
    double loopBase_ = 0.0;  // start of the current pass when looping
    bool attached_ = true;
    bool ended_ = false;
    double stall_ = 0.0;  // seconds of stall not yet served
};

}  // namespace kv::sim
