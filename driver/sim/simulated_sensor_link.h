// The simulated board behind the driver's sensor link interface, so the driver's own
// acquisition and decoding run unchanged without hardware.
#pragma once

#include <functional>
#include <memory>

#include "common/clock.h"
#include "driver/core/sensor_link.h"
#include "driver/sim/live_scenario_input.h"
#include "driver/sim/simulated_board.h"

namespace kv::sim {

class SimulatedSensorLink final : public SensorLink {
public:
    // paced: frames come at the scenario's rate in real time; otherwise as fast as they are
    // read, on a virtual time line. layoutSource gives the driver's current split settings
    // and mux size, for scenarios without a layout of their own.
    SimulatedSensorLink(const Scenario& scenario, const Clock& clock, bool paced,
                        std::function<SensorLayout()> layoutSource);

    bool Open() override;
    bool Alive() override;
    int32_t Read(uint8_t* dest, size_t capacity) override;
    void Close() override { open_ = false; }

    size_t LastDelivered() const override { return delivered_; }
    // Scenario time in seconds.
    double Now() const;
    SimulatedBoard& Board() { return board_; }
    // Lines written live act on the board as well, on top of the scenario.
    void SetLiveInput(std::unique_ptr<LiveScenarioInput> live) { live_ = std::move(live); }

    ~SimulatedSensorLink() override;

private:
    void NextFrame();
    // Blocks for a stall the scenario asked for (on the unpaced time line: moves it on).
    void Stall();
    // The scenario and the live lines that are due by t; whether the board is attached then.
    bool AdvanceTo(double t);

    SimulatedBoard board_;
    const Clock& clock_;
    bool paced_;
    std::function<SensorLayout()> layoutSource_;
    int64_t startMs_;
    double virtualTime_ = 0.0;  // unpaced time line
    int64_t frameIndex_ = 0;
    double frameBase_ = 0.0;  // time of frame 0 of the current streaming run
    FrameReports pending_;
    int32_t nextReport_ = 0;
    bool open_ = false;
    size_t delivered_ = 0;
    std::unique_ptr<LiveScenarioInput> live_;
};

}  // namespace kv::sim
